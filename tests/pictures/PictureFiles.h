#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>
#include <QTemporaryDir>

// Pictures for the tests, made in code.

enum class TJpegColours { Rgb, Grey, Cmyk, Ycck };

struct TJpegOptions
{
    int quality = 90;
    TJpegColours colours = TJpegColours::Rgb;
    bool progressive = false;
    // Progressive only: one scan per AC coefficient and component, far more scans than a
    // real encoder writes.
    bool scanPerCoefficient = false;
};

// Encodes `image` with libjpeg. For CMYK and YCCK the image's red, green and blue become the
// inverted (APP14-marker style) C, M and Y channels with no black, so they decode back to the same colours.
QByteArray EncodeJpeg(const QImage& image, const TJpegOptions& options = {});
QByteArray EncodeBmp(const QImage& image);

// A picture with four coloured quarters (red, green, blue, white), easy to check after scaling.
QImage QuarterPicture(int width, int height);

// Sets the width and height in the frame header of a JPEG file.
QByteArray PatchJpegSize(QByteArray jpeg, int width, int height);
// The offset of the first byte of entropy-coded data (after the first SOS segment).
qsizetype JpegScanStart(const QByteArray& jpeg);

// The JPEG file `jpeg` with an EXIF block (APP1) right after its start marker whose second IFD holds
// `thumbnail` as the embedded JPEG thumbnail, laid out as cameras write it. `thumbnailIfdOffset`, when
// not 0, replaces the offset of that IFD (to make a damaged block).
QByteArray WithExifThumbnail(
    const QByteArray& jpeg, const QByteArray& thumbnail, quint32 thumbnailIfdOffset = 0);

// Writes `data` to `dir`/`name` and returns the full path.
QString WriteFile(const QTemporaryDir& dir, const QString& name, const QByteArray& data);

// The bmpsuite folder from MIRAVA_TESTDATA, or an empty string when it is not set.
QString BmpSuiteFolder();

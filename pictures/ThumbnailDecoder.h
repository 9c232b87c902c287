#pragma once

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>

// Thumbnails as a browser of photos makes them: the small JPEG that cameras and phones embed in the
// EXIF data of a photo is used when it is large enough and has the photo's shape; otherwise the photo
// itself is decoded at a reduced scale.

// The longest side, in pixels, that a thumbnail in the picture list needs.
constexpr int ListThumbnailSide = 100;
// How far the shape of an embedded thumbnail may differ from the photo's (as a fraction of the photo's
// width-to-height ratio) before it counts as letter-boxed or cropped and is not used.
constexpr double EmbeddedShapeTolerance = 0.02;

// The bytes of the JPEG thumbnail embedded in the EXIF block (APP1 "Exif") of a JPEG file, read with
// libexif; empty when the file has no EXIF block, when the block holds no JPEG thumbnail or when it is
// damaged. `head` is the start of the file; the EXIF block sits right behind the start marker.
QByteArray EmbeddedThumbnailData(const QByteArray& head);

// Whether an embedded thumbnail of size `thumbnail` may stand in for a photo of size `picture` drawn at
// size `needed`: it covers `needed` in both directions and has the photo's shape within the tolerance.
bool EmbeddedThumbnailFits(const QSize& thumbnail, const QSize& picture, const QSize& needed);

// The result of a thumbnail decode.
struct TThumbnail
{
    QImage Image; // RGB888, the picture scaled to fit the box, never enlarged
    QSize PictureSize; // the size of the picture in the file
    bool Embedded = false; // whether the EXIF thumbnail was used
};

// Decodes a thumbnail of the picture in `path` that fits `box` (scaled down keeping the aspect ratio,
// never enlarged). An embedded EXIF thumbnail is taken instead of the photo when it covers what the
// picture needs drawn inside `needed`; it is then scaled to fit `box` but not enlarged, so the image may be
// smaller than `box` allows. Throws TPictureError like LoadThumbnail; a damaged EXIF block or embedded
// thumbnail is passed over silently.
TThumbnail DecodeThumbnail(const QString& path, const QSize& box, const QSize& needed);

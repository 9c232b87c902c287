#pragma once

// Framing: how a picture becomes the network's SampleSize x SampleSize window.
//   corner  the top-left SampleSize x SampleSize pixels as they are, 255 outside the picture
//   fit     the whole picture scaled into the window keeping its aspect, 255 around it
//   face    the most confident face, aligned (eyes level at fixed places), scaled into the window and its
//           lighting normalised; the whole picture as "fit" when no face is found

#include "input/InputPattern.h"

#include <QByteArray>
#include <QImage>
#include <QPolygonF>
#include <QRectF>
#include <QSize>
#include <QString>
#include <QStringView>
#include <memory>
#include <optional>

class TFaceDetector;

enum class TFraming { Corner, Fit, Face };

// "corner", "fit", "face".
QString FramingName(TFraming framing);
// The framing of a name as FramingName gives it (letter case ignored, white space around it too).
std::optional<TFraming> FramingFromName(QStringView name);
// corner -> fit -> face -> corner.
TFraming NextFraming(TFraming framing);

// A picture framed: the pattern and what was sampled for it.
struct TFramedPicture
{
    TInputPattern Pattern; // SampleSize*SampleSize whole grey values 0..255, row order
    TFraming Framing = TFraming::Corner; // the framing asked for
    bool FaceFound = false; // "face": a face was found; without one the picture was fitted
    QSize PictureSize; // of the picture in the file
    // The part of the picture that became the window, in the picture's pixels: the top-left square for
    // "corner", the whole picture for "fit", the aligned square (turned with the face) for "face".
    QPolygonF Frame;
    QRectF FaceBox; // "face": the detector's box around the face, in the picture's pixels
    // What the status bar should say about this framing, or nothing: for example "No face found: the
    // whole picture is used".
    QString Note;
};

// The message when "face" finds no face.
QString NoFaceFoundNote();

// Frames pictures. One framer may be used from several threads at once.
class TFramer
{
public:
    // Without a detector, "face" uses the shared one of the process (made at its first use).
    explicit TFramer(std::shared_ptr<TFaceDetector> detector = nullptr);
    ~TFramer();

    // Frames a decoded picture.
    TFramedPicture Frame(const QImage& picture, TFraming framing) const;
    // Reads and frames a picture file; a large JPEG is decoded at a reduced scale where the framing allows.
    // Throws TPictureError like LoadPicture. The window and mirava-cli both frame files this way, so the
    // same file gives the same pattern in both.
    TFramedPicture FrameFile(const QString& path, TFraming framing) const;
    TFramedPicture FrameNativeFile(const QByteArray& nativePath, TFraming framing) const;

private:
    TFaceDetector& Detector() const;
    mutable std::shared_ptr<TFaceDetector> detector;
};

// The whole picture scaled into the window keeping its aspect (centred, 255 around it), grey (R+G+B) div 3.
TInputPattern SampleFit(const QImage& picture);

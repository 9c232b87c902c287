#pragma once

// Framing: how a picture becomes the network's SampleSize x SampleSize window.
//   corner  the top-left SampleSize x SampleSize pixels as they are, 255 outside the picture
//   fit     the whole picture scaled into the window keeping its aspect, 255 around it
//   face    the most confident face, aligned (eyes level at fixed places), scaled into the window and its
//           lighting normalised; the whole picture as "fit" when no face is found

#include "input/FaceAlignment.h"
#include "input/InputPattern.h"
#include "input/Lighting.h"

#include <QByteArray>
#include <QImage>
#include <QPointF>
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
    QPointF LeftEye, RightEye; // "face": the centres of the eyes, in the picture's pixels, when known
    // What the status bar should say about this framing, or nothing: for example "No face found: the
    // whole picture is used".
    QString Note;
};

// The message when "face" finds no face.
QString NoFaceFoundNote();

// How "face" frames a face.
struct TFramingOptions
{
    TLighting Lighting = TLighting::Bandpass;
    double FacePadding = DefaultFacePadding; // see FaceAlignment.h
    // The face's values, once lit, squeezed around the middle of the network's interval that holds mid-grey
    // by this factor: a quarter puts the whole range into about seven of the intervals, each then about
    // forty grey levels wide, so that the same feature under a little more or less light still falls in the
    // same interval. 1 leaves them as they are.
    double Contrast = 0.25;
};

// "face" scans a picture for faces at this size at most (its longer side), scaled down or decoded at a
// reduced scale when it is larger; the face's window is cut from that copy too.
constexpr int FaceScanSide = 1000;

// Frames pictures. One framer may be used from several threads at once.
class TFramer
{
public:
    // Without a detector, "face" uses the shared one of the process (SharedFaceDetector), which loads its
    // model at its first use: on the thread that frames the first face, or at Prepare.
    explicit TFramer(std::shared_ptr<TFaceDetector> detector = nullptr, TFramingOptions options = {});
    ~TFramer();

    const TFramingOptions& Options() const { return options; }
    // Loads the face detector's model now (it takes a second or two), on the calling thread: a worker's.
    void Prepare() const;

    // Frames a decoded picture.
    TFramedPicture Frame(const QImage& picture, TFraming framing) const;
    // Reads and frames a picture file; a large JPEG is decoded at a reduced scale where the framing allows
    // ("fit" and "face"; "face" then fits the picture exactly as "fit" does when it finds no face).
    // Throws TPictureError like LoadPicture. The window and mirava-cli both frame files this way, so the
    // same file gives the same pattern in both.
    TFramedPicture FrameFile(const QString& path, TFraming framing) const;
    TFramedPicture FrameNativeFile(const QByteArray& nativePath, TFraming framing) const;

private:
    TFramedPicture FrameFace(const QImage& picture, const QSize& pictureSize) const;
    TFramedPicture FrameJpegFile(const QByteArray& nativePath, const QString& name, TFraming framing) const;

    std::shared_ptr<TFaceDetector> detector; // never null
    TFramingOptions options;
};

// The whole picture scaled into the window keeping its aspect (centred, 255 around it), grey (R+G+B) div 3.
TInputPattern SampleFit(const QImage& picture);

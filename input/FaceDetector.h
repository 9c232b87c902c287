#pragma once

// Face finding for the "face" framing, behind a small interface in Qt types: the framer asks for the faces
// of a grey picture and for the eyes of one of them. The real detector is dlib's (MakeDlibFaceDetector);
// tests and the window may put a stand-in of a few lines in its place.
//
// Coordinates are those of the picture searched, as Qt counts them: pixel (x, y) covers x..x+1, y..y+1, so
// its centre is (x + 0.5, y + 0.5).

#include <QImage>
#include <QPointF>
#include <QRectF>
#include <QString>
#include <memory>
#include <optional>
#include <vector>

// A face found: its box and how sure the detector is of it.
struct TFaceBox
{
    QRectF Box;
    // Larger is surer; only comparisons between the faces of one detector mean something.
    double Confidence = 0;
};

// Where the features of one face are.
struct TFaceShape
{
    QPointF LeftEye; // the centre of the eye on the picture's left (the person's right eye)
    QPointF RightEye; // the centre of the eye on the picture's right
    // The 68 landmarks of dlib's face model when the detector has them (jaw 0-16, brows 17-26, nose 27-35,
    // the eye on the picture's left 36-41, the other eye 42-47, mouth 48-67); empty otherwise.
    std::vector<QPointF> Landmarks;
};

// Every method may be called from several threads at once.
class TFaceDetector
{
public:
    virtual ~TFaceDetector();

    // The faces in a grey picture (QImage::Format_Grayscale8), in any order (one face may come twice, found
    // at two scales); none when there is none.
    virtual std::vector<TFaceBox> Detect(const QImage& grey) const = 0;
    // The shape of the face in `box`, a box that Detect gave for the same picture; nothing when this
    // detector cannot tell where the eyes are.
    virtual std::optional<TFaceShape> Shape(const QImage& grey, const QRectF& box) const = 0;
    // Loads what the detector needs now, on the calling thread; without it the first Detect or Shape does.
    virtual void Prepare() const;
    // What the user should know about this detector (that it cannot tell where the eyes are, and why), given
    // once: the first call after it applies returns it, every later call nothing. Nothing by default.
    virtual QString TakeNote() const;
};

// dlib's 68-point landmark model where Debian's libdlib-data installs it.
QString DefaultLandmarkModelPath();

// dlib's frontal face detector (compiled in) with the landmark model in the file at `modelPath`. Both are
// made and loaded once, at the first Detect, Shape or Prepare. Without a readable model the detector still
// finds faces but no shapes, and its note names the file and what is wrong with it.
std::shared_ptr<TFaceDetector> MakeDlibFaceDetector(const QString& modelPath = DefaultLandmarkModelPath());

// The detector of the process (MakeDlibFaceDetector with the default model), made at the first call and
// shared by every framer made without a detector of its own.
std::shared_ptr<TFaceDetector> SharedFaceDetector();

#pragma once

// The window of the "face" framing: where it lies on a face, and its grey pixels cut out of the picture.
// An aligned window is turned with the face so that the eyes are level and land at fixed places. All
// coordinates are Qt's (pixel (x, y) covers x..x+1, y..y+1): the picture's pixels for the frame and the
// shape, the window's (0..SampleSize) for the eye places.

#include "input/FaceDetector.h"

#include <QImage>
#include <QPointF>
#include <QPolygonF>

// How much room the aligned window leaves around the face's features (eyes, nose and mouth), as a share of
// their span on every side: 0 frames the features tightly, 0.2 shows brow, cheeks and chin too. Tight
// windows recognise best: hair, ears and background change from picture to picture more than a face does.
constexpr double DefaultFacePadding = 0.05;

// Where the centres of the eyes land in an aligned window with this padding: the eye on the picture's left
// and the other one, on one level.
QPointF LeftEyePlace(double padding = DefaultFacePadding);
QPointF RightEyePlace(double padding = DefaultFacePadding);

// A window cut out of a grey picture.
struct TFaceWindow
{
    // SampleSize x SampleSize, QImage::Format_Grayscale8; 255 where the window reaches past the picture.
    QImage Grey;
    // The same size: 255 where the window shows the picture, 0 where it reaches past it.
    QImage Inside;
    // The window's corners in the picture: its top-left, top-right, bottom-right and bottom-left corner.
    QPolygonF Frame;
};

// Whether a shape can place a window: its points finite, its eyes at least a pixel apart.
bool CanAlign(const TFaceShape& shape);
// The window turned, scaled and placed so that the eyes land at their places. With the 68 landmarks it
// fits all of eyes, nose and mouth to dlib's mean face (dlib's get_face_chip_details); with the eyes alone
// it puts the two eyes exactly there. The shape must pass CanAlign.
TFaceWindow CutAlignedFace(const QImage& grey, const TFaceShape& shape, double padding = DefaultFacePadding);
// The square around the centre of a detector's box with the box's longer side, not turned.
TFaceWindow CutFaceBox(const QImage& grey, const QRectF& box);

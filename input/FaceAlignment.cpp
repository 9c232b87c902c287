#include "input/FaceAlignment.h"

#include "input/DlibImage.h"
#include "input/InputPattern.h"

#include <algorithm>
#include <cmath>
#include <dlib/image_processing/full_object_detection.h>
#include <dlib/image_transforms/interpolation.h>
#include <vector>

namespace {

// The mean centres of the eyes (each the mean of its six landmarks) of the mean face that
// get_face_chip_details fits a face to, in its units: the features span 0..1 across and down.
constexpr double TemplateLeftEyeX = 0.225492, TemplateRightEyeX = 0.754761, TemplateEyeY = 0.215990;

// Where a point of the mean face lands in the window, in the window's Qt coordinates (0..SampleSize): the
// features span 1 / (1 + 2 x padding) of the window, centred. get_face_chip_details places its window on the
// same terms (but for its window being a pixel narrower, which moves a point by well under a pixel).
QPointF TemplatePlace(double x, double y, double padding)
{
    return QPointF((padding + x) / (2 * padding + 1), (padding + y) / (2 * padding + 1)) * SampleSize;
}

const dlib::chip_dims WindowDims(SampleSize, SampleSize);

// The window whose centre lies at `centre` in the picture, one of its pixels `scale` pixels of the picture
// wide, turned by `angle` (radians, clockwise on the screen). dlib's rectangle runs from the centre of the
// window's first pixel to the centre of its last one.
dlib::chip_details WindowAt(const QPointF& centre, double scale, double angle)
{
    const dlib::dpoint middle = ToDlib(centre);
    const double reach = (SampleSize - 1) * scale / 2;
    return dlib::chip_details(
        dlib::drectangle(middle.x() - reach, middle.y() - reach, middle.x() + reach, middle.y() + reach),
        WindowDims, angle);
}

TFaceWindow Cut(const QImage& grey, const dlib::chip_details& details)
{
    const QImage picture
        = grey.format() == QImage::Format_Grayscale8 ? grey : grey.convertToFormat(QImage::Format_Grayscale8);
    dlib::array2d<unsigned char> chip;
    dlib::extract_image_chip(TDlibGreyView { &picture }, details, chip);
    const dlib::point_transform_affine toPicture = dlib::inv(dlib::get_mapping_to_chip(details));

    TFaceWindow window;
    window.Grey = QImage(SampleSize, SampleSize, QImage::Format_Grayscale8);
    window.Inside = QImage(SampleSize, SampleSize, QImage::Format_Grayscale8);
    const double right = picture.width() - 1, bottom = picture.height() - 1;
    for (int y = 0; y < SampleSize; ++y) {
        uchar* values = window.Grey.scanLine(y);
        uchar* inside = window.Inside.scanLine(y);
        for (int x = 0; x < SampleSize; ++x) {
            // dlib interpolates only between pixel centres; beyond them the window shows no picture.
            const dlib::dpoint p = toPicture(dlib::dpoint(x, y));
            const bool in = p.x() >= 0 && p.y() >= 0 && p.x() <= right && p.y() <= bottom && x < chip.nc()
                && y < chip.nr();
            values[x] = in ? chip[y][x] : 255;
            inside[x] = in ? 255 : 0;
        }
    }
    const double far = SampleSize - 0.5; // the window's corners, half a pixel beyond its pixel centres
    for (const dlib::dpoint& corner : { dlib::dpoint(-0.5, -0.5), dlib::dpoint(far, -0.5),
             dlib::dpoint(far, far), dlib::dpoint(-0.5, far) })
        window.Frame << FromDlib(toPicture(corner));
    return window;
}

} // namespace

bool CanAlign(const TFaceShape& shape)
{
    const auto finite = [](const QPointF& p) { return std::isfinite(p.x()) && std::isfinite(p.y()); };
    if (!finite(shape.LeftEye) || !finite(shape.RightEye)
        || !std::all_of(shape.Landmarks.begin(), shape.Landmarks.end(), finite))
        return false;
    if (shape.Landmarks.size() == 68) {
        const QPointF span = shape.Landmarks[45] - shape.Landmarks[36]; // the eyes' outer corners
        return std::hypot(span.x(), span.y()) >= 1;
    }
    const QPointF span = shape.RightEye - shape.LeftEye;
    return std::hypot(span.x(), span.y()) >= 1;
}

QPointF LeftEyePlace(double padding)
{
    padding = std::max(0.0, padding);
    return TemplatePlace(TemplateLeftEyeX, TemplateEyeY, padding);
}

QPointF RightEyePlace(double padding)
{
    padding = std::max(0.0, padding);
    return TemplatePlace(TemplateRightEyeX, TemplateEyeY, padding);
}

TFaceWindow CutAlignedFace(const QImage& grey, const TFaceShape& shape, double padding)
{
    padding = std::max(0.0, padding);
    if (shape.Landmarks.size() == 68) {
        std::vector<dlib::point> parts;
        for (const QPointF& point : shape.Landmarks)
            parts.push_back(dlib::point(ToDlib(point)));
        // The fit uses the landmarks alone; the rectangle plays no part in it.
        return Cut(grey,
            dlib::get_face_chip_details(
                dlib::full_object_detection(dlib::rectangle(), parts), SampleSize, padding));
    }
    // The turn, scale and shift that take the eyes' places in the window onto the eyes.
    const QPointF left = LeftEyePlace(padding), right = RightEyePlace(padding);
    const QPointF eyes = shape.RightEye - shape.LeftEye;
    const double scale = std::hypot(eyes.x(), eyes.y()) / (right.x() - left.x());
    const double angle = std::atan2(eyes.y(), eyes.x());
    const QPointF fromMiddle = QPointF(SampleSize / 2.0, SampleSize / 2.0) - (left + right) / 2;
    const QPointF turned(fromMiddle.x() * std::cos(angle) - fromMiddle.y() * std::sin(angle),
        fromMiddle.x() * std::sin(angle) + fromMiddle.y() * std::cos(angle));
    return Cut(grey, WindowAt((shape.LeftEye + shape.RightEye) / 2 + turned * scale, scale, angle));
}

TFaceWindow CutFaceBox(const QImage& grey, const QRectF& box)
{
    const double side = std::max({ box.width(), box.height(), 1.0 });
    return Cut(grey, WindowAt(box.center(), side / SampleSize, 0));
}

#pragma once

// A grey QImage as a dlib image, read in place (dlib's generic image interface), and the two ways of
// counting pixel positions: Qt puts pixel (x, y) at x..x+1, dlib at its centre (x, y).

#include <QImage>
#include <QPointF>
#include <dlib/geometry/vector.h>
#include <dlib/image_processing/generic_image.h>

// A read-only view of a QImage::Format_Grayscale8 picture; the picture must outlive it.
struct TDlibGreyView
{
    const QImage* Picture;
};

namespace dlib {
template <> struct image_traits<TDlibGreyView>
{
    typedef unsigned char pixel_type;
};
} // namespace dlib

inline long num_rows(const TDlibGreyView& view)
{
    return view.Picture->height();
}
inline long num_columns(const TDlibGreyView& view)
{
    return view.Picture->width();
}
inline const void* image_data(const TDlibGreyView& view)
{
    return view.Picture->constBits();
}
inline long width_step(const TDlibGreyView& view)
{
    return long(view.Picture->bytesPerLine());
}

inline dlib::dpoint ToDlib(const QPointF& point)
{
    return dlib::dpoint(point.x() - 0.5, point.y() - 0.5);
}

inline QPointF FromDlib(const dlib::dpoint& point)
{
    return QPointF(point.x() + 0.5, point.y() + 0.5);
}

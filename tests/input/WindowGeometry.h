#pragma once

// Where points of a picture land in the window a framing cut out of it.

#include "input/InputPattern.h"

#include <QPointF>
#include <QPolygonF>
#include <cmath>

// Where a point of the picture lies in the window whose corners are `frame` (top-left, top-right,
// bottom-right, bottom-left).
inline QPointF InWindow(const QPolygonF& frame, const QPointF& point)
{
    const QPointF across = frame[1] - frame[0], down = frame[3] - frame[0], offset = point - frame[0];
    return QPointF(QPointF::dotProduct(offset, across) / QPointF::dotProduct(across, across),
               QPointF::dotProduct(offset, down) / QPointF::dotProduct(down, down))
        * SampleSize;
}

inline double Distance(const QPointF& a, const QPointF& b)
{
    return std::hypot(a.x() - b.x(), a.y() - b.y());
}

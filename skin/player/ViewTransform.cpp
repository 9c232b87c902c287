#include "ViewTransform.h"

namespace Mrv {

QRectF TViewTransform::Fit(const QSizeF& size, const QRectF& area, TScaleMode mode)
{
    return TMovieDocument::Fit(size, area, mode);
}

void TViewTransform::SetMovie(const QRectF& box)
{
    viewBox = box;
    shown = QRectF();
}

bool TViewTransform::Zoom(int percent)
{
    if (percent < 0)
        return false;
    if (percent == 0) {
        ShowAll();
        return true;
    }
    const QRectF current = Shown();
    const QSizeF size = current.size() * (percent / 100.0);
    if (size.width() >= viewBox.width() && size.height() >= viewBox.height()) {
        ShowAll();
        return true;
    }
    shown = QRectF(current.center() - QPointF(size.width() / 2, size.height() / 2), size);
    KeepInside();
    return true;
}

bool TViewTransform::SetZoomRect(const QRectF& rect)
{
    const QRectF normal = rect.normalized();
    if (normal.isEmpty())
        return false;
    shown = normal.intersected(viewBox);
    if (shown.isEmpty() || shown == viewBox)
        shown = QRectF();
    return true;
}

bool TViewTransform::Pan(int x, int y, int mode, const QRectF& area, TScaleMode scaleMode)
{
    if (mode != 0 && mode != 1)
        return false;
    if (!Zoomed())
        return true;
    QPointF by;
    if (mode == 0) {
        const QRectF fitted = Fit(shown.size(), area, scaleMode);
        by = QPointF(x * shown.width() / fitted.width(), y * shown.height() / fitted.height());
    } else {
        by = QPointF(x * shown.width() / 100.0, y * shown.height() / 100.0);
    }
    shown.translate(by);
    KeepInside();
    return true;
}

void TViewTransform::KeepInside()
{
    if (shown.isNull())
        return;
    if (shown.width() > viewBox.width())
        shown.setWidth(viewBox.width());
    if (shown.height() > viewBox.height())
        shown.setHeight(viewBox.height());
    QPointF topLeft = shown.topLeft();
    topLeft.setX(std::clamp(topLeft.x(), viewBox.left(), viewBox.right() - shown.width()));
    topLeft.setY(std::clamp(topLeft.y(), viewBox.top(), viewBox.bottom() - shown.height()));
    shown.moveTopLeft(topLeft);
}

QTransform TViewTransform::View(const QRectF& area, TScaleMode mode) const
{
    if (!Zoomed() || viewBox.isEmpty())
        return {};
    const QRectF target = Target(area, mode);
    // The shown part as the unzoomed drawing places it, and where it should land.
    const double sx = target.width() / viewBox.width();
    const double sy = target.height() / viewBox.height();
    const QRectF from(target.left() + (shown.left() - viewBox.left()) * sx,
        target.top() + (shown.top() - viewBox.top()) * sy, shown.width() * sx, shown.height() * sy);
    const QRectF to = Fit(shown.size(), area, mode);
    QTransform view;
    view.translate(to.left(), to.top());
    view.scale(to.width() / from.width(), to.height() / from.height());
    view.translate(-from.left(), -from.top());
    return view;
}

QPointF TViewTransform::ToMovie(const QPointF& point, const QRectF& area, TScaleMode mode) const
{
    const QRectF target = Target(area, mode);
    if (target.isEmpty())
        return viewBox.topLeft();
    const QPointF unzoomed = View(area, mode).inverted().map(point);
    return QPointF(viewBox.left() + (unzoomed.x() - target.left()) * viewBox.width() / target.width(),
        viewBox.top() + (unzoomed.y() - target.top()) * viewBox.height() / target.height());
}

} // namespace Mrv

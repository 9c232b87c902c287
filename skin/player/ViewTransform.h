// What part of the movie is shown and where: the scale mode fits the movie's view box into the player's
// area, and zoom and pan choose a part of the movie to show instead of the whole. One transform serves
// drawing and hit testing alike, so a zoomed button is hit where it is drawn.
#pragma once

#include "MovieDocument.h"

#include <QRectF>
#include <QTransform>

namespace Mrv {

class TViewTransform
{
public:
    // Where a rectangle of the given size lands inside an area.
    static QRectF Fit(const QSizeF& size, const QRectF& area, TScaleMode mode);

    void SetMovie(const QRectF& viewBox);
    // The whole movie again.
    void ShowAll() { shown = QRectF(); }
    bool Zoomed() const { return !shown.isNull(); }
    // The part of the movie shown, in movie units.
    QRectF Shown() const { return shown.isNull() ? viewBox : shown; }
    // percent 0 shows the whole movie; otherwise the shown part becomes that percent of its size about its
    // centre (50 shows it twice as large), never more than the whole movie. False for a negative percent.
    bool Zoom(int percent);
    // Shows a rectangle of the movie (movie units); false when it is empty.
    bool SetZoomRect(const QRectF& rect);
    // Moves the shown part: mode 0 by pixels of the area, mode 1 by percent of the shown part's size. The
    // shown part stays inside the movie. False for an unknown mode.
    bool Pan(int x, int y, int mode, const QRectF& area, TScaleMode scaleMode);

    // The view box's place in the area without zoom: what the document draws onto.
    QRectF Target(const QRectF& area, TScaleMode mode) const { return Fit(viewBox.size(), area, mode); }
    // The transform, in the area's coordinates, that takes the unzoomed drawing to the zoomed one.
    QTransform View(const QRectF& area, TScaleMode mode) const;
    // A point of the area in movie units.
    QPointF ToMovie(const QPointF& point, const QRectF& area, TScaleMode mode) const;

private:
    void KeepInside();

    QRectF viewBox;
    QRectF shown; // null: the whole movie
};

} // namespace Mrv

#include "pictures/Image.h"

#include "pictures/PictureDecoder.h"

#include <QPainter>
#include <QPointer>

namespace {

QSize DrawnSize(const QSize& picture, const QSize& box, bool proportional, bool stretch)
{
    if (proportional)
        return FitProportional(picture, box, stretch);
    return stretch ? box : picture;
}

} // namespace

const QColor TImage::FrameColour(255, 0, 255);
const QColor TImage::BoxColour(255, 255, 0);

TImage::TImage(QWidget* parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_NoSystemBackground);
    setAutoFillBackground(false);
    // Two threads, so that a picture chosen after a slow one does not queue behind it.
    pool.setMaxThreadCount(2);
}

void TImage::LoadFromFile(const QString& path)
{
    QImage loaded = ::LoadPicture(path);
    Supersede();
    Take(std::move(loaded), QImage(), path);
}

void TImage::LoadFromFileLater(const QString& path)
{
    Supersede();
    loading = true;
    const quint64 load = generation;
    // The worker also scales the picture to the size it will be drawn at, so that the first paint of
    // a large picture does not scale it on the window's thread.
    QPointer<TImage> self(this);
    pool.start([self, load, path, proportional = proportional, stretch = stretch, box = size()] {
        QImage loaded;
        QImage shown;
        QString error;
        try {
            loaded = ::LoadPicture(path);
            const QSize drawn = DrawnSize(loaded.size(), box, proportional, stretch);
            if (drawn != loaded.size() && !drawn.isEmpty())
                shown = loaded.scaled(drawn, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        } catch (const std::bad_alloc&) {
            error = QStringLiteral("Cannot load picture \"%1\": not enough memory").arg(path);
        } catch (const std::exception& failure) {
            error = QString::fromUtf8(failure.what());
        }
        QMetaObject::invokeMethod(
            self.data(),
            [self, load, path, error, loaded = std::move(loaded), shown = std::move(shown)]() mutable {
                if (!self || self->generation != load)
                    return;
                self->loading = false;
                if (!error.isEmpty()) {
                    emit self->PictureLoadFailed(path, error);
                    return;
                }
                self->Take(std::move(loaded), std::move(shown), path);
                emit self->PictureLoaded(path);
            },
            Qt::QueuedConnection);
    });
}

void TImage::Supersede()
{
    ++generation;
    loading = false;
    // Loads not started yet are not needed any more.
    pool.clear();
}

void TImage::Take(QImage&& loaded, QImage&& shown, const QString& path)
{
    ClearMarks();
    picture = std::move(loaded);
    scaled = std::move(shown);
    kind = path.endsWith(QLatin1String(".jpg"), Qt::CaseInsensitive) ? TPictureKind::Jpeg
                                                                     : TPictureKind::Bitmap;
    update();
}

void TImage::SetPicture(const QImage& value)
{
    if (value.isNull()) {
        Clear();
        return;
    }
    Supersede();
    ClearMarks();
    picture = value.format() == QImage::Format_RGB888 ? value : value.convertToFormat(QImage::Format_RGB888);
    scaled = QImage();
    kind = TPictureKind::Bitmap;
    update();
}

void TImage::Clear()
{
    Supersede();
    ClearMarks();
    picture = QImage();
    scaled = QImage();
    kind = TPictureKind::None;
    update();
}

void TImage::SetProportional(bool value)
{
    proportional = value;
    update();
}

void TImage::SetStretch(bool value)
{
    stretch = value;
    update();
}

void TImage::SetCenter(bool value)
{
    center = value;
    update();
}

QRect TImage::DrawRect() const
{
    if (picture.isNull())
        return QRect();
    const QSize size = DrawnSize(picture.size(), this->size(), proportional, stretch);
    QPoint topLeft(0, 0);
    if (center)
        topLeft = QPoint((width() - size.width()) / 2, (height() - size.height()) / 2);
    return QRect(topLeft, size);
}

void TImage::SetMarks(const QPolygonF& frame, const QRectF& box, QSize pictureSize)
{
    if (pictureSize.isEmpty()) {
        ClearMarks();
        return;
    }
    markedFrame = frame;
    markedBox = box;
    markedSize = pictureSize;
    update();
}

void TImage::ClearMarks()
{
    if (markedSize.isEmpty())
        return;
    markedFrame.clear();
    markedBox = QRectF();
    markedSize = QSize();
    update();
}

QPointF TImage::Shown(QPointF point) const
{
    const QRect target = DrawRect();
    return QPointF(target.x() + point.x() * target.width() / markedSize.width(),
        target.y() + point.y() * target.height() / markedSize.height());
}

QPolygonF TImage::FrameShown() const
{
    QPolygonF shown;
    if (picture.isNull() || markedSize.isEmpty())
        return shown;
    for (const QPointF& point : markedFrame)
        shown << Shown(point);
    return shown;
}

QRectF TImage::BoxShown() const
{
    if (picture.isNull() || markedSize.isEmpty() || markedBox.isEmpty())
        return QRectF();
    return QRectF(Shown(markedBox.topLeft()), Shown(markedBox.bottomRight()));
}

void TImage::paintEvent(QPaintEvent*)
{
    if (picture.isNull())
        return;
    QPainter painter(this);
    const QRect target = DrawRect();
    if (target.size() == picture.size()) {
        painter.drawImage(target.topLeft(), picture);
    } else {
        // A large picture shown small is scaled once per size, not on every repaint.
        if (scaled.size() != target.size())
            scaled = picture.scaled(target.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        painter.drawImage(target.topLeft(), scaled);
    }
    // The marks in their pure colours (no smoothing), two pixels wide, so that they stand out from the
    // picture and can be found on a screenshot.
    const QPolygonF frame = FrameShown();
    if (frame.size() >= 2) {
        painter.setPen(QPen(FrameColour, 2, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
        painter.setBrush(Qt::NoBrush);
        painter.drawPolygon(frame);
    }
    const QRectF box = BoxShown();
    if (!box.isEmpty()) {
        painter.setPen(QPen(BoxColour, 2, Qt::DashLine, Qt::SquareCap, Qt::MiterJoin));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(box);
    }
}

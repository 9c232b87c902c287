#include "pictures/Image.h"

#include "pictures/PictureDecoder.h"

#include <QPainter>

TImage::TImage(QWidget* parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_NoSystemBackground);
    setAutoFillBackground(false);
}

void TImage::LoadFromFile(const QString& path)
{
    QImage loaded = ::LoadPicture(path);
    picture = std::move(loaded);
    scaled = QImage();
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
    picture = value.format() == QImage::Format_RGB888 ? value : value.convertToFormat(QImage::Format_RGB888);
    scaled = QImage();
    kind = TPictureKind::Bitmap;
    update();
}

void TImage::Clear()
{
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
    QSize size = picture.size();
    if (proportional)
        size = FitProportional(size, this->size(), stretch);
    else if (stretch)
        size = this->size();
    QPoint topLeft(0, 0);
    if (center)
        topLeft = QPoint((width() - size.width()) / 2, (height() - size.height()) / 2);
    return QRect(topLeft, size);
}

void TImage::paintEvent(QPaintEvent*)
{
    if (picture.isNull())
        return;
    QPainter painter(this);
    const QRect target = DrawRect();
    if (target.size() == picture.size()) {
        painter.drawImage(target.topLeft(), picture);
        return;
    }
    // A large picture shown small is scaled once per size, not on every repaint.
    if (scaled.size() != target.size())
        scaled = picture.scaled(target.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    painter.drawImage(target.topLeft(), scaled);
}

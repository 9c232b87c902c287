#include "pictures/PicturList.h"

#include "pictures/PictureDecoder.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFileInfo>
#include <QMouseEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

// ---------------------------------------------------------------------------------------------
// TBild

TBild::TBild(QWidget* owner)
{
    Shadow = new QWidget(owner);
    Shadow->hide();
    Shadow->setGeometry(Border, Border, 100, 100);
    QPalette shadowPalette = Shadow->palette();
    shadowPalette.setColor(QPalette::Window, QColor(128, 128, 128));
    Shadow->setPalette(shadowPalette);
    Shadow->setAutoFillBackground(true);
    // Only the picture reacts to the mouse; shadow and caption keep the pointer to themselves.
    Shadow->setAttribute(Qt::WA_NoMousePropagation);

    Picture = new TMyImage(owner);
    Picture->hide();
    Picture->setGeometry(Border, Border, 100, 100);
    Picture->SetProportional(true);
    Picture->SetStretch(false);
    Picture->SetCenter(false);
    Picture->setCursor(Qt::PointingHandCursor);
    Picture->setMouseTracking(true);
    Picture->installEventFilter(this);

    NameLabel = new QLabel(owner);
    NameLabel->hide();
    NameLabel->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    NameLabel->setAttribute(Qt::WA_NoMousePropagation);
    PlaceLabel();

    Shadow->lower();
}

TBild::~TBild()
{
    delete Picture;
    delete Shadow;
    delete NameLabel;
}

void TBild::SetParent(QWidget* list)
{
    Parent = list;
    for (QWidget* control :
        { static_cast<QWidget*>(Shadow), static_cast<QWidget*>(Picture), static_cast<QWidget*>(NameLabel) }) {
        if (control->parentWidget() != list)
            control->setParent(list);
        control->show();
    }
    Shadow->lower();
}

void TBild::SetBorder(int value)
{
    Border = value;
    Picture->move(value, value);
    Shadow->move(value, value);
}

void TBild::SetCellWidth(int value)
{
    CellWidth = value;
    Picture->resize(value, Picture->height());
    Shadow->resize(value, Shadow->height());
}

void TBild::SetCellHeight(int value)
{
    CellHeight = value;
    Picture->resize(Picture->width(), value);
    Shadow->resize(Shadow->width(), value);
}

void TBild::SetCellTop(int value)
{
    CellTop = value;
    const int top = value + (CellHeight - Picture->height()) / 2 + Border;
    // A raised picture is put back to rest completely: its left edge as well, so that a later
    // lift starts from the rest place instead of drifting further up and left.
    if (Picture->x() != Shadow->x()) {
        const int left = CellLeft + (CellWidth - Picture->width()) / 2 + Border;
        Picture->move(left, top);
        Shadow->move(left, top);
    } else {
        Picture->move(Picture->x(), top);
        Shadow->move(Shadow->x(), top);
    }
    PlaceLabel();
}

void TBild::SetCellLeft(int value)
{
    CellLeft = value;
    const int left = value + (CellWidth - Picture->width()) / 2 + Border;
    if (Picture->y() != Shadow->y()) {
        const int top = CellTop + (CellHeight - Picture->height()) / 2 + Border;
        Picture->move(left, top);
        Shadow->move(left, top);
    } else {
        Picture->move(left, Picture->y());
        Shadow->move(left, Shadow->y());
    }
    PlaceLabel();
}

void TBild::SetCaptionGap(int value)
{
    CaptionGap = value;
    PlaceLabel();
}

void TBild::SetCaptionIndent(int value)
{
    CaptionIndent = value;
    PlaceLabel();
}

void TBild::PlaceLabel()
{
    NameLabel->setGeometry(
        CellLeft + CaptionIndent, CellTop + CellHeight + CaptionGap, CellWidth, CaptionHeight);
}

void TBild::SetHint(const QString& text)
{
    Hint = text;
    Picture->setToolTip(ShowHint ? Hint : QString());
}

void TBild::SetShowHint(bool value)
{
    ShowHint = value;
    Picture->setToolTip(ShowHint ? Hint : QString());
}

void TBild::LoadPicture(const QString& path)
{
    Shadow->lower();
    const int side = std::max(Picture->height(), Picture->width());
    // Only the header is read here; the pixels follow with DecodeThumbnail.
    const QSize size = ReadPictureSize(path);
    fileName = path;
    const double w = size.width(), h = size.height();
    // nearbyint rounds halves to the even neighbour in the default rounding mode. A very long or
    // tall picture keeps a control at least one pixel across, so that it can still be drawn.
    if (w > h)
        Picture->resize(side, std::max(1, int(std::nearbyint(side * h / w))));
    else
        Picture->resize(std::max(1, int(std::nearbyint(side * w / h))), side);
    Shadow->resize(Picture->size());
    pictureSize = size;
    Picture->Clear();
    broken = false;
    thumbnailPending = true;
}

bool TBild::DecodeThumbnail()
{
    if (!thumbnailPending)
        return !broken;
    thumbnailPending = false;
    try {
        Picture->SetPicture(LoadThumbnail(fileName, Picture->size()));
        broken = false;
        return true;
    } catch (const TPictureError& error) {
        ShowBroken(QString::fromUtf8(error.what()));
    } catch (const std::bad_alloc&) {
        ShowBroken(QStringLiteral("not enough memory"));
    } catch (const std::exception& error) {
        ShowBroken(QString::fromUtf8(error.what()));
    }
    return false;
}

void TBild::ShowBroken(const QString& reason)
{
    broken = true;
    QImage mark(Picture->size().expandedTo(QSize(1, 1)), QImage::Format_RGB888);
    mark.fill(QColor(235, 235, 235));
    QPainter painter(&mark);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(120, 120, 120), 1));
    painter.drawRect(mark.rect().adjusted(0, 0, -1, -1));
    const int side = std::min(mark.width(), mark.height()) / 3;
    const QRect cross(QPoint((mark.width() - side) / 2, (mark.height() - side) / 2), QSize(side, side));
    painter.setPen(QPen(QColor(200, 30, 30), std::max(2, side / 8)));
    painter.drawLine(cross.topLeft(), cross.bottomRight());
    painter.drawLine(cross.topRight(), cross.bottomLeft());
    painter.end();
    Picture->SetPicture(mark);
    Picture->setToolTip((ShowHint ? Hint + QLatin1Char('\n') : QString()) + reason);
}

bool TBild::IsAtRest() const
{
    return Shadow->y() == Picture->y();
}

bool TBild::IsRaised() const
{
    return Shadow->y() - Picture->y() == 2 * Border;
}

void TBild::LiftPicture()
{
    if (!IsAtRest())
        return;
    Shadow->lower();
    Picture->move(Picture->x() - Border, Picture->y() - Border);
    Shadow->move(Shadow->x() + Border, Shadow->y() + Border);
}

void TBild::LowerPicture()
{
    if (!IsRaised())
        return;
    Shadow->lower();
    Picture->move(Picture->x() + Border, Picture->y() + Border);
    Shadow->move(Shadow->x() - Border, Shadow->y() - Border);
}

void TBild::ResetHover()
{
    if (!Hot)
        return;
    Hot = false;
    LowerPicture();
}

void TBild::PictureMouseMove()
{
    if (Hot)
        return;
    Hot = true;
    LiftPicture();
}

void TBild::PictureMouseDown()
{
    LowerPicture();
}

void TBild::PictureMouseUp()
{
    LiftPicture();
}

void TBild::PictureClick()
{
    if (!OwnerList)
        return;
    OwnerList->SetSelectedIndex(Index);
    OwnerList->SelectionChanged();
}

bool TBild::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != Picture)
        return false;
    switch (event->type()) {
    case QEvent::MouseMove:
        PictureMouseMove();
        return true;
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        // The second press of a double click lowers the picture like any press, but its release
        // is not a click of its own: a double click selects once.
        if (mouse->button() == Qt::LeftButton)
            pressedLeft = event->type() == QEvent::MouseButtonPress;
        PictureMouseDown();
        return true;
    }
    case QEvent::MouseButtonRelease: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        // The position is read before the picture moves back up.
        const bool inside = Picture->rect().contains(mouse->position().toPoint());
        const bool click = mouse->button() == Qt::LeftButton && pressedLeft && inside;
        if (mouse->button() == Qt::LeftButton)
            pressedLeft = false;
        PictureMouseUp();
        if (click)
            PictureClick();
        return true;
    }
    default:
        return false;
    }
}

// ---------------------------------------------------------------------------------------------
// TPicturList

TPicturList::TPicturList(QWidget* parent)
    : QFrame(parent)
{
    ScrollPanel = new QWidget(this);
    ScrollPanel->setObjectName(QStringLiteral("ScrollPanel"));
    ScrollBar = new QScrollBar(Qt::Vertical, ScrollPanel);
    auto* layout = new QVBoxLayout(ScrollPanel);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(ScrollBar);
    connect(ScrollBar, &QScrollBar::valueChanged, this, [this](int position) {
        if (!arranging)
            ScrollBarScroll(position);
    });
    lastScrollPos = 0;
    ScrollPanel->hide();

    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setLineWidth(1);
    QPalette listPalette = palette();
    listPalette.setColor(QPalette::Window, listPalette.color(QPalette::HighlightedText));
    setPalette(listPalette);
    setAutoFillBackground(true);
    setMouseTracking(true);

    thumbnailTimer.setInterval(0);
    connect(&thumbnailTimer, &QTimer::timeout, this, [this] {
        if (!DecodeNextThumbnail())
            thumbnailTimer.stop();
    });
    PlaceScrollPanel();
}

TPicturList::~TPicturList()
{
    Clear();
}

TBild* TPicturList::Add(const QString& path)
{
    const int index = Count();
    auto* item = new TBild(this);
    try {
        item->SetParent(this);
        item->SetShowHint(showHint);
        item->OwnerList = this;
        item->SetIndex(index);
        item->SetHint(path);
        item->NameLabel->setText(QFileInfo(path).fileName());
        item->SetBorder(item->Border);
        item->SetFileName(path);
        item->SetCellWidth(itemWidth);
        item->SetCellHeight(itemHeight);
        item->SetCellTop(0);
        item->SetCellLeft(0);
        item->SetCaptionGap(item->CaptionGap);
        item->SetCaptionIndent(item->CaptionIndent);
        item->LoadPicture(path);
    } catch (...) {
        // Nothing of a picture that cannot be read stays on the list.
        delete item;
        throw;
    }
    items.append(item);
    ScrollPanel->raise();
    ScheduleThumbnails();
    return item;
}

TBild* TPicturList::Items(int index) const
{
    if (index < 0 || index >= Count())
        throw TListError(QStringLiteral("List index out of bounds (%1)").arg(index).toStdString());
    return items[index];
}

void TPicturList::Clear()
{
    thumbnailTimer.stop();
    for (TBild* item : std::as_const(items)) {
        try {
            delete item;
        } catch (...) { }
    }
    items.clear();
}

void TPicturList::FreeItems()
{
    Clear();
    items.squeeze();
}

void TPicturList::Arrange()
{
    const int count = Count();
    if (count < 1)
        return;
    const int listWidth = width();
    const int listHeight = height();
    // A list too narrow for one cell still shows one column.
    const int cols = std::max(1, (listWidth - 30) / (itemWidth + 10));
    int rows = count / cols;
    if (rows * cols < count)
        rows += 1;
    const int rowPitch = itemHeight + captionGap + 25;
    int margin = 5;
    arranging = true;
    if (qint64(rows) * rowPitch > listHeight) {
        ScrollPanel->show();
        margin = 25;
        ScrollBar->setMinimum(0);
        ScrollBar->setMaximum(rows * rowPitch - listHeight);
        ScrollBar->setSingleStep(rowPitch);
        ScrollBar->setPageStep(listHeight);
        const qint64 m = ScrollBar->maximum();
        pageSize = int(m * listHeight / (m + 2 * qint64(listHeight)));
        ScrollBar->setValue(0);
    } else {
        ScrollPanel->hide();
    }
    arranging = false;
    lastScrollPos = 0;
    const int columnPitch = (listWidth - 5 - margin) / cols;
    int index = 0;
    for (int row = 0; row < rows && index < count; ++row) {
        for (int col = 0; col < cols && index < count; ++col) {
            TBild* item = items[index];
            item->SetShowHint(showHint);
            item->SetCellTop(row * rowPitch + 10);
            item->SetCellLeft(col * columnPitch + 15);
            ++index;
        }
    }
    ScrollPanel->raise();
    ScheduleThumbnails();
}

void TPicturList::SelectionChanged() { }

void TPicturList::SetShowHint(bool value)
{
    showHint = value;
}

void TPicturList::ScrollBarScroll(int position)
{
    if (Count() <= 0)
        return;
    const int delta = position - lastScrollPos;
    for (TBild* item : std::as_const(items))
        item->SetCellTop(item->CellTop - delta);
    lastScrollPos = position;
    ScheduleThumbnails();
}

void TPicturList::ListMouseMove()
{
    for (TBild* item : std::as_const(items))
        item->ResetHover();
}

void TPicturList::ListResize()
{
    Arrange();
}

void TPicturList::PlaceScrollPanel()
{
    const QRect client = contentsRect();
    ScrollPanel->setGeometry(
        client.right() + 1 - ScrollPanelWidth, client.top(), ScrollPanelWidth, client.height());
}

void TPicturList::mouseMoveEvent(QMouseEvent* event)
{
    ListMouseMove();
    QFrame::mouseMoveEvent(event);
}

void TPicturList::resizeEvent(QResizeEvent* event)
{
    QFrame::resizeEvent(event);
    PlaceScrollPanel();
    ListResize();
}

void TPicturList::wheelEvent(QWheelEvent* event)
{
    if (ScrollPanel->isVisible())
        QCoreApplication::sendEvent(ScrollBar, event);
    else
        QFrame::wheelEvent(event);
}

bool TPicturList::IsOnScreen(const TBild* item) const
{
    return item->Picture->geometry().intersects(rect());
}

int TPicturList::PendingThumbnails() const
{
    return int(std::count_if(
        items.begin(), items.end(), [](const TBild* item) { return item->ThumbnailPending(); }));
}

bool TPicturList::DecodeNextThumbnail()
{
    TBild* next = nullptr;
    for (TBild* item : std::as_const(items)) {
        if (!item->ThumbnailPending())
            continue;
        if (IsOnScreen(item)) {
            next = item;
            break;
        }
        if (!next)
            next = item;
    }
    if (!next)
        return false;
    next->DecodeThumbnail();
    return true;
}

void TPicturList::FinishThumbnails()
{
    while (DecodeNextThumbnail()) { }
    thumbnailTimer.stop();
}

void TPicturList::ScheduleThumbnails()
{
    if (!thumbnailTimer.isActive() && std::any_of(items.begin(), items.end(), [](const TBild* item) {
            return item->ThumbnailPending();
        }))
        thumbnailTimer.start();
}

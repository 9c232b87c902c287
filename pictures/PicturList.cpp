#include "pictures/PicturList.h"

#include "pictures/FileName.h"
#include "pictures/PictureDecoder.h"
#include "pictures/ThumbnailLoader.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFileInfo>
#include <QMouseEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QTextDocument>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

// ---------------------------------------------------------------------------------------------
// TBild

TBild::TBild(QWidget* owner, bool withControls)
    : owner(owner)
    , pictureRect(Border, Border, 100, 100)
    , shadowRect(pictureRect)
{
    if (withControls)
        CreateControls();
}

TBild::~TBild()
{
    DestroyControls();
}

void TBild::CreateControls()
{
    if (Picture)
        return;
    QWidget* surface = Parent ? Parent : owner;
    Shadow = new QWidget(surface);
    Shadow->hide();
    QPalette shadowPalette = Shadow->palette();
    shadowPalette.setColor(QPalette::Window, QColor(128, 128, 128));
    Shadow->setPalette(shadowPalette);
    Shadow->setAutoFillBackground(true);
    // Only the picture reacts to the mouse; shadow and caption keep the pointer to themselves.
    Shadow->setAttribute(Qt::WA_NoMousePropagation);

    Picture = new TMyImage(surface);
    Picture->hide();
    Picture->SetProportional(true);
    Picture->SetStretch(false);
    Picture->SetCenter(false);
    Picture->setCursor(Qt::PointingHandCursor);
    Picture->setMouseTracking(true);
    Picture->installEventFilter(this);
    Picture->SetPicture(shown);
    UpdateToolTip();

    NameLabel = new QLabel(surface);
    NameLabel->hide();
    NameLabel->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    // File names are shown as they are, never as markup.
    NameLabel->setTextFormat(Qt::PlainText);
    NameLabel->setAttribute(Qt::WA_NoMousePropagation);
    captionWidth = -1;

    PlaceControls();
    if (controlsShown) {
        Shadow->show();
        Picture->show();
        NameLabel->show();
    }
    Shadow->lower();
}

void TBild::DestroyControls()
{
    delete Picture;
    delete Shadow;
    delete NameLabel;
    Picture = nullptr;
    Shadow = nullptr;
    NameLabel = nullptr;
    pressedLeft = false;
}

void TBild::PlaceControls()
{
    if (!Picture)
        return;
    Picture->setGeometry(pictureRect);
    Shadow->setGeometry(shadowRect);
    PlaceLabel();
}

void TBild::SetCaption(const QString& text)
{
    caption = text;
    captionWidth = -1;
    ShowCaption();
}

void TBild::ShowCaption()
{
    // Placing the label again at the same width (a scroll, say) keeps the text it has.
    if (!NameLabel || NameLabel->width() == captionWidth)
        return;
    captionWidth = NameLabel->width();
    // A name wider than its cell loses its middle to an ellipsis, so that its start and its extension stay
    // readable; the picture's tooltip holds the whole path.
    const QFontMetrics metrics = NameLabel->fontMetrics();
    const int width = NameLabel->width();
    NameLabel->setText(metrics.horizontalAdvance(caption) <= width
            ? caption
            : metrics.elidedText(caption, Qt::ElideMiddle, width));
}

void TBild::SetParent(QWidget* list)
{
    Parent = list;
    controlsShown = true;
    if (!Picture)
        return;
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
    pictureRect.moveTo(value, value);
    shadowRect.moveTo(value, value);
    PlaceControls();
}

void TBild::SetCellWidth(int value)
{
    CellWidth = value;
    pictureRect.setWidth(value);
    shadowRect.setWidth(value);
    PlaceControls();
}

void TBild::SetCellHeight(int value)
{
    CellHeight = value;
    pictureRect.setHeight(value);
    shadowRect.setHeight(value);
    PlaceControls();
}

void TBild::SetCellTop(int value)
{
    CellTop = value;
    const int top = value + (CellHeight - pictureRect.height()) / 2 + Border;
    // A raised picture is put back to rest completely: its left edge as well, so that a later
    // lift starts from the rest place instead of drifting further up and left.
    if (pictureRect.x() != shadowRect.x()) {
        const int left = CellLeft + (CellWidth - pictureRect.width()) / 2 + Border;
        pictureRect.moveTo(left, top);
        shadowRect.moveTo(left, top);
    } else {
        pictureRect.moveTop(top);
        shadowRect.moveTop(top);
    }
    PlaceControls();
}

void TBild::SetCellLeft(int value)
{
    CellLeft = value;
    const int left = value + (CellWidth - pictureRect.width()) / 2 + Border;
    if (pictureRect.y() != shadowRect.y()) {
        const int top = CellTop + (CellHeight - pictureRect.height()) / 2 + Border;
        pictureRect.moveTo(left, top);
        shadowRect.moveTo(left, top);
    } else {
        pictureRect.moveLeft(left);
        shadowRect.moveLeft(left);
    }
    PlaceControls();
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
    if (!NameLabel)
        return;
    NameLabel->setGeometry(
        CellLeft + CaptionIndent, CellTop + CellHeight + CaptionGap, CellWidth, CaptionHeight);
    ShowCaption();
}

void TBild::SetHint(const QString& text)
{
    Hint = text;
    UpdateToolTip();
}

void TBild::SetShowHint(bool value)
{
    ShowHint = value;
    UpdateToolTip();
}

void TBild::UpdateToolTip()
{
    // Made only for existing controls: a long list has most of its items without them.
    if (!Picture)
        return;
    // The reason a picture cannot be shown stays in its tooltip whatever else changes.
    QString tip = ShowHint ? ShownFileName(Hint) : QString(); // odd bytes of a name as U+FFFD
    if (broken)
        tip = tip.isEmpty() ? brokenReason : tip + QLatin1Char('\n') + brokenReason;
    // A tooltip that looks like markup would be drawn as rich text; it is escaped so that the file's
    // path shows as it is.
    if (Qt::mightBeRichText(tip))
        tip = QStringLiteral("<p style='white-space:pre'>%1</p>").arg(tip.toHtmlEscaped());
    Picture->setToolTip(tip);
}

void TBild::LoadPicture(const QString& path)
{
    // Only the header is read here; the pixels follow on a worker thread.
    LoadPicture(path, ReadPictureSize(path));
}

void TBild::LoadPicture(const QString& path, const QSize& size)
{
    LoadPictureLater(path);
    FitToPicture(size);
}

void TBild::LoadPictureLater(const QString& path)
{
    if (Shadow)
        Shadow->lower();
    fileName = path;
    pictureSize = QSize();
    SetShown(QImage());
    broken = false;
    brokenReason.clear();
    thumbnailPending = true;
    UpdateToolTip();
}

void TBild::FitToPicture(const QSize& size)
{
    const int side = std::max(pictureRect.height(), pictureRect.width());
    const double w = size.width(), h = size.height();
    // nearbyint rounds halves to the even neighbour in the default rounding mode. A very long or
    // tall picture keeps a control at least one pixel across, so that it can still be drawn.
    if (w > h)
        pictureRect.setSize(QSize(side, std::max(1, int(std::nearbyint(side * h / w)))));
    else
        pictureRect.setSize(QSize(std::max(1, int(std::nearbyint(side * w / h))), side));
    shadowRect.setSize(pictureRect.size());
    pictureSize = size;
    // The controls keep their top-left corner until they are placed in their cell; an item that is
    // already placed is centred again.
    if (CellTop != 0 || CellLeft != 0) {
        SetCellTop(CellTop);
        SetCellLeft(CellLeft);
    } else {
        PlaceControls();
    }
}

void TBild::SetShown(const QImage& image)
{
    shown = image;
    if (Picture)
        Picture->SetPicture(image);
}

void TBild::SetThumbnail(const QImage& thumbnail)
{
    SetShown(thumbnail);
    thumbnailPending = false;
}

void TBild::DropThumbnail()
{
    if (broken || thumbnailPending)
        return;
    SetShown(QImage());
    thumbnailPending = true;
}

void TBild::ShowBroken(const QString& reason)
{
    broken = true;
    brokenReason = reason;
    thumbnailPending = false;
    QImage mark(pictureRect.size().expandedTo(QSize(1, 1)), QImage::Format_RGB888);
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
    SetShown(mark);
    UpdateToolTip();
}

bool TBild::IsAtRest() const
{
    return shadowRect.y() == pictureRect.y();
}

bool TBild::IsRaised() const
{
    return shadowRect.y() - pictureRect.y() == 2 * Border;
}

void TBild::LiftPicture()
{
    if (!IsAtRest())
        return;
    if (Shadow)
        Shadow->lower();
    pictureRect.translate(-Border, -Border);
    shadowRect.translate(Border, Border);
    PlaceControls();
}

void TBild::LowerPicture()
{
    if (!IsRaised())
        return;
    if (Shadow)
        Shadow->lower();
    pictureRect.translate(Border, Border);
    shadowRect.translate(-Border, -Border);
    PlaceControls();
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

    loader = new TThumbnailLoader(this);
    connect(loader, &TThumbnailLoader::Finished, this, &TPicturList::ThumbnailFinished);
    // Items added one after another are scheduled once, when the event loop comes back.
    scheduleTimer.setSingleShot(true);
    scheduleTimer.setInterval(0);
    connect(&scheduleTimer, &QTimer::timeout, this, &TPicturList::ScheduleThumbnails);
    PlaceScrollPanel();
}

TPicturList::~TPicturList()
{
    Clear();
    // The workers finish their current pictures; their results go nowhere.
    delete loader;
    loader = nullptr;
}

TBild* TPicturList::Add(const QString& path)
{
    return AddItem(path, std::nullopt);
}

TBild* TPicturList::Add(const QString& path, const QSize& size)
{
    return AddItem(path, size);
}

TBild* TPicturList::AddItem(const QString& path, const std::optional<QSize>& size)
{
    const int index = Count();
    // A long list makes the controls only for the items near its view, once it is laid out.
    auto* item = new TBild(this, index < AllControlsUpTo);
    try {
        item->SetParent(this);
        item->SetShowHint(showHint);
        item->OwnerList = this;
        item->SetIndex(index);
        item->SetHint(path);
        item->SetCaption(ShownFileName(path.mid(path.lastIndexOf(QLatin1Char('/')) + 1)));
        item->SetBorder(item->Border);
        item->SetFileName(path);
        item->SetCellWidth(itemWidth);
        item->SetCellHeight(itemHeight);
        item->SetCellTop(0);
        item->SetCellLeft(0);
        item->SetCaptionGap(item->CaptionGap);
        item->SetCaptionIndent(item->CaptionIndent);
        if (size)
            item->LoadPicture(path, *size);
        else if (index < HeadersReadUpTo)
            item->LoadPicture(path);
        else
            item->LoadPictureLater(path);
    } catch (...) {
        // Nothing of a picture that cannot be read stays on the list.
        delete item;
        throw;
    }
    items.append(item);
    if (item->HasControls())
        ScrollPanel->raise();
    if (!scheduleTimer.isActive())
        scheduleTimer.start();
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
    // The work queued for this folder is dropped, and what is running now is ignored when it ends.
    ++generation;
    queue.clear();
    queueHead = 0;
    scheduleTimer.stop();
    brokenCount = 0;
    layoutColumns = 0;
    cache.reset();
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
    layoutColumns = cols;
    layoutRowPitch = rowPitch;
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
    UpdateControls();
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
    UpdateControls();
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

std::pair<int, int> TPicturList::VisibleRange() const
{
    const int count = Count();
    if (count == 0)
        return { 0, -1 };
    if (layoutColumns <= 0 || layoutRowPitch <= 0)
        return { 0, 0 }; // not laid out yet: every item lies in the top-left corner
    // Row r has its cell top at r * pitch + 10 - LastScrollPos and reaches down a whole pitch.
    const qint64 top = qint64(lastScrollPos) - 10;
    const qint64 firstRow = std::max<qint64>(0, top / layoutRowPitch);
    const qint64 lastRow = std::max<qint64>(firstRow, (top + height()) / layoutRowPitch);
    const qint64 first = std::min<qint64>(count - 1, firstRow * layoutColumns);
    const qint64 last = std::min<qint64>(count - 1, (lastRow + 1) * layoutColumns - 1);
    return { int(first), int(last) };
}

void TPicturList::UpdateControls()
{
    const int count = Count();
    int first = 0, last = count - 1;
    if (count > AllControlsUpTo && layoutColumns > 0) {
        // The rows on screen and two screens of rows above and below.
        const auto [visibleFirst, visibleLast] = VisibleRange();
        const int rowsPerScreen = std::max(1, height() / std::max(1, layoutRowPitch) + 1);
        const int spare = 2 * rowsPerScreen * layoutColumns;
        first = std::max(0, visibleFirst - spare);
        last = std::min(count - 1, visibleLast + spare);
    }
    for (int i = 0; i < count; ++i) {
        TBild* item = items[i];
        if (i >= first && i <= last)
            item->CreateControls();
        else if (item->HasControls())
            item->DestroyControls();
    }
    ScrollPanel->raise();
}

std::pair<int, int> TPicturList::KeptRange() const
{
    const auto [first, last] = VisibleRange();
    if (last < first)
        return { 0, -1 };
    // As many before the view as after it, shifted to stay inside the list.
    const int spare = std::max(0, KeptThumbnails - (last - first + 1));
    int keptFirst = std::max(0, first - spare / 2);
    const int keptLast = std::min(Count() - 1, keptFirst + (last - first) + spare);
    keptFirst = std::max(0, std::min(keptFirst, keptLast - KeptThumbnails + 1));
    return { keptFirst, keptLast };
}

void TPicturList::ScheduleThumbnails()
{
    scheduleTimer.stop();
    queue.clear();
    queueHead = 0;
    const int count = Count();
    if (count == 0)
        return;
    const auto [first, last] = VisibleRange();
    const auto [keptFirst, keptLast] = KeptRange();
    // Far off screen, thumbnails are let go; they come back from the cache when they are near again.
    for (int i = 0; i < keptFirst; ++i)
        items[i]->DropThumbnail();
    for (int i = keptLast + 1; i < count; ++i)
        items[i]->DropThumbnail();
    // On screen first, then outward from the view: one below, one above, and so on.
    for (int i = first; i <= last; ++i)
        queue.append(i);
    for (int below = last + 1, above = first - 1; below <= keptLast || above >= keptFirst; ++below, --above) {
        if (below <= keptLast)
            queue.append(below);
        if (above >= keptFirst)
            queue.append(above);
    }
    FeedLoader();
}

void TPicturList::FeedLoader()
{
    if (!cache && cacheEnabled)
        cache = std::make_shared<const TThumbnailCache>();
    // One job more than there are workers keeps them busy while a result is being delivered.
    while (loader->Running() < loader->Capacity() + 1 && queueHead < queue.size()) {
        const int index = queue[queueHead++];
        if (index >= Count())
            continue;
        TBild* item = items[index];
        if (!item->ThumbnailPending() || item->thumbnailRunning)
            continue;
        item->thumbnailRunning = true;
        TThumbnailJob job;
        job.Generation = generation;
        job.Index = index;
        job.Path = item->FileName();
        job.Box = item->ControlSize();
        loader->Start(job, cacheEnabled ? cache : nullptr);
    }
}

void TPicturList::ThumbnailFinished(const TThumbnailResult& result)
{
    if (result.Generation == generation && result.Index >= 0 && result.Index < Count()) {
        TBild* item = items[result.Index];
        item->thumbnailRunning = false;
        const auto [keptFirst, keptLast] = KeptRange();
        if (!result.Error.isEmpty()) {
            item->ShowBroken(result.Error);
            ++brokenCount;
            emit ThumbnailFailed(result.Index, result.Error);
        } else {
            if (item->SizePending() && result.PictureSize.isValid())
                item->FitToPicture(result.PictureSize);
            if (item->ThumbnailPending() && result.Index >= keptFirst && result.Index <= keptLast)
                item->SetThumbnail(result.Image);
        }
    }
    FeedLoader();
}

int TPicturList::PendingThumbnails() const
{
    const auto [keptFirst, keptLast] = KeptRange();
    int pending = 0;
    for (int i = keptFirst; i <= keptLast; ++i)
        pending += items[i]->ThumbnailPending() ? 1 : 0;
    return pending;
}

QList<int> TPicturList::ThumbnailOrder() const
{
    QList<int> order;
    for (qsizetype i = queueHead; i < queue.size(); ++i) {
        const int index = queue[i];
        if (index < Count() && items[index]->ThumbnailPending() && !items[index]->thumbnailRunning)
            order.append(index);
    }
    return order;
}

void TPicturList::FinishThumbnails()
{
    if (scheduleTimer.isActive())
        ScheduleThumbnails();
    while (PendingThumbnails() > 0 || loader->Running() > 0) {
        const int before = loader->Running();
        loader->WaitForDone();
        QCoreApplication::sendPostedEvents(loader);
        if (before == 0 && loader->Running() == 0) {
            // Nothing was running: wanted thumbnails left out of the queue (the queue is rebuilt).
            ScheduleThumbnails();
            if (loader->Running() == 0)
                break;
        }
    }
}

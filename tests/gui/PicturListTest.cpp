#include "pictures/PicturList.h"

#include "pictures/PictureDecoder.h"
#include "pictures/PictureFiles.h"
#include "support/ShownText.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QTextDocument>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

namespace {

class TCountingList : public TPicturList
{
public:
    using TPicturList::TPicturList;
    int changes = 0;
    void SelectionChanged() override { ++changes; }
};

void SendMouse(QWidget* widget, QEvent::Type type, QPoint position, Qt::MouseButton button = Qt::NoButton)
{
    const Qt::MouseButtons buttons
        = type == QEvent::MouseButtonPress ? Qt::MouseButtons(button) : Qt::NoButton;
    QMouseEvent event(
        type, QPointF(position), widget->mapToGlobal(QPointF(position)), button, buttons, Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &event);
}

void MoveOver(QWidget* widget)
{
    SendMouse(widget, QEvent::MouseMove, QPoint(5, 5));
}
void Press(QWidget* widget, QPoint at = QPoint(5, 5))
{
    SendMouse(widget, QEvent::MouseButtonPress, at, Qt::LeftButton);
}
void Release(QWidget* widget, QPoint at = QPoint(5, 5))
{
    SendMouse(widget, QEvent::MouseButtonRelease, at, Qt::LeftButton);
}

class PicturListTest : public testing::Test
{
protected:
    QString Picture(int width, int height, const QString& name = QString())
    {
        const QString file = name.isEmpty() ? QStringLiteral("p%1.bmp").arg(serial++) : name;
        if (file.endsWith(".jpg"))
            return WriteFile(dir, file, EncodeJpeg(QuarterPicture(width, height)));
        return WriteFile(dir, file, EncodeBmp(QuarterPicture(width, height)));
    }

    // A shown list of the given size holding `count` square pictures, laid out.
    std::unique_ptr<TCountingList> FilledList(int width, int height, int count)
    {
        auto list = std::make_unique<TCountingList>();
        list->resize(width, height);
        list->show();
        const QString square = Picture(120, 120);
        for (int i = 0; i < count; ++i)
            list->Add(square);
        list->Arrange();
        return list;
    }

    QTemporaryDir dir;
    int serial = 0;
};

} // namespace

TEST_F(PicturListTest, ControlSizeFollowsThePictureShape)
{
    struct TCase
    {
        int w, h, controlW, controlH;
    };
    const TCase cases[] = { { 200, 100, 100, 50 }, { 100, 200, 50, 100 }, { 300, 300, 100, 100 },
        { 3, 2, 100, 67 }, { 8, 5, 100, 62 }, { 60, 40, 100, 67 }, { 1000, 4, 100, 1 } };
    TPicturList list;
    for (const TCase& c : cases) {
        TBild* item = list.Add(Picture(c.w, c.h));
        EXPECT_EQ(item->Picture->size(), QSize(c.controlW, c.controlH)) << c.w << "x" << c.h;
        EXPECT_EQ(item->Shadow->size(), item->Picture->size());
    }
}

TEST_F(PicturListTest, SmallPictureIsDrawnAtItsOwnSizeOverTheShadow)
{
    TPicturList list;
    list.resize(300, 200);
    list.show();
    TBild* item = list.Add(Picture(60, 40, "small.jpg"));
    list.Arrange();
    list.FinishThumbnails();
    ASSERT_EQ(item->Picture->size(), QSize(100, 67));
    EXPECT_EQ(item->Picture->Picture().size(), QSize(60, 40));
    EXPECT_EQ(item->Picture->DrawRect(), QRect(0, 0, 60, 40));
    const QImage shot = list.grab().toImage();
    const QPoint origin = item->Picture->pos();
    const QColor picture = shot.pixelColor(origin + QPoint(5, 5));
    EXPECT_GT(picture.red(), 230);
    EXPECT_LT(picture.green(), 30);
    EXPECT_EQ(shot.pixelColor(origin + QPoint(80, 50)), QColor(128, 128, 128));
    EXPECT_EQ(shot.pixelColor(origin + QPoint(30, 60)), QColor(128, 128, 128));
}

TEST_F(PicturListTest, ItemIsPlacedInItsCellWithTheCaptionBelow)
{
    QWidget surface;
    TBild item(&surface);
    item.SetParent(&surface);
    item.LoadPicture(Picture(3, 2));
    ASSERT_EQ(item.Picture->size(), QSize(100, 67));
    item.SetCellTop(10);
    item.SetCellLeft(40);
    EXPECT_EQ(item.Picture->pos(), QPoint(42, 28)); // 10 + Trunc(33 / 2) + 2
    EXPECT_EQ(item.Shadow->pos(), item.Picture->pos());
    EXPECT_EQ(item.NameLabel->geometry(), QRect(40, 115, 100, 17));
    item.SetCaptionIndent(3);
    item.SetCaptionGap(7);
    EXPECT_EQ(item.NameLabel->geometry(), QRect(43, 117, 100, 17));

    TPicturList list;
    TBild* added = list.Add(Picture(10, 10, "my photo.bmp"));
    EXPECT_EQ(added->NameLabel->text(), "my photo.bmp");
    EXPECT_TRUE(added->NameLabel->alignment() & Qt::AlignHCenter);
    EXPECT_EQ(added->FileName(), dir.filePath("my photo.bmp"));
    EXPECT_EQ(ShownAutoText(added->Picture->toolTip()).Text, added->FileName());
    EXPECT_EQ(added->Picture->cursor().shape(), Qt::PointingHandCursor);

    // A name wider than the cell keeps its start and its extension around an ellipsis.
    const QString longName = QStringLiteral("a very long name of a holiday photo taken by the sea.bmp");
    TBild* long_ = list.Add(Picture(10, 10, longName));
    const QString shown = long_->NameLabel->text();
    EXPECT_EQ(long_->Caption(), longName);
    EXPECT_LE(long_->NameLabel->fontMetrics().horizontalAdvance(shown), long_->NameLabel->width());
    EXPECT_TRUE(shown.startsWith(QStringLiteral("a ")) && shown.endsWith(QStringLiteral(".bmp"))) << shown.toStdString();
    EXPECT_TRUE(shown.contains(QChar(0x2026))) << shown.toStdString();
}

TEST_F(PicturListTest, LiftFollowsTheStateTable)
{
    auto list = FilledList(500, 400, 3);
    TBild* item = list->Items(1);
    QWidget* picture = item->Picture;
    const QPoint rest = picture->pos();
    auto look = [&] { return item->IsRaised() ? "raised" : item->IsAtRest() ? "rest" : "other"; };

    MoveOver(picture); // rest,false -> raised,true
    EXPECT_STREQ(look(), "raised");
    EXPECT_TRUE(item->Hot);
    EXPECT_EQ(picture->pos(), rest - QPoint(2, 2));
    EXPECT_EQ(item->Shadow->pos(), rest + QPoint(2, 2));
    Press(picture); // raised,true -> rest,true
    EXPECT_STREQ(look(), "rest");
    EXPECT_TRUE(item->Hot);
    EXPECT_EQ(picture->pos(), rest);
    Release(picture); // rest,true -> raised,true
    EXPECT_STREQ(look(), "raised");
    EXPECT_TRUE(item->Hot);
    SendMouse(list.get(), QEvent::MouseMove, QPoint(495, 395)); // raised,true -> rest,false
    EXPECT_STREQ(look(), "rest");
    EXPECT_FALSE(item->Hot);
    EXPECT_EQ(picture->pos(), rest);

    MoveOver(picture);
    Press(picture); // rest,true
    MoveOver(picture); // unchanged
    EXPECT_STREQ(look(), "rest");
    EXPECT_TRUE(item->Hot);
    SendMouse(list.get(), QEvent::MouseMove, QPoint(495, 395)); // rest,true -> rest,false
    EXPECT_STREQ(look(), "rest");
    EXPECT_FALSE(item->Hot);
    Release(picture); // rest,false -> raised,false
    EXPECT_STREQ(look(), "raised");
    EXPECT_FALSE(item->Hot);
    item->SetCellTop(item->CellTop); // any look -> rest, Hot unchanged
    EXPECT_STREQ(look(), "rest");
    EXPECT_EQ(picture->pos(), rest);
    EXPECT_EQ(item->Shadow->pos(), rest);
    EXPECT_FALSE(item->Hot);
    // Only the item under the pointer moved; moving over another picture raises it too.
    MoveOver(list->Items(0)->Picture);
    MoveOver(list->Items(2)->Picture);
    EXPECT_TRUE(list->Items(0)->IsRaised());
    EXPECT_TRUE(list->Items(2)->IsRaised());
}

TEST_F(PicturListTest, ScrollingPutsARaisedPictureFullyBackToRest)
{
    auto list = FilledList(500, 300, 20);
    TBild* item = list->Items(5);
    const QPoint rest = item->Picture->pos();
    MoveOver(item->Picture);
    ASSERT_TRUE(item->IsRaised());
    list->ScrollBar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_EQ(item->Picture->pos(), rest - QPoint(0, 130));
    EXPECT_EQ(item->Shadow->pos(), item->Picture->pos());
    // The next lift starts from the rest place and does not drift.
    SendMouse(list.get(), QEvent::MouseMove, QPoint(490, 290));
    MoveOver(item->Picture);
    EXPECT_EQ(item->Picture->pos(), rest - QPoint(2, 132));
}

TEST_F(PicturListTest, ClickSelectsReleaseElsewhereDoesNot)
{
    auto list = FilledList(500, 400, 5);
    EXPECT_EQ(list->SelectedIndex(), 0);
    QWidget* third = list->Items(2)->Picture;
    MoveOver(third);
    Press(third);
    Release(third);
    EXPECT_EQ(list->SelectedIndex(), 2);
    EXPECT_EQ(list->changes, 1);
    // Pressed on the raised fourth picture, released off it: raised again, nothing selected.
    QWidget* fourth = list->Items(3)->Picture;
    MoveOver(fourth);
    Press(fourth);
    Release(fourth, QPoint(-40, 150));
    EXPECT_TRUE(list->Items(3)->IsRaised());
    EXPECT_EQ(list->SelectedIndex(), 2);
    EXPECT_EQ(list->changes, 1);
    // The right button lowers and lifts but does not select.
    SendMouse(fourth, QEvent::MouseButtonPress, QPoint(5, 5), Qt::RightButton);
    SendMouse(fourth, QEvent::MouseButtonRelease, QPoint(5, 5), Qt::RightButton);
    EXPECT_EQ(list->changes, 1);
    // A double click is one click: the press that makes it double lowers the picture, but its
    // release selects nothing a second time.
    QWidget* fifth = list->Items(4)->Picture;
    MoveOver(fifth);
    Press(fifth);
    Release(fifth);
    SendMouse(fifth, QEvent::MouseButtonDblClick, QPoint(5, 5), Qt::LeftButton);
    EXPECT_TRUE(list->Items(4)->IsAtRest());
    Release(fifth);
    EXPECT_TRUE(list->Items(4)->IsRaised());
    EXPECT_EQ(list->SelectedIndex(), 4);
    EXPECT_EQ(list->changes, 2);
    // Clear and Add keep the selection.
    list->Clear();
    list->Add(Picture(10, 10));
    EXPECT_EQ(list->SelectedIndex(), 4);
}

TEST_F(PicturListTest, ArrangeWithScrollBar)
{
    auto list = FilledList(500, 300, 10);
    EXPECT_FALSE(list->ScrollPanel->isHidden());
    EXPECT_EQ(list->ScrollBar->minimum(), 0);
    EXPECT_EQ(list->ScrollBar->maximum(), 90);
    EXPECT_EQ(list->PageSize(), 39);
    EXPECT_EQ(list->ScrollBar->singleStep(), 130);
    EXPECT_EQ(list->ScrollBar->pageStep(), 300);
    EXPECT_EQ(list->ScrollBar->value(), 0);
    const int lefts[] = { 15, 132, 249, 366 };
    const int tops[] = { 10, 140, 270 };
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(list->Items(i)->CellLeft, lefts[i % 4]) << i;
        EXPECT_EQ(list->Items(i)->CellTop, tops[i / 4]) << i;
        EXPECT_EQ(list->Items(i)->Picture->pos(), QPoint(lefts[i % 4] + 2, tops[i / 4] + 2));
    }
    // The scroll bar stays on top of the items and on the right edge.
    EXPECT_EQ(list->ScrollPanel->width(), 20);
    EXPECT_EQ(list->ScrollPanel->geometry().right(), list->contentsRect().right());
    EXPECT_EQ(list->children().last(), list->ScrollPanel);
}

TEST_F(PicturListTest, ArrangeWithoutScrollBar)
{
    auto list = FilledList(500, 400, 10);
    EXPECT_TRUE(list->ScrollPanel->isHidden());
    const int lefts[] = { 15, 137, 259, 381 };
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(list->Items(i)->CellLeft, lefts[i % 4]) << i;
        EXPECT_EQ(list->Items(i)->CellTop, 10 + 130 * (i / 4)) << i;
    }
    // Four items fill one row, a fifth starts the second.
    auto four = FilledList(500, 400, 4);
    EXPECT_EQ(four->Items(3)->CellTop, 10);
    auto five = FilledList(500, 400, 5);
    EXPECT_EQ(five->Items(4)->CellTop, 140);
    EXPECT_EQ(five->Items(4)->CellLeft, 15);
    // A narrow list keeps one column.
    auto narrow = FilledList(100, 400, 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(narrow->Items(i)->CellLeft, 15);
        EXPECT_EQ(narrow->Items(i)->CellTop, 10 + 130 * i);
    }
    // Resizing lays the list out again.
    list->resize(300, 400);
    EXPECT_EQ(list->Items(2)->CellTop, 140);
    EXPECT_FALSE(list->ScrollPanel->isHidden());
}

TEST_F(PicturListTest, ScrollingMovesTheItemsByTheStep)
{
    auto list = FilledList(500, 300, 20);
    ASSERT_EQ(list->ScrollBar->maximum(), 350);
    list->ScrollBar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_EQ(list->ScrollBar->value(), 130);
    EXPECT_EQ(list->Items(0)->CellTop, 10 - 130);
    EXPECT_EQ(list->Items(19)->CellTop, 530 - 130);
    EXPECT_EQ(list->Items(0)->Picture->y(), 12 - 130);
    list->ScrollBar->triggerAction(QAbstractSlider::SliderSingleStepSub);
    EXPECT_EQ(list->Items(0)->CellTop, 10);
    EXPECT_EQ(list->Items(19)->CellTop, 530);

    // Scrolled down, then a new folder: the new items start at the top and move by one step.
    list->ScrollBar->triggerAction(QAbstractSlider::SliderPageStepAdd);
    list->Clear();
    const QString square = Picture(50, 50);
    for (int i = 0; i < 12; ++i)
        list->Add(square);
    list->Arrange();
    EXPECT_EQ(list->Items(0)->CellTop, 10);
    EXPECT_EQ(list->ScrollBar->value(), 0);
    list->ScrollBar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_EQ(list->Items(0)->CellTop, 10 - 90); // the maximum is 90 here
    EXPECT_EQ(list->Items(11)->CellTop, 270 - 90);

    // An empty folder leaves the scroll bar as it was.
    list->Clear();
    list->Arrange();
    EXPECT_FALSE(list->ScrollPanel->isHidden());
    EXPECT_EQ(list->ScrollBar->value(), 90);
    EXPECT_EQ(list->ScrollBar->maximum(), 90);
    list->ScrollBar->triggerAction(QAbstractSlider::SliderSingleStepSub); // nothing to move
    EXPECT_EQ(list->Count(), 0);
}

TEST_F(PicturListTest, ItemsOutsideTheListFail)
{
    TPicturList list;
    try {
        list.Items(0);
        FAIL() << "no error";
    } catch (const TListError& error) {
        EXPECT_STREQ(error.what(), "List index out of bounds (0)");
    }
    list.Add(Picture(10, 10));
    list.Add(Picture(10, 10));
    EXPECT_NO_THROW(list.Items(1));
    EXPECT_THROW(list.Items(2), TListError);
    EXPECT_THROW(list.Items(-1), std::out_of_range);
    try {
        list.Items(-1);
    } catch (const std::exception& error) {
        EXPECT_STREQ(error.what(), "List index out of bounds (-1)");
    }
}

TEST_F(PicturListTest, BadPictureLeavesNothingOnTheList)
{
    TPicturList list;
    list.Add(Picture(10, 10));
    const auto children = list.children().size();
    QByteArray jpeg = EncodeJpeg(QuarterPicture(40, 30));
    const QString noHeader = WriteFile(dir, "cut.jpg", jpeg.left(40));
    QByteArray bmp = EncodeBmp(QuarterPicture(40, 30));
    const QString cutBitmap = WriteFile(dir, "cut.bmp", bmp.left(bmp.size() - 10));
    const QString zero = WriteFile(dir, "zero.jpg", PatchJpegSize(jpeg, 0, 30));
    for (const QString& path :
        { noHeader, cutBitmap, zero, dir.filePath("missing.jpg"), dir.filePath("x.gif") }) {
        EXPECT_THROW(list.Add(path), TPictureError) << path.toStdString();
        EXPECT_EQ(list.Count(), 1);
        EXPECT_EQ(list.children().size(), children);
    }
}

TEST_F(PicturListTest, LateDecodeFailureShowsABrokenMark)
{
    TPicturList list;
    list.resize(300, 300);
    list.show();
    QByteArray jpeg = EncodeJpeg(QuarterPicture(400, 300));
    // The header is whole, the pixels are cut off: Add succeeds, the thumbnail cannot be made.
    const QString broken = WriteFile(dir, "broken.jpg", jpeg.left(JpegScanStart(jpeg) + 50));
    const QString good = WriteFile(dir, "good.jpg", jpeg);
    TBild* bad = list.Add(broken);
    TBild* fine = list.Add(good);
    list.Arrange();
    EXPECT_EQ(list.PendingThumbnails(), 2);
    EXPECT_EQ(bad->Picture->size(), QSize(100, 75));
    list.FinishThumbnails();
    EXPECT_TRUE(bad->Broken());
    EXPECT_FALSE(fine->Broken());
    EXPECT_EQ(fine->Picture->Picture().size(), QSize(100, 75));
    EXPECT_EQ(bad->Picture->Picture().size(), QSize(100, 75));
    EXPECT_NE(bad->Picture->toolTip().indexOf("Premature end"), -1) << bad->Picture->toolTip().toStdString();
    EXPECT_EQ(bad->FileName(), broken);
    // The mark is not a picture of the file: it differs from a plain grey or the decoded colours.
    const QImage mark = bad->Picture->Picture();
    EXPECT_NE(mark.pixelColor(50, 37), mark.pixelColor(5, 5));
    EXPECT_EQ(list.BrokenCount(), 1);

    // Arranged again, the picture keeps the reason in its tooltip.
    list.resize(400, 300);
    list.Arrange();
    EXPECT_NE(bad->Picture->toolTip().indexOf("Premature end"), -1) << bad->Picture->toolTip().toStdString();
    EXPECT_TRUE(bad->Picture->toolTip().startsWith(broken));
    list.Clear();
    EXPECT_EQ(list.BrokenCount(), 0);
}

// Whether every index of [first, last] that is still waiting comes before every other index in `order`.
bool ComesFirst(const QList<int>& order, int first, int last)
{
    bool outside = false;
    for (int index : order) {
        const bool inside = index >= first && index <= last;
        if (inside && outside)
            return false;
        outside = outside || !inside;
    }
    return true;
}

void SpinUntil(const std::function<bool()>& done)
{
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < 20'000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

TEST_F(PicturListTest, ThumbnailsOnScreenComeFirstAndFollowTheScrolling)
{
    auto list = FilledList(500, 300, 40);
    // Rows 0 to 2 (items 0 to 11) are on screen.
    const QList<int> order = list->ThumbnailOrder();
    EXPECT_GE(order.size(), 40 - 3);
    EXPECT_TRUE(ComesFirst(order, 0, 11));
    // Scrolled to the end, rows 7 to 9 (items 28 to 39) are on screen and come before the rest.
    list->ScrollBar->setValue(list->ScrollBar->maximum());
    const QList<int> scrolled = list->ThumbnailOrder();
    EXPECT_TRUE(ComesFirst(scrolled, 28, 39));
    ASSERT_FALSE(scrolled.isEmpty());
    EXPECT_GE(scrolled.first(), 28);
    // The rest follow from the event loop without being asked.
    SpinUntil([&] { return list->PendingThumbnails() == 0; });
    EXPECT_EQ(list->PendingThumbnails(), 0);
    for (int i = 0; i < 40; ++i)
        EXPECT_FALSE(list->Items(i)->Picture->IsEmpty()) << i;
}

TEST_F(PicturListTest, FolderChangeWhileWorkIsQueuedDeliversNothingOfTheOldFolder)
{
    TPicturList list;
    list.resize(500, 300);
    list.show();
    // Large red pictures keep the workers busy while the folder changes.
    QImage red(1600, 1200, QImage::Format_RGB888);
    red.fill(Qt::red);
    const QString old = WriteFile(dir, "old.jpg", EncodeJpeg(red));
    QImage blue(40, 30, QImage::Format_RGB888);
    blue.fill(Qt::blue);
    const QString fresh = WriteFile(dir, "new.jpg", EncodeJpeg(blue));
    for (int i = 0; i < 30; ++i)
        list.Add(old);
    list.Arrange();
    ASSERT_GT(list.PendingThumbnails(), 0);
    list.Clear();
    for (int i = 0; i < 30; ++i)
        list.Add(fresh);
    list.Arrange();
    list.FinishThumbnails();
    for (int i = 0; i < 30; ++i) {
        const QImage shown = list.Items(i)->Picture->Picture();
        ASSERT_EQ(shown.size(), QSize(40, 30)) << i;
        const QColor colour = shown.pixelColor(20, 15);
        EXPECT_GT(colour.blue(), 200) << i;
        EXPECT_LT(colour.red(), 60) << i;
    }
}

TEST_F(PicturListTest, NameThatLooksLikeMarkupIsShownAsItIs)
{
    TPicturList list;
    const QString path = Picture(20, 20, "<b>x.bmp");
    TBild* item = list.Add(path);
    EXPECT_EQ(item->NameLabel->textFormat(), Qt::PlainText);
    EXPECT_EQ(item->NameLabel->text(), "<b>x.bmp");
    // The tooltip is drawn as rich text when it looks like it, so it carries the path escaped.
    QTextDocument tip;
    tip.setHtml(item->Picture->toolTip());
    EXPECT_EQ(tip.toPlainText(), path);
}

TEST_F(PicturListTest, LongListMakesControlsAndKeepsThumbnailsOnlyNearItsView)
{
    TPicturList list;
    list.resize(500, 300);
    list.show();
    const QString square = Picture(120, 120, "square.jpg");
    // Beyond the first items the header is read with the thumbnail: a wide picture's control starts
    // square and takes the picture's shape once its thumbnail comes.
    const QString wide = Picture(200, 100, "wide.jpg");
    const int count = TPicturList::KeptThumbnails + 600;
    for (int i = 0; i < count - 1; ++i)
        list.Add(square);
    TBild* last = list.Add(wide);
    EXPECT_TRUE(last->SizePending());
    EXPECT_EQ(last->ControlSize(), QSize(100, 100));
    list.Arrange();
    int withControls = 0;
    for (int i = 0; i < count; ++i)
        withControls += list.Items(i)->HasControls() ? 1 : 0;
    EXPECT_TRUE(list.Items(0)->HasControls());
    EXPECT_FALSE(last->HasControls());
    EXPECT_LT(withControls, 100);
    list.FinishThumbnails();
    EXPECT_FALSE(list.Items(0)->Picture->IsEmpty());
    // Thumbnails far below the view are not made yet.
    EXPECT_TRUE(last->ThumbnailPending());

    // At the end of the list the last items get controls and thumbnails, the first ones let go of both.
    list.ScrollBar->setValue(list.ScrollBar->maximum());
    list.FinishThumbnails();
    EXPECT_FALSE(list.Items(0)->HasControls());
    EXPECT_TRUE(list.Items(0)->ThumbnailPending());
    ASSERT_TRUE(last->HasControls());
    EXPECT_FALSE(last->SizePending());
    EXPECT_EQ(last->Picture->size(), QSize(100, 50));
    EXPECT_EQ(last->Picture->Picture().size(), QSize(100, 50));
    // The picture sits centred in its cell, as if its header had been read at once.
    EXPECT_EQ(last->Picture->y(), last->CellTop + 25 + last->Border);

    // Back at the top, the first thumbnails come back (from the shared cache).
    list.ScrollBar->setValue(0);
    list.FinishThumbnails();
    ASSERT_TRUE(list.Items(0)->HasControls());
    EXPECT_FALSE(list.Items(0)->Picture->IsEmpty());
    EXPECT_TRUE(last->ThumbnailPending());
}

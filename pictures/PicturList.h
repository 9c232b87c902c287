#pragma once

#include "pictures/Image.h"
#include "pictures/ThumbnailCache.h"

#include <QFrame>
#include <QLabel>
#include <QList>
#include <QScrollBar>
#include <QTimer>
#include <memory>
#include <optional>
#include <stdexcept>

class TPicturList;
class TThumbnailLoader;
struct TThumbnailResult;

// The picture control of a list item: the image control with nothing added.
class TMyImage : public TImage
{
    Q_OBJECT
public:
    using TImage::TImage;
};

// Raised by TPicturList::Items for an index outside the list.
class TListError : public std::out_of_range
{
public:
    using out_of_range::out_of_range;
};

// One entry of the picture list: a thumbnail, a grey shadow behind it and a caption with the file's
// name below it. The item is not a widget; it owns three widgets that it places on the list and
// lifts the picture a little under the mouse pointer. The item keeps the place and look of its
// controls itself, so that a long list can make the controls only for the items near its view
// (CreateControls, DestroyControls); Picture, Shadow and NameLabel are null while they do not exist.
class TBild : public QObject
{
    Q_OBJECT
public:
    // The three controls are created as hidden children of `owner` (unless `withControls` is false);
    // SetParent shows them on the list. The item deletes them, so it must go before `owner` does (the
    // list's Clear sees to that).
    explicit TBild(QWidget* owner, bool withControls = true);
    ~TBild() override;

    bool HasControls() const { return Picture != nullptr; }
    void CreateControls();
    void DestroyControls();
    // Where the picture control is (or would be) on the list, and its size.
    const QRect& PictureGeometry() const { return pictureRect; }
    QSize ControlSize() const { return pictureRect.size(); }
    void SetCaption(const QString& text);
    const QString& Caption() const { return caption; }

    void SetParent(QWidget* list);
    void SetBorder(int value);
    void SetIndex(int value) { Index = value; }
    void SetCellWidth(int value);
    void SetCellHeight(int value);
    void SetCellTop(int value);
    void SetCellLeft(int value);
    void SetCaptionGap(int value);
    void SetCaptionIndent(int value);
    void SetFileName(const QString& path) { fileName = path; }
    const QString& FileName() const { return fileName; }
    void SetHint(const QString& text);
    void SetShowHint(bool value);

    // Sizes the controls for the picture in `path` from its header and marks its thumbnail as wanted
    // (the list has it made on a worker thread); throws TPictureError when the header cannot be read
    // (the item is left as it was).
    void LoadPicture(const QString& path);
    // Like LoadPicture for a picture whose header was read elsewhere (it gave `size`): nothing is read here.
    void LoadPicture(const QString& path, const QSize& size);
    // Like LoadPicture, but without reading the header: the control stays square until the picture's
    // size is known (FitToPicture). A long list adds most of its items this way.
    void LoadPictureLater(const QString& path);
    // Sizes the controls for a picture of `size`, as LoadPicture does, and centres them in the cell again.
    void FitToPicture(const QSize& size);
    // Whether the picture's size is still unknown.
    bool SizePending() const { return !pictureSize.isValid(); }
    // Puts a finished thumbnail in place.
    void SetThumbnail(const QImage& thumbnail);
    // Shows a broken-picture mark; the tooltip names the reason from now on.
    void ShowBroken(const QString& reason);
    // Lets go of the thumbnail (to save memory far off screen); it is wanted again.
    void DropThumbnail();
    // Whether the thumbnail is wanted and not yet in place (neither shown nor broken).
    bool ThumbnailPending() const { return thumbnailPending; }
    bool Broken() const { return broken; }
    const QString& BrokenReason() const { return brokenReason; }

    void ResetHover();
    void LiftPicture();
    void LowerPicture();
    bool IsRaised() const;
    bool IsAtRest() const;

    int Border = 2;
    int Index = 0;
    int CellWidth = 100;
    int CellHeight = 100;
    int CellTop = 0;
    int CellLeft = 0;
    int CaptionGap = 5;
    int CaptionIndent = 0;
    QString Hint;
    QWidget* Parent = nullptr;
    bool ShowHint = false;
    bool Hot = false;
    TMyImage* Picture = nullptr;
    QWidget* Shadow = nullptr;
    QLabel* NameLabel = nullptr;
    TPicturList* OwnerList = nullptr;

    // Height of the caption label, the label's default.
    static constexpr int CaptionHeight = 17;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void ShowCaption(); // the caption in the label, elided to its width
    void PlaceLabel();
    void PlaceControls();
    void SetShown(const QImage& image);
    void PictureClick();
    void PictureMouseMove();
    void PictureMouseDown();
    void PictureMouseUp();
    void UpdateToolTip();

    QWidget* owner = nullptr;
    QRect pictureRect;
    QRect shadowRect;
    QString caption;
    int captionWidth = -1; // the label width the caption's text was made for; -1: none yet
    QImage shown; // what the picture control draws: the thumbnail, a broken mark or nothing
    bool controlsShown = false; // SetParent has put the controls on the list
    QString fileName;
    QString brokenReason;
    QSize pictureSize; // the picture's own size, from its header
    bool thumbnailPending = false;
    bool broken = false;
    bool pressedLeft = false;

    friend class TPicturList;
    bool thumbnailRunning = false; // a worker is making the thumbnail
};

// The thumbnail grid of one folder's pictures, with a vertical scroll bar of its own.
// Thumbnails are made on worker threads (TThumbnailLoader), taken from the shared thumbnail cache where
// it holds them: those on screen first, then those near the view. In a large folder the thumbnails far
// off screen are let go and made again (from the cache) when they come near the view.
class TPicturList : public QFrame
{
    Q_OBJECT
public:
    explicit TPicturList(QWidget* parent = nullptr);
    ~TPicturList() override;

    int Count() const { return static_cast<int>(items.size()); }
    // Appends an item for the picture at `path`; throws TPictureError when its header cannot be
    // read, leaving nothing behind. Beyond the first HeadersReadUpTo items the header is read with the
    // thumbnail, on a worker thread: such a picture that cannot be read shows a broken mark instead.
    TBild* Add(const QString& path);
    // Appends an item for the picture at `path` whose header was read elsewhere (a worker thread) and gave
    // `size`: the item is sized as Add sizes it, and the file is not read here.
    TBild* Add(const QString& path, const QSize& size);
    // Throws TListError "List index out of bounds (%d)".
    TBild* Items(int index) const;
    void Clear();
    void FreeItems();
    void Arrange();

    int SelectedIndex() const { return selectedIndex; }
    void SetSelectedIndex(int index) { selectedIndex = index; }
    int ItemWidth() const { return itemWidth; }
    int ItemHeight() const { return itemHeight; }
    int CaptionGap() const { return captionGap; }
    void SetCaptionGap(int value) { captionGap = value; }
    int LastScrollPos() const { return lastScrollPos; }
    // The thumb proportion figure of the last layout that needed scrolling.
    int PageSize() const { return pageSize; }
    // Whether the pictures show their full path as tooltip (on by default).
    bool ShowHint() const { return showHint; }
    void SetShowHint(bool value);

    // Called after a click on a picture has set SelectedIndex; empty here.
    virtual void SelectionChanged();

    // Waits until every wanted thumbnail is in place, delivering the results meanwhile.
    void FinishThumbnails();
    // The number of thumbnails wanted and not yet in place.
    int PendingThumbnails() const;
    // The indexes of the wanted thumbnails in the order in which they are made next.
    QList<int> ThumbnailOrder() const;
    // The number of pictures whose thumbnail could not be made since the last Clear.
    int BrokenCount() const { return brokenCount; }
    // The thumbnail cache in use (the shared one; a list with the cache turned off uses none).
    void SetThumbnailCacheEnabled(bool value) { cacheEnabled = value; }
    // How many thumbnails the list keeps at most: around the view, the rest are let go.
    static constexpr int KeptThumbnails = 1200;
    // Up to this many items every item has its controls; beyond, only those near the view.
    static constexpr int AllControlsUpTo = 64;
    // The headers of this many first items are read by Add (unless their sizes come with them); the rest
    // with their thumbnails.
    static constexpr int HeadersReadUpTo = 256;

    QScrollBar* ScrollBar = nullptr;
    QWidget* ScrollPanel = nullptr;

    static constexpr int ScrollPanelWidth = 20;

signals:
    // A thumbnail could not be made: the item now shows a broken mark with `reason` in its tooltip.
    void ThumbnailFailed(int index, const QString& reason);

protected:
    void mouseMoveEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    // Add with the picture's size known, or read here as Add does without it.
    TBild* AddItem(const QString& path, const std::optional<QSize>& size);
    void ScrollBarScroll(int position);
    void ListMouseMove();
    void ListResize();
    void PlaceScrollPanel();
    void ScheduleThumbnails();
    // Makes the item controls near the view and lets go of those far from it.
    void UpdateControls();
    void FeedLoader();
    void ThumbnailFinished(const TThumbnailResult& result);
    // The first and last index of the items on screen, and the range of the kept thumbnails.
    std::pair<int, int> VisibleRange() const;
    std::pair<int, int> KeptRange() const;

    QList<TBild*> items;
    int itemHeight = 100;
    int itemWidth = 100;
    int captionGap = 5;
    int lastScrollPos = 0;
    int selectedIndex = 0;
    int pageSize = 0;
    bool arranging = false;
    bool showHint = true;
    bool cacheEnabled = true;
    // The grid of the last layout (columns and row pitch), for finding the items on screen.
    int layoutColumns = 0;
    int layoutRowPitch = 0;
    int brokenCount = 0;
    // Raised by Clear: results of an earlier folder's jobs are dropped.
    quint64 generation = 1;
    std::shared_ptr<const TThumbnailCache> cache;
    TThumbnailLoader* loader = nullptr;
    QList<int> queue; // wanted thumbnails, in the order they are made
    qsizetype queueHead = 0;
    QTimer scheduleTimer;
};

#pragma once

#include "pictures/Image.h"

#include <QFrame>
#include <QLabel>
#include <QList>
#include <QScrollBar>
#include <QTimer>
#include <stdexcept>

class TPicturList;

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
// lifts the picture a little under the mouse pointer.
class TBild : public QObject
{
    Q_OBJECT
public:
    // The three controls are created as hidden children of `owner`; SetParent shows them on the list.
    // The item deletes them, so it must go before `owner` does (the list's Clear sees to that).
    explicit TBild(QWidget* owner);
    ~TBild() override;

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

    // Sizes the controls for the picture in `path` from its header and queues its thumbnail;
    // throws TPictureError when the header cannot be read (the item is left as it was).
    void LoadPicture(const QString& path);
    // Decodes the queued thumbnail now. When that fails the picture shows a broken-picture mark and
    // the tooltip names the reason; returns false then.
    bool DecodeThumbnail();
    bool ThumbnailPending() const { return thumbnailPending; }
    bool Broken() const { return broken; }

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
    void PlaceLabel();
    void PictureClick();
    void PictureMouseMove();
    void PictureMouseDown();
    void PictureMouseUp();
    void ShowBroken(const QString& reason);

    QString fileName;
    QSize pictureSize; // the picture's own size, from its header
    bool thumbnailPending = false;
    bool broken = false;
    bool pressedLeft = false;
};

// The thumbnail grid of one folder's pictures, with a vertical scroll bar of its own.
// Thumbnails are decoded lazily on the GUI thread: those on screen first, the rest in small steps.
class TPicturList : public QFrame
{
    Q_OBJECT
public:
    explicit TPicturList(QWidget* parent = nullptr);
    ~TPicturList() override;

    int Count() const { return static_cast<int>(items.size()); }
    // Appends an item for the picture at `path`; throws TPictureError when its header cannot be
    // read, leaving nothing behind.
    TBild* Add(const QString& path);
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

    // Decodes every queued thumbnail now (the list otherwise does it in steps from the event loop).
    void FinishThumbnails();
    int PendingThumbnails() const;
    // Decodes one queued thumbnail, on-screen ones first; false when none was queued.
    bool DecodeNextThumbnail();

    QScrollBar* ScrollBar = nullptr;
    QWidget* ScrollPanel = nullptr;

    static constexpr int ScrollPanelWidth = 20;

protected:
    void mouseMoveEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    void ScrollBarScroll(int position);
    void ListMouseMove();
    void ListResize();
    void PlaceScrollPanel();
    void ScheduleThumbnails();
    bool IsOnScreen(const TBild* item) const;

    QList<TBild*> items;
    int itemHeight = 100;
    int itemWidth = 100;
    int captionGap = 5;
    int lastScrollPos = 0;
    int selectedIndex = 0;
    int pageSize = 0;
    bool arranging = false;
    bool showHint = true;
    QTimer thumbnailTimer;
};

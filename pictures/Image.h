#pragma once

#include <QColor>
#include <QImage>
#include <QPolygonF>
#include <QRectF>
#include <QString>
#include <QThreadPool>
#include <QWidget>

// How the picture held by a TImage was obtained.
enum class TPictureKind {
    None, // no picture
    Bitmap, // a ".bmp" file or a bitmap given with SetPicture
    Jpeg // a ".jpg" file
};

// The image control: draws its picture on a transparent background.
class TImage : public QWidget
{
    Q_OBJECT
public:
    explicit TImage(QWidget* parent = nullptr);

    // Loads the file with LoadPicture; on failure throws TPictureError and keeps the old picture.
    void LoadFromFile(const QString& path);
    // Loads the file on a worker thread, so that a large picture never stalls the window; the old
    // picture stays until the new one is in. Ends with PictureLoaded or PictureLoadFailed, unless a
    // later load, SetPicture or Clear supersedes it (its result is then dropped).
    void LoadFromFileLater(const QString& path);
    // A load started with LoadFromFileLater has not ended yet.
    bool IsLoading() const { return loading; }
    // Holds a copy of any QImage, converted to RGB888 (a null image clears the control).
    void SetPicture(const QImage& picture);
    // The held bitmap, RGB888 (null when empty).
    const QImage& Picture() const { return picture; }
    TPictureKind Kind() const { return kind; }
    void Clear();
    bool IsEmpty() const { return picture.isNull(); }

    // Proportional without Stretch: scale down to fit keeping the aspect ratio (truncating), never
    // enlarge. Proportional with Stretch: scale up or down to fit keeping the aspect ratio.
    // Stretch alone: fill the control. Neither: draw at the picture's own size, clipped.
    // Center: centre the drawn picture in the control; otherwise draw from the top-left corner.
    void SetProportional(bool value);
    void SetStretch(bool value);
    void SetCenter(bool value);
    bool Proportional() const { return proportional; }
    bool Stretch() const { return stretch; }
    bool Center() const { return center; }

    // The rectangle, in the control's coordinates, in which the picture is drawn (empty when empty).
    QRect DrawRect() const;

    // Marks parts of the picture: `frame` is outlined in FrameColour, `box` dashed in BoxColour, both given
    // in the pixels of a picture of `pictureSize` (the picture as its file holds it) and drawn where that
    // part of the picture is shown, scaled and moved with it. An empty frame or box is not drawn. The marks
    // go with the picture: a new picture, SetPicture and Clear take them away.
    void SetMarks(const QPolygonF& frame, const QRectF& box, QSize pictureSize);
    void ClearMarks();
    bool HasMarks() const { return !markedSize.isEmpty(); }
    // The marks as drawn, in the control's coordinates (empty without marks or picture).
    QPolygonF FrameShown() const;
    QRectF BoxShown() const;
    static const QColor FrameColour; // magenta, seldom seen in photographs
    static const QColor BoxColour; // yellow

signals:
    void PictureLoaded(const QString& path);
    void PictureLoadFailed(const QString& path, const QString& message);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void Take(QImage&& loaded, QImage&& shown, const QString& path);
    // A point of the marked picture where it is drawn.
    QPointF Shown(QPointF point) const;
    // Drops the result of a load still running.
    void Supersede();

    QThreadPool pool; // large-view decoding, apart from the thumbnail workers
    quint64 generation = 0; // counts loads; a result of an older one is dropped
    bool loading = false;
    QImage picture;
    QImage scaled; // the picture at the size last drawn, when that differs from its own
    TPictureKind kind = TPictureKind::None;
    bool proportional = false;
    bool stretch = false;
    bool center = false;
    QPolygonF markedFrame;
    QRectF markedBox;
    QSize markedSize; // empty without marks
};

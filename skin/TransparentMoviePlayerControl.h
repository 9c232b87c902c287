// The skin's host control: a widget without a background of its own that hosts one movie player object,
// lets it draw itself over whatever the parent painted, forwards the mouse to it and raises its events.
#pragma once

#include "ContentManager.h"
#include "player/MoviePlayerInterfaces.h"

#include <QRect>
#include <QVariant>
#include <QWidget>
#include <array>
#include <memory>
#include <stdexcept>

class QPainter;

// A failure the movie player reported in a playback, timeline or variable operation.
class TMoviePlayerError : public std::runtime_error
{
public:
    TMoviePlayerError(const char* operation, Mrv::HResult result);
    Mrv::HResult Result() const { return result; }

private:
    Mrv::HResult result;
};

class TTransparentMoviePlayerControl : public QWidget, private Mrv::IMoviePlayerControlBase
{
    Q_OBJECT
public:
    static constexpr int PropertyCount = static_cast<int>(Mrv::TMovieProperty::MovieData);

    // The player is created when the control first gets a parent; a direct move to another parent keeps it.
    explicit TTransparentMoviePlayerControl(QWidget* parent = nullptr);
    ~TTransparentMoviePlayerControl() override;

    // Loads a movie file path or URL into a layer (the skin uses layer 0). Failures are dropped.
    void LoadMovie(int layer, const QString& urlOrPath);
    // Movies handed over as streams; layer -1 stands for the movie itself.
    void LoadMovieFromStream(int layer, QIODevice& stream);
    void PutMovieFromStream(QIODevice& stream) { LoadMovieFromStream(-1, stream); }
    std::unique_ptr<QIODevice> LoadMovieUsingStream(int layer);
    std::unique_ptr<QIODevice> PutMovieUsingStream() { return LoadMovieUsingStream(-1); }

    // -1 without a player, else the player's major version, at most 8.
    int PlayerVersion() const;
    bool HasPlayer() const { return player != nullptr; }

    // Published properties: kept in a cache, so that they can be read and written before a player exists, and
    // passed to the player when one exists whose version has the property.
    QVariant Property(Mrv::TMovieProperty property) const;
    void SetProperty(Mrv::TMovieProperty property, const QVariant& value);
    QString Movie() const { return Property(Mrv::TMovieProperty::Movie).toString(); }
    void SetMovie(const QString& url) { SetProperty(Mrv::TMovieProperty::Movie, url); }
    bool Playing() const { return Property(Mrv::TMovieProperty::Playing).toBool(); }
    void SetPlaying(bool playing) { SetProperty(Mrv::TMovieProperty::Playing, playing); }
    bool Loop() const { return Property(Mrv::TMovieProperty::Loop).toBool(); }
    void SetLoop(bool loop) { SetProperty(Mrv::TMovieProperty::Loop, loop); }
    QString WindowMode() const { return Property(Mrv::TMovieProperty::WindowMode).toString(); }
    void SetWindowMode(const QString& mode) { SetProperty(Mrv::TMovieProperty::WindowMode, mode); }
    QString Scale() const { return Property(Mrv::TMovieProperty::Scale).toString(); }
    void SetScale(const QString& scale) { SetProperty(Mrv::TMovieProperty::Scale, scale); }
    QString QualityName() const { return Property(Mrv::TMovieProperty::QualityName).toString(); }
    void SetQualityName(const QString& quality) { SetProperty(Mrv::TMovieProperty::QualityName, quality); }
    QString Base() const { return Property(Mrv::TMovieProperty::Base).toString(); }
    void SetBase(const QString& base) { SetProperty(Mrv::TMovieProperty::Base, base); }

    // When false (the default) a right button press on the movie is dropped.
    bool StandartMenu() const { return standartMenu; }
    void SetStandartMenu(bool value) { standartMenu = value; }
    // Makes the top-level window frameless and translucent so that only the movie shows; accepted only with a
    // player library of version 3 or later on a window system that composes translucent windows.
    bool MakeParentTransparent() const { return makeParentTransparent; }
    void SetMakeParentTransparent(bool value);

    // Playback operations; below the needed player version they do nothing and return their defaults. A
    // failure of the player throws TMoviePlayerError.
    void Play();
    void Stop();
    void Rewind();
    void GotoFrame(int frame);
    int CurrentFrame() const;
    bool IsPlaying() const;
    int PercentLoaded() const;
    bool FrameLoaded(int frame) const;
    int ReadyState() const;
    int TotalFrames() const;
    void SetVariable(const QString& name, const QString& value);
    QString GetVariable(const QString& name) const;
    QString CallFunction(const QString& request);
    void SetReturnValue(const QString& value);

    // What the player last asked of the host.
    bool Captured() const { return captured; }
    bool Focused() const { return focused; }
    bool Windowless() const { return windowless; }
    bool InPlaceActive() const { return inPlaceActive; }

signals:
    void OnMovieCommand(const QString& command, const QString& args);
    void OnReadyStateChange(int newState);
    void OnProgress(int percentDone);
    void OnExternalCall(const QString& request);
    void OnLoadExternalResource(const QString& url, QIODevice* stream);
    void OnLoadExternalResourceEx(const QString& url, QIODevice* stream, bool* handled);
    void OnDrawBackground(QPainter* canvas);

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    class TSite;
    friend class TSite;

    // IMoviePlayerControlBase
    void SetMovieUrl(const QString& url) override { SetMovie(url); }
    void LoadMovieUrl(int layer, const QString& url) override { LoadMovie(layer, url); }
    QString BaseFolder() const override { return Base(); }
    Mrv::HResult RequestResource(const QString& path, QIODevice& stream) override;
    Mrv::HResult RequestResourceEx(const QString& path, QIODevice& stream, bool handled) override;

    void CreatePlayer();
    void AttachPlayer(Mrv::IUnknownBase* unknown);
    void DetachPlayer();
    bool PropertyOnPlayer(Mrv::TMovieProperty property) const;
    bool HitTest(const QPoint& local) const;
    bool Forward(std::uint32_t msg, std::uintptr_t wParam, const QPoint& local);
    void UpdateObjectRects();
    QSize Himetric() const;

    std::unique_ptr<TSite> site;
    Mrv::IUnknownBase* playerUnknown = nullptr;
    Mrv::IMoviePlayer* player = nullptr;
    Mrv::IOleObject* oleObject = nullptr;
    Mrv::IViewObject* viewObject = nullptr;
    Mrv::IViewObjectEx* viewObjectEx = nullptr;
    Mrv::IOleInPlaceObject* inPlaceObject = nullptr;
    Mrv::IOleInPlaceObjectWindowless* windowlessObject = nullptr;
    Mrv::IConnectionPoint* connectionPoint = nullptr;
    std::uint32_t cookie = 0;
    bool connected = false;

    bool hadParent = false;
    bool inPlaceActive = false;
    bool windowless = false;
    bool uiActive = false;
    bool captured = false;
    bool focused = false;
    bool dcAvailable = false;
    bool containerLocked = false;
    bool painting = false;

    std::array<QVariant, PropertyCount + 1> cache;
    std::array<bool, PropertyCount + 1> stored {};
    bool standartMenu = false;
    bool makeParentTransparent = false;
    struct TLayeredState
    {
        QWidget* window = nullptr;
        Qt::WindowFlags flags;
        bool translucent = false;
        QRect bounds;
    } layered;
};

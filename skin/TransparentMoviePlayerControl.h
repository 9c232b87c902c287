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
    int FrameNum() const { return Property(Mrv::TMovieProperty::FrameNum).toInt(); }
    void SetFrameNum(int frame) { SetProperty(Mrv::TMovieProperty::FrameNum, frame); }
    bool Playing() const { return Property(Mrv::TMovieProperty::Playing).toBool(); }
    void SetPlaying(bool playing) { SetProperty(Mrv::TMovieProperty::Playing, playing); }
    int Quality() const { return Property(Mrv::TMovieProperty::Quality).toInt(); }
    void SetQuality(int quality) { SetProperty(Mrv::TMovieProperty::Quality, quality); }
    int ScaleMode() const { return Property(Mrv::TMovieProperty::ScaleMode).toInt(); }
    void SetScaleMode(int mode) { SetProperty(Mrv::TMovieProperty::ScaleMode, mode); }
    int AlignMode() const { return Property(Mrv::TMovieProperty::AlignMode).toInt(); }
    void SetAlignMode(int mode) { SetProperty(Mrv::TMovieProperty::AlignMode, mode); }
    int BackgroundColor() const { return Property(Mrv::TMovieProperty::BackgroundColor).toInt(); }
    void SetBackgroundColor(int color) { SetProperty(Mrv::TMovieProperty::BackgroundColor, color); }
    bool Loop() const { return Property(Mrv::TMovieProperty::Loop).toBool(); }
    void SetLoop(bool loop) { SetProperty(Mrv::TMovieProperty::Loop, loop); }
    QString WindowMode() const { return Property(Mrv::TMovieProperty::WindowMode).toString(); }
    void SetWindowMode(const QString& mode) { SetProperty(Mrv::TMovieProperty::WindowMode, mode); }
    QString AlignName() const { return Property(Mrv::TMovieProperty::AlignName).toString(); }
    void SetAlignName(const QString& name) { SetProperty(Mrv::TMovieProperty::AlignName, name); }
    bool Menu() const { return Property(Mrv::TMovieProperty::Menu).toBool(); }
    void SetMenu(bool menu) { SetProperty(Mrv::TMovieProperty::Menu, menu); }
    QString Base() const { return Property(Mrv::TMovieProperty::Base).toString(); }
    void SetBase(const QString& base) { SetProperty(Mrv::TMovieProperty::Base, base); }
    QString Scale() const { return Property(Mrv::TMovieProperty::Scale).toString(); }
    void SetScale(const QString& scale) { SetProperty(Mrv::TMovieProperty::Scale, scale); }
    bool DeviceFont() const { return Property(Mrv::TMovieProperty::DeviceFont).toBool(); }
    void SetDeviceFont(bool value) { SetProperty(Mrv::TMovieProperty::DeviceFont, value); }
    bool EmbedMovie() const { return Property(Mrv::TMovieProperty::EmbedMovie).toBool(); }
    void SetEmbedMovie(bool value) { SetProperty(Mrv::TMovieProperty::EmbedMovie, value); }
    QString BGColor() const { return Property(Mrv::TMovieProperty::BGColor).toString(); }
    void SetBGColor(const QString& color) { SetProperty(Mrv::TMovieProperty::BGColor, color); }
    QString QualityName() const { return Property(Mrv::TMovieProperty::QualityName).toString(); }
    void SetQualityName(const QString& quality) { SetProperty(Mrv::TMovieProperty::QualityName, quality); }
    QString RemoteOptions() const { return Property(Mrv::TMovieProperty::RemoteOptions).toString(); }
    void SetRemoteOptions(const QString& value) { SetProperty(Mrv::TMovieProperty::RemoteOptions, value); }
    QString Stacking() const { return Property(Mrv::TMovieProperty::Stacking).toString(); }
    void SetStacking(const QString& value) { SetProperty(Mrv::TMovieProperty::Stacking, value); }
    QString MovieVars() const { return Property(Mrv::TMovieProperty::MovieVars).toString(); }
    void SetMovieVars(const QString& value) { SetProperty(Mrv::TMovieProperty::MovieVars, value); }
    QString ScriptAccess() const { return Property(Mrv::TMovieProperty::ScriptAccess).toString(); }
    void SetScriptAccess(const QString& value) { SetProperty(Mrv::TMovieProperty::ScriptAccess, value); }
    QString MovieData() const { return Property(Mrv::TMovieProperty::MovieData).toString(); }
    void SetMovieData(const QString& value) { SetProperty(Mrv::TMovieProperty::MovieData, value); }

    // When false (the default) a right button press on the movie is dropped.
    bool StandartMenu() const { return standartMenu; }
    void SetStandartMenu(bool value) { standartMenu = value; }
    // Makes the top-level window frameless and translucent so that only the movie shows; accepted only with a
    // player library of version 3 or later on a window system that composes translucent windows.
    bool MakeParentTransparent() const { return makeParentTransparent; }
    void SetMakeParentTransparent(bool value);
    // Whether the window system composes translucent windows (on X: a compositor owns _NET_WM_CM_S<screen>).
    static bool CompositorRunning();

    // Playback operations; below the needed player version they do nothing and return their defaults. A
    // failure of the player throws TMoviePlayerError.
    void SetZoomRect(int left, int top, int right, int bottom);
    void Zoom(int factor);
    void Pan(int x, int y, int mode);
    void Play();
    void Stop();
    void Back();
    void Forward();
    void Rewind();
    void StopPlay();
    void GotoFrame(int frame);
    int CurrentFrame() const;
    bool IsPlaying() const;
    int PercentLoaded() const;
    bool FrameLoaded(int frame) const;
    // The player's values, or the last ones it gave when it cannot be asked.
    int ReadyState() const;
    int TotalFrames() const;
    // Timelines of targets: "/" is the movie, "/outer/inner" an element by the ids of its holders.
    void TGotoFrame(const QString& target, int frame);
    void TGotoLabel(const QString& target, const QString& label);
    int TCurrentFrame(const QString& target) const;
    QString TCurrentLabel(const QString& target) const;
    void TPlay(const QString& target);
    void TStopPlay(const QString& target);
    void SetVariable(const QString& name, const QString& value);
    QString GetVariable(const QString& name) const;
    // Target properties by number (documented with the movie format).
    void TSetProperty(const QString& target, int property, const QString& value);
    QString TGetProperty(const QString& target, int property) const;
    void TCallFrame(const QString& target, int frame);
    void TCallLabel(const QString& target, const QString& label);
    void TSetPropertyNum(const QString& target, int property, double value);
    double TGetPropertyNum(const QString& target, int property) const;
    double TGetPropertyAsNumber(const QString& target, int property) const;
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
    // The toolkit's mouse events of the control, positions in its own coordinates.
    void OnClick();
    void OnDblClick();
    void OnMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, int x, int y);
    void OnMouseMove(Qt::KeyboardModifiers modifiers, int x, int y);
    void OnMouseUp(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, int x, int y);

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
    void UpdateInputRegion();
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

    mutable int cachedReadyState = 0;
    mutable int cachedTotalFrames = 0;
    bool pressInside = false;
    bool regionPending = false; // a press on the movie that a release may turn into a click
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

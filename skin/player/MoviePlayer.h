// The movie player object: loads an MRV movie, plays its animation on its own frame timing, draws itself
// windowless with transparent areas, answers hit tests on opaque pixels and raises button commands.
#pragma once

#include "MovieDocument.h"
#include "MoviePlayerInterfaces.h"

#include <QElapsedTimer>
#include <QHash>
#include <QImage>
#include <QTimer>
#include <map>
#include <memory>

namespace Mrv {

class TMovieLoad;

class TMoviePlayer final : public IMoviePlayer,
                           public IOleObject,
                           public IViewObjectEx,
                           public IOleInPlaceObjectWindowless,
                           public IConnectionPointContainer,
                           public IConnectionPoint
{
public:
    static constexpr std::int32_t EngineVersionValue = 0x00080000; // 8.0
    static constexpr int OpaqueAlpha = 128; // a pixel at least this opaque belongs to the movie

    TMoviePlayer();

    // IUnknownBase
    HResult QueryInterface(const TGuid& iid, void** object) override;
    std::uint32_t AddRef() override { return ++refCount; }
    std::uint32_t Release() override;

    // IMoviePlayer
    HResult GetProperty(TMovieProperty property, QVariant* value) override;
    HResult PutProperty(TMovieProperty property, const QVariant& value) override;
    HResult ReadyState(int* state) override;
    HResult TotalFrames(int* frames) override;
    HResult SetZoomRect(int, int, int, int) override { return ResultNotImpl; }
    HResult Zoom(int) override { return ResultNotImpl; }
    HResult Pan(int, int, int) override { return ResultNotImpl; }
    HResult Play() override;
    HResult Stop() override;
    HResult Back() override { return ResultNotImpl; }
    HResult Forward() override { return ResultNotImpl; }
    HResult Rewind() override;
    HResult StopPlay() override { return Stop(); }
    HResult GotoFrame(int frame) override;
    HResult CurrentFrame(int* frame) override;
    HResult IsPlaying(bool* playing) override;
    HResult PercentLoaded(int* percent) override;
    HResult FrameLoaded(int frame, bool* loaded) override;
    HResult EngineVersion(std::int32_t* version) override;
    HResult LoadMovie(int layer, const QString& url) override;
    HResult SetVariable(const QString& name, const QString& value) override;
    HResult GetVariable(const QString& name, QString* value) override;
    HResult CallFunction(const QString& request, QString* response) override;
    HResult SetReturnValue(const QString& value) override;

    // IOleObject
    HResult SetClientSite(IOleClientSite* site) override;
    HResult SetExtent(int aspect, const QSize& himetric) override;
    HResult DoVerb(int verb, IOleClientSite* site, int index, QWidget* parent, const QRect& posRect) override;
    HResult Close(int saveOption) override;

    // IViewObjectEx
    HResult Draw(
        int aspect, int index, QPainter* painter, const QRect& bounds, const QRect& windowBounds) override;
    HResult SetAdvise(int, int, IUnknownBase*) override { return ResultOk; }
    HResult QueryHitPoint(
        int aspect, const QRect& bounds, const QPoint& point, int closeHint, int* hitResult) override;

    // IOleInPlaceObjectWindowless
    HResult InPlaceDeactivate() override;
    HResult SetObjectRects(const QRect& posRect, const QRect& clipRect) override;
    HResult OnWindowMessage(
        std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam, std::intptr_t* result) override;

    // IConnectionPointContainer, IConnectionPoint
    HResult FindConnectionPoint(const TGuid& iid, IConnectionPoint** point) override;
    HResult Advise(IUnknownBase* sink, std::uint32_t* cookie) override;
    HResult Unadvise(std::uint32_t cookie) override;

    // Called by the binding that loads a movie.
    void LoadFinished(int generation, HResult status, const QByteArray& bytes);

private:
    ~TMoviePlayer();
    void RaiseEvent(int dispId, const QVariantList& reversedArgs);
    void Invalidate();
    void UpdateTimer();
    void OnFrame();
    void SetReadyState(int state);
    bool EnsureFrame(const QSize& size, qreal pixelRatio);
    QRectF Target(const QSizeF& size) const;
    int ButtonUnder(const QPoint& local) const;
    void ReleaseSites();
    TScaleMode ScaleMode() const;

    std::uint32_t refCount = 0;
    IOleClientSite* clientSite = nullptr;
    IOleInPlaceSiteWindowless* inPlaceSite = nullptr;
    std::map<std::uint32_t, IEventSink*> sinks;
    std::uint32_t nextCookie = 1;

    QHash<int, QVariant> properties;
    QHash<QString, QString> variables;
    QString returnValue;

    std::unique_ptr<TMovieDocument> document;
    TMovieLoad* pendingLoad = nullptr;
    QString loadingUrl;
    int loadGeneration = 0;
    int readyState = 4;
    int percentLoaded = 0;

    QRect posRect;
    QSize extent;
    bool active = false;
    bool windowless = false;

    bool playing = false;
    QTimer frameTimer;
    QElapsedTimer clock;

    QImage frame;
    bool frameDirty = true;
    int hoverButton = -1;
    int pressedButton = -1;
};

} // namespace Mrv

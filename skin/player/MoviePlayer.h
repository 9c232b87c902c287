// The movie player object: loads an MRV movie, plays it on one clock, draws itself windowless with
// transparent areas through its view transform, answers hit tests on opaque pixels and raises button
// commands. The work is done by small units: the document (parsing, targets, drawing a state), the clock
// (frames and playing), the view transform (scale mode, zoom and pan), the targets' property table and the
// fetching of movies through the host.
#pragma once

#include "MovieClock.h"
#include "MovieDocument.h"
#include "MoviePlayerInterfaces.h"
#include "MovieResources.h"
#include "MovieSound.h"
#include "ViewTransform.h"

#include <QHash>
#include <QImage>
#include <map>
#include <memory>

namespace Mrv {

class TMovieFetch;
class TMovieTargets;

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
    HResult SetZoomRect(int left, int top, int right, int bottom) override;
    HResult Zoom(int factor) override;
    HResult Pan(int x, int y, int mode) override;
    HResult Play() override;
    HResult Stop() override;
    HResult Back() override;
    HResult Forward() override;
    HResult Rewind() override;
    HResult StopPlay() override;
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
    HResult TGotoFrame(const QString& target, int frame) override;
    HResult TGotoLabel(const QString& target, const QString& label) override;
    HResult TCurrentFrame(const QString& target, int* frame) override;
    HResult TCurrentLabel(const QString& target, QString* label) override;
    HResult TPlay(const QString& target) override;
    HResult TStopPlay(const QString& target) override;
    HResult TCallFrame(const QString& target, int frame) override;
    HResult TCallLabel(const QString& target, const QString& label) override;
    HResult TSetProperty(const QString& target, int property, const QString& value) override;
    HResult TGetProperty(const QString& target, int property, QString* value) override;
    HResult TSetPropertyNum(const QString& target, int property, double value) override;
    HResult TGetPropertyNum(const QString& target, int property, double* value) override;
    HResult TGetPropertyAsNumber(const QString& target, int property, double* value) override;

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

private:
    ~TMoviePlayer();
    void RaiseEvent(int dispId, const QVariantList& reversedArgs);
    void Invalidate();
    void Changed();
    void SetReadyState(int state);
    struct TLayer;
    void LoadFinished(int generation, HResult status, const QByteArray& bytes);
    void Show(std::unique_ptr<TMovieDocument> loaded, const QString& url);
    void Unload();
    HResult LoadLayer(int layer, const QString& url);
    void LayerLoaded(int layer, int generation, HResult status, const QByteArray& bytes);
    void FetchImages(TMovieDocument* shown, TMovieResources& from, const QString& url);
    void Progress(std::uint64_t done, std::uint64_t total);
    // A button of a layer as one number: the layer times ButtonsPerLayer plus its index.
    static constexpr int ButtonsPerLayer = 1 << 20;
    const TMovieButton* ButtonOf(int code) const;
    void RunActions(int timeline, int frame);
    void RunLayerActions(int layer, int timeline, int frame);
    bool LayerShows(int layer, int generation) const;
    void ApplyMovieVars();
    bool EnsureFrame(const QSize& size, qreal pixelRatio);
    QRectF Area(const QSize& size) const { return QRectF(QPointF(0, 0), QSizeF(size)); }
    QTransform ViewFor(const QRectF& area) const;
    int ButtonUnder(const QPoint& local) const;
    void LookChanged(int oldHover, int oldPressed);
    void PlaySound(const QString& href);
    void ReleaseSites();
    TScaleMode ScaleMode() const;
    // The variable a name stands for: "name" on the movie, "/target:name" on a target; empty when the
    // target is unknown.
    QString VariableKey(const QString& name) const;
    std::unique_ptr<TMovieTargets> Targets();
    HResult ReadProperty(const QString& target, int property, QVariant* value);
    // A text value is read as a number; a number is set as it is.
    HResult WriteProperty(const QString& target, int property, const QVariant& value);
    // The element of a target and the timeline it plays on; false for an unknown target.
    bool Resolve(const QString& target, int* element, int* timeline = nullptr) const;

    std::uint32_t refCount = 0;
    IOleClientSite* clientSite = nullptr;
    IOleInPlaceSiteWindowless* inPlaceSite = nullptr;
    std::map<std::uint32_t, IEventSink*> sinks;
    std::uint32_t nextCookie = 1;

    QHash<int, QVariant> properties;
    QString returnValue;

    std::unique_ptr<TMovieDocument> document;
    // The targets' changed properties and the variables; the frames come from the clock when drawing.
    TMovieState state;
    TMovieClock clock;
    TViewTransform view;
    TMovieResources resources;
    TSoundOutput sound;
    QHash<QString, TWave> waves; // the main movie's sounds that arrived and could be read
    // Movies loaded above the main one, by layer number (above 0), drawn and hit in that order.
    std::map<int, std::unique_ptr<TLayer>> layers;
    TMovieFetch* pendingLoad = nullptr;
    QString loadingUrl;
    int loadGeneration = 0;
    int lastProgress = -1;
    int readyState = 4;
    int percentLoaded = 0;

    QRect posRect;
    QSize extent;
    bool active = false;
    bool windowless = false;

    QImage frame;
    bool frameDirty = true;
    int hoverButton = -1;
    int pressedButton = -1;
    bool pressArmed = false; // the press may raise the command on release (a double click's may not)
};

} // namespace Mrv

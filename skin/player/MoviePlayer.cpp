#include "MoviePlayer.h"

#include "MovieFetch.h"
#include "MovieTargets.h"

#include <QColor>
#include <QPainter>
#include <QUrlQuery>
#include <QXmlStreamReader>
#include <cmath>

namespace Mrv {

namespace {

const TPlayerHostServices* hostServices = nullptr;

int LayerOf(int code, int perLayer)
{
    return code / perLayer;
}

QVariant DefaultValue(TMovieProperty property)
{
    switch (property) {
    case TMovieProperty::FrameNum:
    case TMovieProperty::BackgroundColor:
        return -1;
    case TMovieProperty::Quality:
        return 1;
    case TMovieProperty::ScaleMode:
    case TMovieProperty::AlignMode:
        return 0;
    case TMovieProperty::Playing:
    case TMovieProperty::DeviceFont:
    case TMovieProperty::EmbedMovie:
        return false;
    case TMovieProperty::Loop:
    case TMovieProperty::Menu:
        return true;
    case TMovieProperty::WindowMode:
        return QStringLiteral("Window");
    case TMovieProperty::Scale:
        return QStringLiteral("ShowAll");
    case TMovieProperty::QualityName:
        return QStringLiteral("High");
    default:
        return QString();
    }
}

// The function a host's call names: the name of an <invoke name="..."> request, or the request itself.
QString FunctionName(const QString& request)
{
    const QString trimmed = request.trimmed();
    if (!trimmed.startsWith(QLatin1Char('<')))
        return trimmed;
    QXmlStreamReader reader(trimmed);
    while (reader.readNextStartElement())
        return reader.name() == QLatin1String("invoke")
            ? reader.attributes().value(QLatin1String("name")).toString()
            : QString();
    return {};
}

} // namespace

// A movie above the main one: it plays on its clock and its buttons raise their commands; the operations,
// targets and variables of the player are the main movie's.
struct TMoviePlayer::TLayer
{
    TLayer(TMoviePlayer* player, int number)
        : clock([player] { player->Changed(); },
              [player, number](int timeline, int frame) { player->RunLayerActions(number, timeline, frame); })
    { }
    ~TLayer()
    {
        clock.SetActive(false);
        if (pending)
            pending->Cancel();
    }
    std::unique_ptr<TMovieDocument> document;
    TMovieClock clock;
    TMovieState state;
    TMovieResources resources;
    TMovieFetch* pending = nullptr;
    int generation = 0;
    QString url;
};

TMoviePlayer::TMoviePlayer()
    : clock([this] { Changed(); }, [this](int timeline, int frame) { RunActions(timeline, frame); })
{ }

TMoviePlayer::~TMoviePlayer()
{
    clock.SetActive(false);
    layers.clear();
    resources.Forget();
    if (pendingLoad)
        pendingLoad->Cancel();
    for (auto& [cookie, sink] : sinks)
        sink->Release();
    ReleaseSites();
}

HResult TMoviePlayer::QueryInterface(const TGuid& iid, void** object)
{
    if (!object)
        return ResultPointer;
    *object = nullptr;
    if (iid == IidUnknown || iid == IidMoviePlayer)
        *object = static_cast<IMoviePlayer*>(this);
    else if (iid == IidOleObject)
        *object = static_cast<IOleObject*>(this);
    else if (iid == IidViewObject || iid == IidViewObjectEx)
        *object = static_cast<IViewObjectEx*>(this);
    else if (iid == IidInPlaceObject || iid == IidInPlaceObjectWindowless)
        *object = static_cast<IOleInPlaceObjectWindowless*>(this);
    else if (iid == IidConnectionPointContainer)
        *object = static_cast<IConnectionPointContainer*>(this);
    else if (iid == IidConnectionPoint)
        *object = static_cast<IConnectionPoint*>(this);
    if (!*object)
        return ResultNoInterface;
    AddRef();
    return ResultOk;
}

std::uint32_t TMoviePlayer::Release()
{
    const std::uint32_t count = --refCount;
    if (count == 0)
        delete this;
    return count;
}

void TMoviePlayer::ReleaseSites()
{
    if (inPlaceSite)
        inPlaceSite->Release();
    inPlaceSite = nullptr;
    if (clientSite)
        clientSite->Release();
    clientSite = nullptr;
}

// --- properties --------------------------------------------------------------------------------------------

HResult TMoviePlayer::GetProperty(TMovieProperty property, QVariant* value)
{
    if (!value)
        return ResultPointer;
    switch (property) {
    case TMovieProperty::Playing:
        *value = clock.Playing(0);
        return ResultOk;
    case TMovieProperty::FrameNum:
        *value = document ? clock.Frame(0) : -1;
        return ResultOk;
    default:
        break;
    }
    const int key = static_cast<int>(property);
    *value = properties.contains(key) ? properties.value(key) : DefaultValue(property);
    return ResultOk;
}

HResult TMoviePlayer::PutProperty(TMovieProperty property, const QVariant& value)
{
    const int key = static_cast<int>(property);
    switch (property) {
    case TMovieProperty::Movie:
        return LoadMovie(0, value.toString());
    case TMovieProperty::Playing:
        return value.toBool() ? Play() : Stop();
    case TMovieProperty::FrameNum:
        return value.toInt() < 0 ? ResultOk : GotoFrame(value.toInt());
    case TMovieProperty::Scale: {
        static const QStringList names = { "showall", "noborder", "exactfit", "noscale" };
        const int mode = names.indexOf(value.toString().toLower());
        if (mode >= 0)
            properties.insert(static_cast<int>(TMovieProperty::ScaleMode), mode);
        break;
    }
    case TMovieProperty::ScaleMode: {
        static const QStringList names = { "ShowAll", "NoBorder", "ExactFit", "NoScale" };
        const int mode = value.toInt();
        if (mode < 0 || mode > 3)
            return ResultInvalidArg;
        properties.insert(static_cast<int>(TMovieProperty::Scale), names.at(mode));
        break;
    }
    case TMovieProperty::BGColor: {
        const QColor color(value.toString());
        properties.insert(static_cast<int>(TMovieProperty::BackgroundColor),
            color.isValid() ? static_cast<int>(color.rgb() & 0xFFFFFF) : -1);
        break;
    }
    default:
        break;
    }
    properties.insert(key, value);
    if (property == TMovieProperty::Loop)
        clock.SetLoop(value.toBool());
    if (property == TMovieProperty::MovieVars)
        ApplyMovieVars();
    Changed();
    return ResultOk;
}

TScaleMode TMoviePlayer::ScaleMode() const
{
    QVariant mode;
    const_cast<TMoviePlayer*>(this)->GetProperty(TMovieProperty::ScaleMode, &mode);
    return static_cast<TScaleMode>(std::clamp(mode.toInt(), 0, 3));
}

// --- playback ----------------------------------------------------------------------------------------------

HResult TMoviePlayer::ReadyState(int* value)
{
    if (!value)
        return ResultPointer;
    *value = readyState;
    return ResultOk;
}

HResult TMoviePlayer::TotalFrames(int* frames)
{
    if (!frames)
        return ResultPointer;
    *frames = document ? document->TotalFrames() : 0;
    return ResultOk;
}

HResult TMoviePlayer::Play()
{
    clock.Play();
    return ResultOk;
}

HResult TMoviePlayer::Stop()
{
    clock.Stop();
    return ResultOk;
}

HResult TMoviePlayer::StopPlay()
{
    clock.StopPlay();
    return ResultOk;
}

HResult TMoviePlayer::Back()
{
    clock.Stop();
    if (document)
        clock.Seek(0, std::max(0, clock.Frame(0) - 1));
    return ResultOk;
}

HResult TMoviePlayer::Forward()
{
    clock.Stop();
    if (document)
        clock.Seek(0, clock.Frame(0) + 1);
    return ResultOk;
}

HResult TMoviePlayer::Rewind()
{
    clock.Stop();
    if (document)
        clock.Seek(0, 0);
    return ResultOk;
}

HResult TMoviePlayer::GotoFrame(int frameNumber)
{
    if (!document)
        return ResultOk;
    return clock.Seek(0, frameNumber) ? ResultOk : ResultInvalidArg;
}

HResult TMoviePlayer::CurrentFrame(int* frameNumber)
{
    if (!frameNumber)
        return ResultPointer;
    *frameNumber = clock.Frame(0);
    return ResultOk;
}

HResult TMoviePlayer::IsPlaying(bool* isPlaying)
{
    if (!isPlaying)
        return ResultPointer;
    *isPlaying = clock.Playing(0);
    return ResultOk;
}

HResult TMoviePlayer::PercentLoaded(int* percent)
{
    if (!percent)
        return ResultPointer;
    *percent = percentLoaded;
    return ResultOk;
}

HResult TMoviePlayer::FrameLoaded(int frameNumber, bool* loaded)
{
    if (!loaded)
        return ResultPointer;
    *loaded = document && frameNumber >= 0 && frameNumber < document->TotalFrames();
    return ResultOk;
}

HResult TMoviePlayer::EngineVersion(std::int32_t* version)
{
    if (!version)
        return ResultPointer;
    *version = EngineVersionValue;
    return ResultOk;
}

void TMoviePlayer::Changed()
{
    frameDirty = true;
    Invalidate();
}

void TMoviePlayer::Invalidate()
{
    if (inPlaceSite && active)
        inPlaceSite->InvalidateRect(&posRect, false);
}

void TMoviePlayer::SetReadyState(int value)
{
    readyState = value;
    RaiseEvent(DispIdReadyStateChange, { value });
}

// --- zoom and pan ------------------------------------------------------------------------------------------

HResult TMoviePlayer::SetZoomRect(int left, int top, int right, int bottom)
{
    if (!document)
        return ResultOk;
    if (!view.SetZoomRect(QRectF(QPointF(left, top), QPointF(right, bottom))))
        return ResultInvalidArg;
    Changed();
    return ResultOk;
}

HResult TMoviePlayer::Zoom(int factor)
{
    if (!document)
        return ResultOk;
    if (!view.Zoom(factor))
        return ResultInvalidArg;
    Changed();
    return ResultOk;
}

HResult TMoviePlayer::Pan(int x, int y, int mode)
{
    if (!document)
        return ResultOk;
    if (!view.Pan(x, y, mode, Area(posRect.size()), ScaleMode()))
        return ResultInvalidArg;
    Changed();
    return ResultOk;
}

// The view's transform, with the movie's own moves (its target properties) applied about its centre.
QTransform TMoviePlayer::ViewFor(const QRectF& area) const
{
    QTransform transform = view.View(area, ScaleMode());
    const TTargetOverride root = state.overrides.value(0);
    if (root.x == 0 && root.y == 0 && root.scaleX == 100 && root.scaleY == 100 && root.rotation == 0)
        return transform;
    const QRectF target = view.Target(area, ScaleMode());
    const QRectF box = document->ViewBox();
    const double sx = target.width() / box.width();
    const double sy = target.height() / box.height();
    QTransform own;
    own.translate(target.center().x() + root.x * sx, target.center().y() + root.y * sy);
    own.rotate(root.rotation);
    own.scale(root.scaleX / 100, root.scaleY / 100);
    own.translate(-target.center().x(), -target.center().y());
    return own * transform;
}

// --- timelines, targets and variables ----------------------------------------------------------------------

std::unique_ptr<TMovieTargets> TMoviePlayer::Targets()
{
    return document ? std::make_unique<TMovieTargets>(*document, clock, state) : nullptr;
}

bool TMoviePlayer::Resolve(const QString& target, int* element, int* timeline) const
{
    if (!document)
        return false;
    const int found = document->TargetElement(target.trimmed());
    if (found < 0)
        return false;
    *element = found;
    if (timeline)
        *timeline = document->TimelineOf(found);
    return true;
}

HResult TMoviePlayer::TGotoFrame(const QString& target, int frameNumber)
{
    int element = 0, timeline = 0;
    if (!Resolve(target, &element, &timeline))
        return ResultInvalidArg;
    return clock.Seek(timeline, frameNumber) ? ResultOk : ResultInvalidArg;
}

HResult TMoviePlayer::TGotoLabel(const QString& target, const QString& label)
{
    int element = 0, timeline = 0;
    if (!Resolve(target, &element, &timeline) || !document->Timelines()[timeline].labels.contains(label))
        return ResultInvalidArg;
    clock.Seek(timeline, document->Timelines()[timeline].labels.value(label));
    return ResultOk;
}

HResult TMoviePlayer::TCurrentFrame(const QString& target, int* frameNumber)
{
    int element = 0, timeline = 0;
    if (!frameNumber)
        return ResultPointer;
    if (!Resolve(target, &element, &timeline))
        return ResultInvalidArg;
    *frameNumber = clock.Frame(timeline);
    return ResultOk;
}

HResult TMoviePlayer::TCurrentLabel(const QString& target, QString* label)
{
    int element = 0, timeline = 0;
    if (!label)
        return ResultPointer;
    if (!Resolve(target, &element, &timeline))
        return ResultInvalidArg;
    *label = document->Timelines()[timeline].LabelOf(clock.Frame(timeline));
    return ResultOk;
}

HResult TMoviePlayer::TPlay(const QString& target)
{
    int element = 0, timeline = 0;
    if (!Resolve(target, &element, &timeline))
        return ResultInvalidArg;
    clock.SetPlaying(timeline, true);
    return ResultOk;
}

HResult TMoviePlayer::TStopPlay(const QString& target)
{
    int element = 0, timeline = 0;
    if (!Resolve(target, &element, &timeline))
        return ResultInvalidArg;
    clock.SetPlaying(timeline, false);
    return ResultOk;
}

HResult TMoviePlayer::TCallFrame(const QString& target, int frameNumber)
{
    int element = 0, timeline = 0;
    if (!Resolve(target, &element, &timeline) || frameNumber < 0 || frameNumber >= clock.Total(timeline))
        return ResultInvalidArg;
    RunActions(timeline, frameNumber);
    return ResultOk;
}

HResult TMoviePlayer::TCallLabel(const QString& target, const QString& label)
{
    int element = 0, timeline = 0;
    if (!Resolve(target, &element, &timeline) || !document->Timelines()[timeline].labels.contains(label))
        return ResultInvalidArg;
    RunActions(timeline, document->Timelines()[timeline].labels.value(label));
    return ResultOk;
}

HResult TMoviePlayer::ReadProperty(const QString& target, int property, QVariant* value)
{
    int element = 0;
    if (!Resolve(target, &element))
        return ResultInvalidArg;
    return Targets()->Get(element, property, value);
}

HResult TMoviePlayer::WriteProperty(const QString& target, int property, const QVariant& value)
{
    int element = 0;
    if (!Resolve(target, &element))
        return ResultInvalidArg;
    const HResult result = value.typeId() == QMetaType::QString
        ? Targets()->SetText(element, property, value.toString())
        : Targets()->Set(element, property, value.toDouble());
    if (Succeeded(result))
        Changed();
    return result;
}

HResult TMoviePlayer::TSetProperty(const QString& target, int property, const QString& value)
{
    return WriteProperty(target, property, value);
}

HResult TMoviePlayer::TGetProperty(const QString& target, int property, QString* value)
{
    if (!value)
        return ResultPointer;
    QVariant read;
    const HResult result = ReadProperty(target, property, &read);
    if (Succeeded(result))
        *value = read.typeId() == QMetaType::Double ? QString::number(read.toDouble(), 'g', 15)
                                                    : read.toString();
    return result;
}

HResult TMoviePlayer::TSetPropertyNum(const QString& target, int property, double value)
{
    return WriteProperty(target, property, value);
}

HResult TMoviePlayer::TGetPropertyNum(const QString& target, int property, double* value)
{
    if (!value)
        return ResultPointer;
    if (TMovieTargets::IsText(property))
        return ResultInvalidArg;
    QVariant read;
    const HResult result = ReadProperty(target, property, &read);
    if (Succeeded(result))
        *value = read.toDouble();
    return result;
}

// Like TGetPropertyNum, but a text property answers the number it reads as (0 when it is none).
HResult TMoviePlayer::TGetPropertyAsNumber(const QString& target, int property, double* value)
{
    if (!value)
        return ResultPointer;
    QVariant read;
    const HResult result = ReadProperty(target, property, &read);
    if (Succeeded(result))
        *value = read.toString().toDouble();
    return result;
}

QString TMoviePlayer::VariableKey(const QString& name) const
{
    const qsizetype colon = name.lastIndexOf(QLatin1Char(':'));
    if (!name.startsWith(QLatin1Char('/')) || colon < 0)
        return name;
    const QString target = name.left(colon).trimmed();
    const QString variable = name.mid(colon + 1);
    if (target == QLatin1String("/"))
        return variable;
    // Before a movie is loaded no target can be checked; the name is kept as given.
    if (document && document->TargetElement(target) < 0)
        return {};
    return target + QLatin1Char(':') + variable;
}

HResult TMoviePlayer::SetVariable(const QString& name, const QString& value)
{
    const QString key = VariableKey(name);
    if (key.isEmpty())
        return ResultInvalidArg;
    state.variables.insert(key, value);
    Changed();
    return ResultOk;
}

HResult TMoviePlayer::GetVariable(const QString& name, QString* value)
{
    if (!value)
        return ResultPointer;
    const QString key = VariableKey(name);
    if (key.isEmpty())
        return ResultInvalidArg;
    *value = state.variables.value(key);
    return ResultOk;
}

// MovieVars: "name=value&other=value", URL-encoded, set as the movie's variables.
void TMoviePlayer::ApplyMovieVars()
{
    const QString vars = properties.value(static_cast<int>(TMovieProperty::MovieVars)).toString();
    if (vars.isEmpty())
        return;
    const QUrlQuery query(vars);
    for (const auto& [name, value] : query.queryItems(QUrl::FullyDecoded))
        if (!name.isEmpty())
            SetVariable(name, value);
}

// A function the movie declares answers itself: its frame's actions run and its result is the answer.
// Other calls go to the host as an external call, whose answer (given through SetReturnValue while the
// event runs) is the response.
HResult TMoviePlayer::CallFunction(const QString& request, QString* response)
{
    if (!response)
        return ResultPointer;
    const QString name = FunctionName(request);
    if (document && !name.isEmpty())
        for (const TMovieFunction& function : document->Functions())
            if (function.name == name) {
                if (function.frame >= 0)
                    RunActions(0, std::min(function.frame, document->TotalFrames() - 1));
                QString answer = function.result;
                for (auto it = state.variables.begin(); it != state.variables.end(); ++it)
                    answer.replace(QLatin1Char('{') + it.key() + QLatin1Char('}'), it.value());
                *response = answer;
                return ResultOk;
            }
    returnValue.clear();
    RaiseEvent(DispIdExternalCall, { request });
    *response = returnValue;
    return ResultOk;
}

HResult TMoviePlayer::SetReturnValue(const QString& value)
{
    returnValue = value;
    return ResultOk;
}

namespace {
std::vector<TFrameAction> ActionsOf(const TMovieDocument* movie, int timeline, int frameNumber)
{
    std::vector<TFrameAction> actions;
    if (!movie || timeline < 0 || timeline >= static_cast<int>(movie->Timelines().size()))
        return actions;
    for (const TFrameAction& action : movie->Timelines()[timeline].actions)
        if (action.frame == frameNumber)
            actions.push_back(action);
    return actions;
}
} // namespace

// The actions of a frame: its variables are set, then its commands raised.
void TMoviePlayer::RunActions(int timeline, int frameNumber)
{
    const std::vector<TFrameAction> actions = ActionsOf(document.get(), timeline, frameNumber);
    if (actions.empty())
        return;
    for (const TFrameAction& action : actions)
        if (!action.variable.isEmpty())
            SetVariable(action.variable, action.value);
    AddRef(); // a command may make the host drop the player
    const int generation = loadGeneration;
    for (const TFrameAction& action : actions)
        if (!action.command.isEmpty() && generation == loadGeneration)
            RaiseEvent(DispIdMovieCommand, { action.args, action.command });
    Release();
}

// True while the layer shows the movie of that load.
bool TMoviePlayer::LayerShows(int number, int generation) const
{
    const auto found = layers.find(number);
    return found != layers.end() && found->second->generation == generation && found->second->document;
}

// The same for a movie in an upper layer: the variables it sets are its own (its texts show them), its
// commands reach the host as the main movie's do. A command may unload or replace the layer; its remaining
// commands are then dropped.
void TMoviePlayer::RunLayerActions(int number, int timeline, int frameNumber)
{
    const auto found = layers.find(number);
    if (found == layers.end())
        return;
    TLayer& layer = *found->second;
    const std::vector<TFrameAction> actions = ActionsOf(layer.document.get(), timeline, frameNumber);
    if (actions.empty())
        return;
    const int generation = layer.generation;
    bool changed = false;
    for (const TFrameAction& action : actions)
        if (const QString key = VariableKey(action.variable); !key.isEmpty()) {
            layer.state.variables.insert(key, action.value);
            changed = true;
        }
    if (changed)
        Changed();
    AddRef();
    for (const TFrameAction& action : actions)
        if (!action.command.isEmpty() && LayerShows(number, generation))
            RaiseEvent(DispIdMovieCommand, { action.args, action.command });
    Release();
}

// --- loading -----------------------------------------------------------------------------------------------

HResult TMoviePlayer::LoadMovie(int layer, const QString& url)
{
    if (layer < 0)
        return ResultInvalidArg;
    if (layer > 0)
        return LoadLayer(layer, url);
    const int generation = ++loadGeneration;
    if (pendingLoad) {
        pendingLoad->Cancel();
        pendingLoad = nullptr;
    }
    if (url.isEmpty()) {
        Unload();
        return ResultOk;
    }
    percentLoaded = 0;
    lastProgress = -1;
    readyState = 1;
    loadingUrl = url;
    auto failure = std::make_shared<HResult>(ResultOk);
    TMovieFetch* fetch = TMovieFetch::Start(
        hostServices, url, TMovieDocument::MaxBytes,
        [this, generation, failure](HResult status, const QByteArray& bytes) {
            if (Failed(status))
                *failure = status;
            LoadFinished(generation, status, bytes);
        },
        [this, generation](std::uint64_t done, std::uint64_t total) {
            if (generation == loadGeneration)
                Progress(done, total);
        });
    if (fetch) {
        if (generation == loadGeneration)
            pendingLoad = fetch;
        else
            fetch->Cancel();
    }
    return *failure;
}

// A slow (remote) load reports how far it got, each percent once.
void TMoviePlayer::Progress(std::uint64_t done, std::uint64_t total)
{
    if (total == 0)
        return;
    const int percent = static_cast<int>(std::min<std::uint64_t>(100, done * 100 / total));
    if (percent == lastProgress || percent >= 100)
        return;
    lastProgress = percent;
    percentLoaded = percent;
    RaiseEvent(DispIdProgress, { percent });
}

HResult TMoviePlayer::LoadLayer(int number, const QString& url)
{
    if (url.isEmpty()) {
        layers.erase(number);
        Changed();
        return ResultOk;
    }
    auto& slot = layers[number];
    if (!slot)
        slot = std::make_unique<TLayer>(this, number);
    TLayer& layer = *slot;
    const int generation = ++layer.generation;
    if (layer.pending) {
        layer.pending->Cancel();
        layer.pending = nullptr;
    }
    auto failure = std::make_shared<HResult>(ResultOk);
    TMovieFetch* fetch = TMovieFetch::Start(hostServices, url, TMovieDocument::MaxBytes,
        [this, number, generation, failure, url](HResult status, const QByteArray& bytes) {
            if (Failed(status))
                *failure = status;
            const auto found = layers.find(number);
            if (found != layers.end() && generation == found->second->generation)
                found->second->url = url;
            LayerLoaded(number, generation, status, bytes);
        });
    if (fetch) {
        const auto found = layers.find(number);
        if (found != layers.end() && generation == found->second->generation)
            found->second->pending = fetch;
        else
            fetch->Cancel();
    } else if (const auto found = layers.find(number); found != layers.end() && !found->second->document) {
        layers.erase(found); // nothing could be shown there
    }
    return *failure;
}

// A movie that arrived in a layer replaces the one there; one that could not be read leaves it.
void TMoviePlayer::LayerLoaded(int number, int generation, HResult status, const QByteArray& bytes)
{
    const auto found = layers.find(number);
    if (found == layers.end() || generation != found->second->generation)
        return;
    TLayer& layer = *found->second;
    if (layer.pending) {
        layer.pending->Cancel();
        layer.pending = nullptr;
    }
    std::unique_ptr<TMovieDocument> loaded = Succeeded(status) ? TMovieDocument::Parse(bytes) : nullptr;
    if (!loaded)
        return;
    if (LayerOf(hoverButton, ButtonsPerLayer) == number)
        hoverButton = -1;
    if (LayerOf(pressedButton, ButtonsPerLayer) == number)
        pressedButton = -1;
    layer.document = std::move(loaded);
    layer.state = TMovieState();
    layer.clock.Reset(layer.document.get());
    layer.clock.SetActive(active);
    QVariant base;
    GetProperty(TMovieProperty::Base, &base);
    layer.resources.SetMovie(hostServices, layer.url, base.toString());
    FetchImages(layer.document.get(), layer.resources, layer.url);
    Changed();
    // Last: a command of the first frame may unload the layer.
    const int timelines = static_cast<int>(layer.document->Timelines().size());
    for (int timeline = 0; timeline < timelines && LayerShows(number, generation); ++timeline)
        RunLayerActions(number, timeline, 0);
}

// Asks for every picture of a movie; each one drawn as it arrives.
void TMoviePlayer::FetchImages(TMovieDocument* shown, TMovieResources& from, const QString&)
{
    for (const QString& href : shown->ImageReferences())
        from.Fetch(href, [this, shown](const QString& reference, const QByteArray& bytes) {
            shown->SetImage(reference, bytes);
            Changed();
        });
}

void TMoviePlayer::Unload()
{
    Show(nullptr, QString());
    clock.StopPlay();
    percentLoaded = 0;
    SetReadyState(4);
}

void TMoviePlayer::Show(std::unique_ptr<TMovieDocument> loaded, const QString& url)
{
    resources.Forget();
    document = std::move(loaded);
    hoverButton = pressedButton = -1;
    pressArmed = false;
    state.overrides.clear();
    clock.Reset(document.get());
    view.SetMovie(document ? document->ViewBox() : QRectF());
    frame = QImage();
    properties.insert(static_cast<int>(TMovieProperty::Movie), url);
    Changed();
}

// A movie that arrived replaces the one shown; one that could not be read leaves it as it was.
void TMoviePlayer::LoadFinished(int generation, HResult status, const QByteArray& bytes)
{
    if (generation != loadGeneration)
        return;
    AddRef(); // the events below may run host code that drops its last reference
    if (pendingLoad) {
        pendingLoad->Cancel();
        pendingLoad = nullptr;
    }
    std::unique_ptr<TMovieDocument> loaded = Succeeded(status) ? TMovieDocument::Parse(bytes) : nullptr;
    const bool shown = loaded != nullptr;
    if (shown) {
        Show(std::move(loaded), loadingUrl);
        QVariant base;
        GetProperty(TMovieProperty::Base, &base);
        resources.SetMovie(hostServices, loadingUrl, base.toString());
        FetchImages(document.get(), resources, loadingUrl);
        waves.clear();
        for (const TMovieButton& button : document->Buttons())
            for (const QString& href : { button.overSound, button.downSound })
                resources.Fetch(href, [this](const QString& reference, const QByteArray& bytes) {
                    if (std::optional<TWave> wave = ReadWave(bytes))
                        waves.insert(reference, *wave);
                });
        percentLoaded = 100;
        ApplyMovieVars();
        RaiseEvent(DispIdProgress, { 100 });
    } else {
        percentLoaded = document ? 100 : 0;
    }
    SetReadyState(4);
    if (shown && generation == loadGeneration)
        for (int timeline = 0; timeline < clock.Count(); ++timeline)
            RunActions(timeline, 0);
    Release();
}

// --- activation --------------------------------------------------------------------------------------------

HResult TMoviePlayer::SetClientSite(IOleClientSite* site)
{
    if (site)
        site->AddRef();
    ReleaseSites();
    clientSite = site;
    if (clientSite) {
        void* object = nullptr;
        if (Succeeded(clientSite->QueryInterface(IidInPlaceSiteWindowless, &object)))
            inPlaceSite = static_cast<IOleInPlaceSiteWindowless*>(object);
    }
    return ResultOk;
}

HResult TMoviePlayer::SetExtent(int aspect, const QSize& himetric)
{
    if (aspect != AspectContent)
        return ResultInvalidArg;
    extent = himetric;
    return ResultOk;
}

HResult TMoviePlayer::DoVerb(int verb, IOleClientSite* site, int, QWidget*, const QRect& rect)
{
    if (verb != VerbInPlaceActivate)
        return ResultNotImpl;
    if (site && site != clientSite)
        SetClientSite(site);
    if (!inPlaceSite)
        return ResultFail;
    if (active)
        return ResultOk;
    if (inPlaceSite->CanInPlaceActivate() != ResultOk)
        return ResultFail;
    posRect = rect;
    QVariant mode;
    GetProperty(TMovieProperty::WindowMode, &mode);
    const QString windowMode = mode.toString().toLower();
    const bool wantWindowless
        = windowMode == QLatin1String("transparent") || windowMode == QLatin1String("opaque");
    active = true;
    if (wantWindowless && inPlaceSite->CanWindowlessActivate() == ResultOk) {
        windowless = true;
        bool noRedraw = false;
        inPlaceSite->OnInPlaceActivateEx(&noRedraw, ActivateWindowless);
    } else {
        // Without a window of its own the player cannot show itself in windowed mode.
        windowless = false;
        inPlaceSite->OnInPlaceActivate();
    }
    clock.SetActive(true);
    for (auto& [number, layer] : layers)
        layer->clock.SetActive(true);
    Invalidate();
    return ResultOk;
}

HResult TMoviePlayer::InPlaceDeactivate()
{
    if (!active)
        return ResultOk;
    active = false;
    windowless = false;
    clock.SetActive(false);
    for (auto& [number, layer] : layers)
        layer->clock.SetActive(false);
    if (inPlaceSite)
        inPlaceSite->OnInPlaceDeactivateEx(true);
    return ResultOk;
}

HResult TMoviePlayer::Close(int)
{
    InPlaceDeactivate();
    return ResultOk;
}

HResult TMoviePlayer::SetObjectRects(const QRect& position, const QRect&)
{
    if (position.size() != posRect.size())
        frameDirty = true;
    posRect = position;
    Invalidate();
    return ResultOk;
}

// --- drawing and hit testing -------------------------------------------------------------------------------

bool TMoviePlayer::EnsureFrame(const QSize& size, qreal pixelRatio)
{
    const bool layered = std::any_of(
        layers.begin(), layers.end(), [](const auto& layer) { return layer.second->document != nullptr; });
    if ((!document && !layered) || size.isEmpty())
        return false;
    const QSize pixels = (QSizeF(size) * pixelRatio).toSize();
    if (!frameDirty && frame.size() == pixels)
        return true;
    if (frame.size() != pixels) {
        frame = QImage(pixels, QImage::Format_ARGB32_Premultiplied);
        frame.setDevicePixelRatio(pixelRatio);
    }
    QVariant mode, background, quality, qualityName;
    GetProperty(TMovieProperty::WindowMode, &mode);
    GetProperty(TMovieProperty::BackgroundColor, &background);
    GetProperty(TMovieProperty::Quality, &quality);
    GetProperty(TMovieProperty::QualityName, &qualityName);
    if (mode.toString().compare(QLatin1String("transparent"), Qt::CaseInsensitive) != 0
        && background.toInt() >= 0)
        frame.fill(QColor::fromRgb(static_cast<QRgb>(background.toInt())));
    else
        frame.fill(Qt::transparent);
    const bool smooth = quality.toInt() != 0
        && qualityName.toString().compare(QLatin1String("low"), Qt::CaseInsensitive) != 0;
    // The look of the button under the pointer, in the layer it belongs to.
    auto lookIn = [this](int layerNumber, int* button) {
        *button = -1;
        const int code = pressedButton >= 0 ? pressedButton : hoverButton;
        if (code < 0 || LayerOf(code, ButtonsPerLayer) != layerNumber)
            return TButtonLook::Normal;
        *button = code % ButtonsPerLayer;
        if (pressedButton >= 0)
            return hoverButton == pressedButton ? TButtonLook::Down : TButtonLook::Normal;
        return TButtonLook::Over;
    };
    const QRectF area = Area(size);
    const TTargetOverride root = state.overrides.value(0);
    if (document && root.visible) {
        int button = -1;
        const TButtonLook look = lookIn(0, &button);
        state.frames = clock.Frames();
        if (root.opacity >= 100) {
            document->RenderFrame(
                frame, view.Target(area, ScaleMode()), smooth, button, look, &state, ViewFor(area));
        } else {
            QImage layer(frame.size(), QImage::Format_ARGB32_Premultiplied);
            layer.setDevicePixelRatio(pixelRatio);
            layer.fill(Qt::transparent);
            document->RenderFrame(
                layer, view.Target(area, ScaleMode()), smooth, button, look, &state, ViewFor(area));
            QPainter painter(&frame);
            painter.setOpacity(std::max(0.0, root.opacity) / 100);
            painter.drawImage(QPointF(0, 0), layer);
        }
    }
    for (auto& [number, layer] : layers) {
        if (!layer->document)
            continue;
        int button = -1;
        const TButtonLook look = lookIn(number, &button);
        layer->state.frames = layer->clock.Frames();
        layer->document->RenderFrame(frame,
            TViewTransform::Fit(layer->document->ViewBox().size(), area, ScaleMode()), smooth, button, look,
            &layer->state);
    }
    frameDirty = false;
    return true;
}

HResult TMoviePlayer::Draw(int aspect, int, QPainter* painter, const QRect& bounds, const QRect&)
{
    if (aspect != AspectContent || !painter)
        return ResultInvalidArg;
    if (!EnsureFrame(bounds.size(), painter->device() ? painter->device()->devicePixelRatioF() : 1.0))
        return ResultOk;
    painter->drawImage(bounds.topLeft(), frame);
    return ResultOk;
}

HResult TMoviePlayer::QueryHitPoint(int aspect, const QRect& bounds, const QPoint& point, int, int* hitResult)
{
    if (!hitResult)
        return ResultPointer;
    *hitResult = HitResultOutside;
    if (aspect != AspectContent)
        return ResultInvalidArg;
    const QPoint local = point - bounds.topLeft();
    if (!QRect(QPoint(0, 0), bounds.size()).contains(local))
        return ResultOk;
    const qreal ratio = frame.isNull() ? 1.0 : frame.devicePixelRatio();
    if (!EnsureFrame(bounds.size(), ratio))
        return ResultOk;
    const QPoint pixel = (QPointF(local) * ratio).toPoint();
    if (frame.rect().contains(pixel) && qAlpha(frame.pixel(pixel)) >= OpaqueAlpha)
        *hitResult = HitResultHit;
    return ResultOk;
}

// --- input -------------------------------------------------------------------------------------------------

// The button under a point: the upper layers' first, then the main movie's.
int TMoviePlayer::ButtonUnder(const QPoint& local) const
{
    const QRectF area = Area(posRect.size());
    const QPointF point = QPointF(local) + QPointF(0.5, 0.5);
    for (auto it = layers.rbegin(); it != layers.rend(); ++it) {
        const TMovieDocument* upper = it->second->document.get();
        if (!upper)
            continue;
        const QRectF target = TViewTransform::Fit(upper->ViewBox().size(), area, ScaleMode());
        const int index = upper->ButtonAt(upper->ToDocument(point, target), &it->second->state);
        if (index >= 0)
            return it->first * ButtonsPerLayer + index;
    }
    if (!document || !state.overrides.value(0).visible)
        return -1;
    const QPointF unzoomed = ViewFor(area).inverted().map(point);
    return document->ButtonAt(document->ToDocument(unzoomed, view.Target(area, ScaleMode())), &state);
}

const TMovieButton* TMoviePlayer::ButtonOf(int code) const
{
    const int number = LayerOf(code, ButtonsPerLayer);
    const TMovieDocument* owner = document.get();
    if (number > 0) {
        const auto found = layers.find(number);
        owner = found == layers.end() ? nullptr : found->second->document.get();
    }
    const int index = code % ButtonsPerLayer;
    if (!owner || code < 0 || index >= static_cast<int>(owner->Buttons().size()))
        return nullptr;
    return &owner->Buttons()[index];
}

void TMoviePlayer::LookChanged(int oldHover, int oldPressed)
{
    if (hoverButton == oldHover && pressedButton == oldPressed)
        return;
    frameDirty = true;
    Invalidate();
    // A look that appears plays its sound (the main movie's buttons).
    const bool downNow = pressedButton >= 0 && hoverButton == pressedButton;
    const bool downBefore = oldPressed >= 0 && oldHover == oldPressed;
    const bool overNow = pressedButton < 0 && hoverButton >= 0;
    const bool overBefore = oldPressed < 0 && oldHover == hoverButton;
    const int code = pressedButton >= 0 ? pressedButton : hoverButton;
    const TMovieButton* button = LayerOf(code, ButtonsPerLayer) == 0 ? ButtonOf(code) : nullptr;
    if (!button)
        return;
    if (downNow && !(downBefore && oldPressed == pressedButton))
        PlaySound(button->downSound);
    else if (overNow && !overBefore)
        PlaySound(button->overSound);
}

void TMoviePlayer::PlaySound(const QString& href)
{
    const auto found = waves.find(href);
    if (!href.isEmpty() && found != waves.end())
        sound.Play(hostServices, found.value());
}

HResult TMoviePlayer::OnWindowMessage(
    std::uint32_t msg, std::uintptr_t, std::intptr_t lParam, std::intptr_t* result)
{
    if (result)
        *result = 0;
    if (!document && layers.empty())
        return ResultFalse;
    const QPoint local = QPoint(PointX(lParam), PointY(lParam)) - posRect.topLeft();
    const int oldHover = hoverButton;
    const int oldPressed = pressedButton;
    HResult handled = ResultFalse;
    int fired = -1;
    switch (msg) {
    case MsgSetCursor:
        if (inPlaceSite)
            inPlaceSite->SetCursor(hoverButton >= 0 ? Qt::PointingHandCursor : Qt::ArrowCursor);
        if (result)
            *result = 1;
        return ResultOk;
    case MsgMouseMove:
        hoverButton = ButtonUnder(local);
        handled = ResultOk;
        break;
    case MsgMouseLeave:
        hoverButton = -1;
        handled = ResultOk;
        break;
    case MsgRightButtonDown:
    case 0x0207: // middle button down
        // A click anywhere on the movie gives it the focus.
        if (inPlaceSite)
            inPlaceSite->SetFocus(true);
        handled = ResultOk;
        break;
    case MsgLeftButtonDown:
    case MsgLeftButtonDoubleClick:
        if (inPlaceSite)
            inPlaceSite->SetFocus(true);
        hoverButton = ButtonUnder(local);
        if (hoverButton >= 0) {
            pressedButton = hoverButton;
            // The second press of a double click shows the button down but raises nothing: its first click
            // already raised the command.
            pressArmed = msg == MsgLeftButtonDown;
            if (inPlaceSite)
                inPlaceSite->SetCapture(true);
            handled = ResultOk;
        }
        break;
    case MsgLeftButtonUp:
        hoverButton = ButtonUnder(local);
        if (pressedButton >= 0) {
            if (hoverButton == pressedButton && pressArmed)
                fired = pressedButton;
            pressedButton = -1;
            pressArmed = false;
            if (inPlaceSite)
                inPlaceSite->SetCapture(false);
            handled = ResultOk;
        }
        break;
    default:
        break;
    }
    LookChanged(oldHover, oldPressed);
    const TMovieButton* firedButton = fired >= 0 ? ButtonOf(fired) : nullptr;
    if (firedButton) {
        const TMovieButton button = *firedButton;
        AddRef();
        RaiseEvent(DispIdMovieCommand, { button.args, button.command });
        Release();
    }
    return handled;
}

// --- events ------------------------------------------------------------------------------------------------

HResult TMoviePlayer::FindConnectionPoint(const TGuid& iid, IConnectionPoint** point)
{
    if (!point)
        return ResultPointer;
    *point = nullptr;
    if (!(iid == DiidMoviePlayerEvents))
        return ResultNoInterface;
    *point = this;
    AddRef();
    return ResultOk;
}

HResult TMoviePlayer::Advise(IUnknownBase* sink, std::uint32_t* cookie)
{
    if (!sink || !cookie)
        return ResultPointer;
    void* object = nullptr;
    if (Failed(sink->QueryInterface(IidEventSink, &object)))
        return ResultNoInterface;
    *cookie = nextCookie++;
    sinks.emplace(*cookie, static_cast<IEventSink*>(object));
    return ResultOk;
}

HResult TMoviePlayer::Unadvise(std::uint32_t cookie)
{
    const auto found = sinks.find(cookie);
    if (found == sinks.end())
        return ResultInvalidArg;
    IEventSink* sink = found->second;
    sinks.erase(found);
    sink->Release();
    return ResultOk;
}

void TMoviePlayer::RaiseEvent(int dispId, const QVariantList& reversedArgs)
{
    std::vector<IEventSink*> targets;
    for (auto& [cookie, sink] : sinks) {
        sink->AddRef();
        targets.push_back(sink);
    }
    for (IEventSink* sink : targets) {
        sink->Invoke(dispId, reversedArgs);
        sink->Release();
    }
}

// --- the library's exports ---------------------------------------------------------------------------------

namespace {

class TClassFactory final : public IClassFactory
{
public:
    HResult QueryInterface(const TGuid& iid, void** object) override
    {
        if (!object)
            return ResultPointer;
        if (iid == IidUnknown || iid == IidClassFactory) {
            *object = static_cast<IClassFactory*>(this);
            return ResultOk;
        }
        *object = nullptr;
        return ResultNoInterface;
    }
    // The factory is a static object; counting is not needed.
    std::uint32_t AddRef() override { return 2; }
    std::uint32_t Release() override { return 1; }
    HResult CreateInstance(IUnknownBase* outer, const TGuid& iid, void** object) override
    {
        if (!object)
            return ResultPointer;
        *object = nullptr;
        if (outer)
            return ResultNoInterface;
        auto* player = new TMoviePlayer;
        player->AddRef();
        const HResult result = player->QueryInterface(iid, object);
        player->Release();
        return result;
    }
};

TClassFactory factory;

} // namespace

} // namespace Mrv

extern "C" {

__attribute__((visibility("default"))) Mrv::HResult DllGetClassObject(
    const Mrv::TGuid* clsid, const Mrv::TGuid* iid, void** object)
{
    if (!clsid || !iid || !object)
        return Mrv::ResultPointer;
    *object = nullptr;
    if (!(*clsid == Mrv::ClsidMoviePlayer))
        return Mrv::ResultFail;
    return Mrv::factory.QueryInterface(*iid, object);
}

__attribute__((visibility("default"))) extern const Mrv::TPlayerVersionRecord MiravaPlayerVersionRecord;
const Mrv::TPlayerVersionRecord MiravaPlayerVersionRecord = { Mrv::VersionRecordMagic, 8, 0, 0, 0 };

__attribute__((visibility("default"))) void MiravaPlayerSetHostServices(
    const Mrv::TPlayerHostServices* services)
{
    Mrv::hostServices = services && services->size >= sizeof(Mrv::TPlayerHostServices) ? services : nullptr;
}
}

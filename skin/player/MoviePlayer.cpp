#include "MoviePlayer.h"

#include <QColor>
#include <QFile>
#include <QFileInfo>
#include <QPainter>
#include <QUrl>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Mrv {

namespace {

const TPlayerHostServices* hostServices = nullptr;

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

// Reads a local file through the host's file open when the host gave one.
bool ReadLocalFile(const QString& url, QByteArray* bytes)
{
    QString path = url;
    if (url.startsWith(QLatin1String("file:"), Qt::CaseInsensitive))
        path = QUrl(url).toLocalFile();
    const QByteArray name = QFile::encodeName(path);
    // Without waiting on a named pipe or a device; only regular files are read.
    const int fd = hostServices && hostServices->OpenFile
        ? hostServices->OpenFile(name.constData(), O_RDONLY | O_NONBLOCK, 0)
        : ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info
    {
    };
    bool ok = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size <= TMovieDocument::MaxBytes;
    if (ok) {
        bytes->resize(info.st_size);
        qsizetype done = 0;
        while (done < bytes->size()) {
            const ssize_t n = ::read(fd, bytes->data() + done, bytes->size() - done);
            if (n <= 0) {
                ok = n == 0 && done == bytes->size();
                break;
            }
            done += n;
        }
        bytes->truncate(done);
    }
    ::close(fd);
    return ok;
}

} // namespace

// The consumer of one movie binding: gathers the bytes and hands them to the player when the binding stops.
class TMovieLoad final : public IBindStatusCallback
{
public:
    TMovieLoad(TMoviePlayer* player, int generation)
        : player(player)
        , generation(generation)
    { }
    HResult QueryInterface(const TGuid& iid, void** object) override
    {
        if (!object)
            return ResultPointer;
        if (iid == IidUnknown || iid == IidBindStatusCallback) {
            *object = static_cast<IBindStatusCallback*>(this);
            AddRef();
            return ResultOk;
        }
        *object = nullptr;
        return ResultNoInterface;
    }
    std::uint32_t AddRef() override { return ++refCount; }
    std::uint32_t Release() override
    {
        const std::uint32_t count = --refCount;
        if (count == 0)
            delete this;
        return count;
    }
    HResult OnStartBinding() override { return ResultOk; }
    HResult OnDataAvailable(std::uint32_t, std::uint64_t, const QByteArray& data) override
    {
        if (bytes.size() + data.size() > TMovieDocument::MaxBytes)
            tooLarge = true;
        else
            bytes.append(data);
        return ResultOk;
    }
    HResult OnStopBinding(HResult status) override
    {
        if (stopped)
            return ResultOk;
        stopped = true;
        if (player)
            player->LoadFinished(generation, tooLarge ? ResultFail : status, bytes);
        bytes.clear();
        return ResultOk;
    }
    void Detach() { player = nullptr; }

private:
    ~TMovieLoad() = default;
    std::uint32_t refCount = 0;
    TMoviePlayer* player;
    int generation;
    QByteArray bytes;
    bool tooLarge = false;
    bool stopped = false;
};

TMoviePlayer::TMoviePlayer()
{
    frameTimer.setTimerType(Qt::CoarseTimer);
    frameTimer.callOnTimeout([this] { OnFrame(); });
}

TMoviePlayer::~TMoviePlayer()
{
    frameTimer.stop();
    if (pendingLoad) {
        pendingLoad->Detach();
        pendingLoad->Release();
    }
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
        *value = playing;
        return ResultOk;
    case TMovieProperty::FrameNum: {
        int current = 0;
        CurrentFrame(&current);
        *value = document ? current : -1;
        return ResultOk;
    }
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
        UpdateTimer();
    frameDirty = true;
    Invalidate();
    return ResultOk;
}

TScaleMode TMoviePlayer::ScaleMode() const
{
    QVariant mode;
    const_cast<TMoviePlayer*>(this)->GetProperty(TMovieProperty::ScaleMode, &mode);
    return static_cast<TScaleMode>(std::clamp(mode.toInt(), 0, 3));
}

// --- playback ----------------------------------------------------------------------------------------------

HResult TMoviePlayer::ReadyState(int* state)
{
    if (!state)
        return ResultPointer;
    *state = readyState;
    return ResultOk;
}

HResult TMoviePlayer::TotalFrames(int* frames)
{
    if (!frames)
        return ResultPointer;
    *frames = !document        ? 0
        : document->Animated() ? std::max(1,
              static_cast<int>(
                  static_cast<qint64>(document->DurationMs()) * document->FramesPerSecond() / 1000))
                               : 1;
    return ResultOk;
}

HResult TMoviePlayer::Play()
{
    if (!document)
        return ResultOk;
    if (!playing) {
        playing = true;
        clock.start();
    }
    UpdateTimer();
    return ResultOk;
}

HResult TMoviePlayer::Stop()
{
    playing = false;
    UpdateTimer();
    return ResultOk;
}

HResult TMoviePlayer::Rewind()
{
    return GotoFrame(0);
}

// Animations run on the document's own clock, which can only be started again; so only frame 0 can be sought.
HResult TMoviePlayer::GotoFrame(int frameNumber)
{
    if (!document)
        return ResultOk;
    if (frameNumber != 0)
        return ResultNotImpl;
    document->RestartClock();
    clock.start();
    frameDirty = true;
    Invalidate();
    return ResultOk;
}

HResult TMoviePlayer::CurrentFrame(int* frameNumber)
{
    if (!frameNumber)
        return ResultPointer;
    int total = 0;
    TotalFrames(&total);
    *frameNumber = 0;
    if (document && clock.isValid() && total > 1)
        *frameNumber = static_cast<int>(clock.elapsed() * document->FramesPerSecond() / 1000 % total);
    return ResultOk;
}

HResult TMoviePlayer::IsPlaying(bool* isPlaying)
{
    if (!isPlaying)
        return ResultPointer;
    *isPlaying = playing;
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
    int total = 0;
    TotalFrames(&total);
    *loaded = document && frameNumber >= 0 && frameNumber < total;
    return ResultOk;
}

HResult TMoviePlayer::EngineVersion(std::int32_t* version)
{
    if (!version)
        return ResultPointer;
    *version = EngineVersionValue;
    return ResultOk;
}

HResult TMoviePlayer::SetVariable(const QString& name, const QString& value)
{
    variables.insert(name, value);
    return ResultOk;
}

HResult TMoviePlayer::GetVariable(const QString& name, QString* value)
{
    if (!value)
        return ResultPointer;
    *value = variables.value(name);
    return ResultOk;
}

// A movie has no script, so an outside call is passed on to the host as an external call; the host's answer
// (given through SetReturnValue while the event runs) is the response.
HResult TMoviePlayer::CallFunction(const QString& request, QString* response)
{
    if (!response)
        return ResultPointer;
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

void TMoviePlayer::UpdateTimer()
{
    const bool run = playing && active && document && document->Animated();
    if (run && !frameTimer.isActive())
        frameTimer.start(1000 / document->FramesPerSecond());
    else if (!run)
        frameTimer.stop();
}

void TMoviePlayer::OnFrame()
{
    QVariant loop;
    GetProperty(TMovieProperty::Loop, &loop);
    if (!loop.toBool() && document && clock.elapsed() >= document->DurationMs()) {
        Stop();
        return;
    }
    frameDirty = true;
    Invalidate();
}

void TMoviePlayer::Invalidate()
{
    if (inPlaceSite && active)
        inPlaceSite->InvalidateRect(&posRect, false);
}

void TMoviePlayer::SetReadyState(int state)
{
    readyState = state;
    RaiseEvent(DispIdReadyStateChange, { state });
}

// --- loading -----------------------------------------------------------------------------------------------

HResult TMoviePlayer::LoadMovie(int layer, const QString& url)
{
    if (layer != 0)
        return ResultNotImpl; // a skin has one layer
    const int generation = ++loadGeneration;
    if (pendingLoad) {
        pendingLoad->Detach();
        pendingLoad->Release();
        pendingLoad = nullptr;
    }
    if (url.isEmpty()) {
        LoadFinished(generation, ResultFail, {});
        return ResultOk;
    }
    percentLoaded = 0;
    readyState = 1;
    loadingUrl = url;
    if (hostServices && hostServices->BindToStorage) {
        pendingLoad = new TMovieLoad(this, generation);
        pendingLoad->AddRef();
        const HResult result = hostServices->BindToStorage(url, pendingLoad);
        if (Failed(result) && generation == loadGeneration) {
            LoadFinished(generation, result, {});
            return result;
        }
        return ResultOk;
    }
    QByteArray bytes;
    const bool read = ReadLocalFile(url, &bytes);
    LoadFinished(generation, read ? ResultOk : ResultFail, bytes);
    return read ? ResultOk : ResultFail;
}

void TMoviePlayer::LoadFinished(int generation, HResult status, const QByteArray& bytes)
{
    if (generation != loadGeneration)
        return;
    AddRef(); // the events below may run host code that drops its last reference
    if (pendingLoad) {
        pendingLoad->Detach();
        pendingLoad->Release();
        pendingLoad = nullptr;
    }
    document.reset();
    hoverButton = pressedButton = -1;
    if (Succeeded(status))
        document = TMovieDocument::Parse(bytes);
    frameDirty = true;
    frame = QImage();
    properties.insert(static_cast<int>(TMovieProperty::Movie), document ? loadingUrl : QString());
    if (document) {
        percentLoaded = 100;
        playing = false;
        Play();
        RaiseEvent(DispIdProgress, { 100 });
    } else {
        percentLoaded = 0;
        Stop();
    }
    SetReadyState(4);
    Invalidate();
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
    UpdateTimer();
    Invalidate();
    return ResultOk;
}

HResult TMoviePlayer::InPlaceDeactivate()
{
    if (!active)
        return ResultOk;
    active = false;
    windowless = false;
    UpdateTimer();
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

QRectF TMoviePlayer::Target(const QSizeF& size) const
{
    return document ? document->TargetRect(QRectF(QPointF(0, 0), size), ScaleMode()) : QRectF();
}

bool TMoviePlayer::EnsureFrame(const QSize& size, qreal pixelRatio)
{
    if (!document || size.isEmpty())
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
    TButtonLook look = TButtonLook::Normal;
    int button = -1;
    if (pressedButton >= 0) {
        button = pressedButton;
        look = hoverButton == pressedButton ? TButtonLook::Down : TButtonLook::Normal;
    } else if (hoverButton >= 0) {
        button = hoverButton;
        look = TButtonLook::Over;
    }
    document->RenderFrame(frame, Target(QSizeF(size)), smooth, button, look);
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

int TMoviePlayer::ButtonUnder(const QPoint& local) const
{
    if (!document)
        return -1;
    return document->ButtonAt(
        document->ToDocument(QPointF(local) + QPointF(0.5, 0.5), Target(QSizeF(posRect.size()))));
}

HResult TMoviePlayer::OnWindowMessage(
    std::uint32_t msg, std::uintptr_t, std::intptr_t lParam, std::intptr_t* result)
{
    if (result)
        *result = 0;
    if (!document)
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
            if (inPlaceSite)
                inPlaceSite->SetCapture(true);
            handled = ResultOk;
        }
        break;
    case MsgLeftButtonUp:
        hoverButton = ButtonUnder(local);
        if (pressedButton >= 0) {
            if (hoverButton == pressedButton)
                fired = pressedButton;
            pressedButton = -1;
            if (inPlaceSite)
                inPlaceSite->SetCapture(false);
            handled = ResultOk;
        }
        break;
    default:
        break;
    }
    if (hoverButton != oldHover || pressedButton != oldPressed) {
        frameDirty = true;
        Invalidate();
    }
    if (fired >= 0) {
        const TMovieButton button = document->Buttons().at(fired);
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

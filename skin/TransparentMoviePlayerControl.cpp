#include "TransparentMoviePlayerControl.h"

#include "PlayerCodeProvider.h"
#include "SkinSubsystem.h"

#include <QBitmap>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMetaMethod>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QWheelEvent>
#include <xcb/xcb.h>

using namespace Mrv;

namespace {

constexpr unsigned Versions3To8 = 0x1F8;
constexpr unsigned Versions4578 = 0x1B0;
constexpr unsigned Version5 = 0x020;
constexpr unsigned Versions78 = 0x180;

// Which player versions have each property, indexed by dispatch id.
constexpr std::array<unsigned, TTransparentMoviePlayerControl::PropertyCount + 1> PropertyVersions = { 0,
    Versions3To8, Versions3To8, Versions3To8, Versions3To8, Versions3To8, Versions3To8, Versions3To8,
    Versions3To8, Versions3To8, Versions3To8, Versions3To8, Versions3To8, Versions3To8, Versions3To8,
    Versions3To8, Versions3To8, Versions3To8, Versions4578, Version5, Versions78, Versions78, Versions78 };

template <typename T> T* Query(IUnknownBase* unknown, const TGuid& iid)
{
    void* object = nullptr;
    if (!unknown || Failed(unknown->QueryInterface(iid, &object)))
        return nullptr;
    return static_cast<T*>(object);
}

template <typename T> void ReleaseInterface(T*& object)
{
    if (object)
        object->Release();
    object = nullptr;
}

std::uintptr_t KeyState(Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers)
{
    std::uintptr_t state = 0;
    if (buttons & Qt::LeftButton)
        state |= 0x01;
    if (buttons & Qt::RightButton)
        state |= 0x02;
    if (modifiers & Qt::ShiftModifier)
        state |= 0x04;
    if (modifiers & Qt::ControlModifier)
        state |= 0x08;
    if (buttons & Qt::MiddleButton)
        state |= 0x10;
    return state;
}

// Property reads and writes and the load-movie operation drop the player's failures; the other operations
// hand them on to their caller.
void Check(HResult result, const char* operation)
{
    if (Failed(result))
        throw TMoviePlayerError(operation, result);
}

} // namespace

TMoviePlayerError::TMoviePlayerError(const char* operation, HResult result)
    : std::runtime_error(QStringLiteral("The skin's movie player failed in %1 (error 0x%2).")
                             .arg(QLatin1String(operation))
                             .arg(static_cast<std::uint32_t>(result), 8, 16, QLatin1Char('0'))
                             .toStdString())
    , result(result)
{ }

// The host's side of the seam: client site, windowless in-place site, control site, container and event sink.
// Its lifetime is the control's; the reference count is kept only because the interfaces have one.
class TTransparentMoviePlayerControl::TSite final : public IOleClientSite,
                                                    public IOleInPlaceSiteWindowless,
                                                    public IOleControlSite,
                                                    public IOleContainer,
                                                    public IEventSink
{
public:
    explicit TSite(TTransparentMoviePlayerControl* control)
        : control(control)
    { }

    HResult QueryInterface(const TGuid& iid, void** object) override
    {
        if (!object)
            return ResultPointer;
        *object = nullptr;
        if (iid == IidUnknown || iid == IidClientSite)
            *object = static_cast<IOleClientSite*>(this);
        else if (iid == IidInPlaceSiteWindowless)
            *object = static_cast<IOleInPlaceSiteWindowless*>(this);
        else if (iid == IidControlSite)
            *object = static_cast<IOleControlSite*>(this);
        else if (iid == IidContainer)
            *object = static_cast<IOleContainer*>(this);
        else if (iid == IidEventSink)
            *object = static_cast<IEventSink*>(this);
        if (!*object)
            return ResultNoInterface;
        AddRef();
        return ResultOk;
    }
    std::uint32_t AddRef() override { return ++refCount; }
    std::uint32_t Release() override { return refCount > 0 ? --refCount : 0; }

    // IOleClientSite
    HResult GetContainer(IUnknownBase** container) override
    {
        if (!container)
            return ResultPointer;
        *container = static_cast<IOleContainer*>(this);
        AddRef();
        return ResultOk;
    }
    HResult ShowObject() override
    {
        control->update();
        return ResultOk;
    }

    // IOleInPlaceSiteWindowless
    HResult GetWindow(QWidget** window) override
    {
        if (!window)
            return ResultPointer;
        *window = control->parentWidget();
        return ResultOk;
    }
    HResult CanInPlaceActivate() override { return ResultOk; }
    HResult CanWindowlessActivate() override { return ResultOk; }
    HResult OnInPlaceActivate() override
    {
        control->inPlaceActive = true;
        control->windowless = false;
        ReleaseInterface(control->windowlessObject);
        ReleaseInterface(control->inPlaceObject);
        control->inPlaceObject = Query<IOleInPlaceObject>(control->playerUnknown, IidInPlaceObject);
        return ResultOk;
    }
    HResult OnInPlaceActivateEx(bool* noRedraw, std::uint32_t flags) override
    {
        if (noRedraw)
            *noRedraw = false;
        control->inPlaceActive = true;
        ReleaseInterface(control->windowlessObject);
        ReleaseInterface(control->inPlaceObject);
        control->windowless = (flags & ActivateWindowless) != 0;
        if (control->windowless) {
            control->windowlessObject
                = Query<IOleInPlaceObjectWindowless>(control->playerUnknown, IidInPlaceObjectWindowless);
            if (control->windowlessObject) {
                control->windowlessObject->AddRef();
                control->inPlaceObject = control->windowlessObject;
            } else {
                control->windowless = false;
            }
        }
        if (!control->inPlaceObject)
            control->inPlaceObject = Query<IOleInPlaceObject>(control->playerUnknown, IidInPlaceObject);
        control->UpdateObjectRects();
        return ResultOk;
    }
    HResult OnUIActivate() override
    {
        control->uiActive = true;
        return ResultOk;
    }
    HResult OnUIDeactivate(bool) override
    {
        control->uiActive = false;
        return ResultOk;
    }
    HResult OnInPlaceDeactivate() override
    {
        control->inPlaceActive = false;
        control->windowless = false;
        ReleaseInterface(control->windowlessObject);
        ReleaseInterface(control->inPlaceObject);
        return ResultOk;
    }
    HResult OnInPlaceDeactivateEx(bool) override { return OnInPlaceDeactivate(); }
    HResult RequestUIActivate() override { return ResultOk; }
    // Qt grabs the mouse for the widget that took a press until the release, which is the capture asked for.
    HResult GetCapture() override { return control->captured ? ResultOk : ResultFalse; }
    HResult SetCapture(bool capture) override
    {
        control->captured = capture;
        return ResultOk;
    }
    HResult GetFocus() override { return control->focused ? ResultOk : ResultFalse; }
    HResult SetFocus(bool focus) override
    {
        control->focused = focus;
        return ResultOk;
    }
    // The player draws only while the host paints, over the background the parent painted; so drawing
    // surfaces are not handed out.
    HResult GetDC(const QRect*, std::uint32_t, QPainter** painter) override
    {
        if (painter)
            *painter = nullptr;
        return control->dcAvailable ? ResultNotImpl : ResultFail;
    }
    HResult ReleaseDC(QPainter*) override
    {
        control->dcAvailable = true;
        return ResultOk;
    }
    HResult InvalidateRect(const QRect* rect, bool) override
    {
        if (QWidget* parent = control->parentWidget()) {
            if (rect)
                parent->update(*rect);
            else
                parent->update();
        }
        return ResultOk;
    }
    HResult InvalidateRgn(const QRegion* region, bool) override
    {
        if (QWidget* parent = control->parentWidget()) {
            if (region)
                parent->update(*region);
            else
                parent->update();
        }
        return ResultOk;
    }
    HResult ScrollRect(int, int, const QRect&, const QRect&) override { return ResultOk; }
    HResult AdjustRect(QRect*) override { return ResultOk; }
    HResult OnDefWindowMessage(std::uint32_t, std::uintptr_t, std::intptr_t, std::intptr_t* result) override
    {
        if (result)
            *result = 0;
        return ResultOk;
    }
    HResult SetCursor(int cursorShape) override
    {
        control->setCursor(static_cast<Qt::CursorShape>(cursorShape));
        return ResultOk;
    }

    // IOleControlSite
    HResult OnControlInfoChanged() override { return ResultOk; }
    HResult LockInPlaceActive(bool) override { return ResultOk; }
    HResult GetExtendedControl(IUnknownBase** object) override
    {
        if (!object)
            return ResultPointer;
        *object = control->playerUnknown;
        if (!*object)
            return ResultFail;
        (*object)->AddRef();
        return ResultOk;
    }
    HResult OnFocus(bool gotFocus) override
    {
        control->focused = gotFocus;
        return ResultOk;
    }

    // IOleContainer
    HResult LockContainer(bool lock) override
    {
        control->containerLocked = lock;
        return ResultOk;
    }

    // IEventSink: the arguments arrive last first.
    HResult Invoke(int dispId, const QVariantList& args) override
    {
        switch (dispId) {
        case DispIdReadyStateChange:
            control->cachedReadyState = args.value(0).toInt();
            if (control->player)
                control->player->TotalFrames(&control->cachedTotalFrames);
            emit control->OnReadyStateChange(args.value(0).toInt());
            return ResultOk;
        case DispIdMovieCommand:
            emit control->OnMovieCommand(args.value(1).toString(), args.value(0).toString());
            return ResultOk;
        case DispIdExternalCall:
            emit control->OnExternalCall(args.value(0).toString());
            return ResultOk;
        case DispIdProgress:
            emit control->OnProgress(args.value(0).toInt());
            return ResultOk;
        default:
            return ResultMemberNotFound;
        }
    }

private:
    TTransparentMoviePlayerControl* control;
    std::uint32_t refCount = 0;
};

// --- life --------------------------------------------------------------------------------------------------

TTransparentMoviePlayerControl::TTransparentMoviePlayerControl(QWidget* parent)
    : QWidget(parent)
    , site(std::make_unique<TSite>(this))
{
    TSkinSubsystem::Start();
    // The values a main window gives its skin control; they reach the player when it is created.
    auto initial = [this](TMovieProperty property, const QVariant& value, bool isStored) {
        cache[static_cast<int>(property)] = value;
        stored[static_cast<int>(property)] = isStored;
    };
    for (int i = 1; i <= PropertyCount; ++i)
        initial(static_cast<TMovieProperty>(i), QString(), false);
    initial(TMovieProperty::FrameNum, -1, true);
    initial(TMovieProperty::Playing, false, true);
    initial(TMovieProperty::Quality, 1, true);
    initial(TMovieProperty::ScaleMode, 0, true);
    initial(TMovieProperty::AlignMode, 0, true);
    initial(TMovieProperty::BackgroundColor, -1, true);
    initial(TMovieProperty::Loop, true, true);
    initial(TMovieProperty::WindowMode, QStringLiteral("Transparent"), true);
    initial(TMovieProperty::Menu, true, true);
    initial(TMovieProperty::Scale, QStringLiteral("ShowAll"), true);
    initial(TMovieProperty::DeviceFont, false, true);
    initial(TMovieProperty::EmbedMovie, false, true);
    initial(TMovieProperty::QualityName, QStringLiteral("High"), true);

    setGeometry(0, 0, 100, 100);
    setMouseTracking(true);
    setAttribute(Qt::WA_NoSystemBackground);
    setAutoFillBackground(false);
    if (parent) {
        hadParent = true;
        CreatePlayer();
    }
}

TTransparentMoviePlayerControl::~TTransparentMoviePlayerControl()
{
    if (makeParentTransparent)
        SetMakeParentTransparent(false);
    TSkinSubsystem::ContentManager()->ForgetControl(this);
    DetachPlayer();
    TSkinSubsystem::Stop();
}

bool TTransparentMoviePlayerControl::event(QEvent* event)
{
    if (event->type() == QEvent::ParentChange) {
        const bool hasParent = parentWidget() != nullptr;
        if (hasParent && !hadParent && !playerUnknown)
            CreatePlayer();
        else if (hasParent && playerUnknown && oleObject && !inPlaceActive)
            oleObject->DoVerb(VerbInPlaceActivate, site.get(), 0, parentWidget(), geometry());
        hadParent = hasParent;
        UpdateObjectRects();
    }
    return QWidget::event(event);
}

void TTransparentMoviePlayerControl::CreatePlayer()
{
    TPlayerCodeProvider* provider = TSkinSubsystem::PlayerCodeProvider();
    if (!provider)
        return;
    void* object = nullptr;
    provider->CreatePlayer(IidUnknown, &object);
    if (!object)
        return;
    auto* unknown = static_cast<IUnknownBase*>(object);
    player = Query<IMoviePlayer>(unknown, IidMoviePlayer);
    if (player)
        player->PutProperty(TMovieProperty::WindowMode, QStringLiteral("Transparent"));
    AttachPlayer(unknown);
    unknown->Release(); // AttachPlayer keeps its own reference
    // The stored values follow, in the order of the property table.
    for (int i = 1; i <= PropertyCount; ++i)
        if (stored[i])
            SetProperty(static_cast<TMovieProperty>(i), cache[i]);
}

QSize TTransparentMoviePlayerControl::Himetric() const
{
    return QSize(width() * 2540 / std::max(1, logicalDpiX()), height() * 2540 / std::max(1, logicalDpiY()));
}

void TTransparentMoviePlayerControl::AttachPlayer(IUnknownBase* unknown)
{
    unknown->AddRef();
    playerUnknown = unknown;
    oleObject = Query<IOleObject>(unknown, IidOleObject);
    if (!oleObject)
        return;
    oleObject->SetClientSite(site.get());
    viewObject = Query<IViewObject>(unknown, IidViewObject);
    viewObjectEx = Query<IViewObjectEx>(unknown, IidViewObjectEx);
    oleObject->SetExtent(AspectContent, Himetric());
    oleObject->DoVerb(VerbInPlaceActivate, site.get(), 0, parentWidget(), geometry());
    if (QWidget* parent = parentWidget())
        parent->update();
    if (auto* withSite = Query<IObjectWithSite>(unknown, IidObjectWithSite)) {
        withSite->SetSite(static_cast<IOleClientSite*>(site.get()));
        withSite->Release();
    }
    auto* container = Query<IConnectionPointContainer>(unknown, IidConnectionPointContainer);
    if (!container)
        return;
    const HResult found = container->FindConnectionPoint(DiidMoviePlayerEvents, &connectionPoint);
    container->Release();
    if (Failed(found) || !connectionPoint)
        return;
    if (Succeeded(connectionPoint->Advise(static_cast<IEventSink*>(site.get()), &cookie)))
        connected = true;
}

void TTransparentMoviePlayerControl::DetachPlayer()
{
    if (viewObject)
        viewObject->SetAdvise(AspectContent, 0, nullptr);
    if (connected && connectionPoint)
        connectionPoint->Unadvise(cookie);
    connected = false;
    ReleaseInterface(connectionPoint);
    if (oleObject) {
        oleObject->Close(0);
        oleObject->SetClientSite(nullptr);
    }
    ReleaseInterface(windowlessObject);
    ReleaseInterface(inPlaceObject);
    ReleaseInterface(viewObjectEx);
    ReleaseInterface(viewObject);
    ReleaseInterface(oleObject);
    ReleaseInterface(player);
    ReleaseInterface(playerUnknown);
    inPlaceActive = windowless = false;
}

// --- properties and operations -----------------------------------------------------------------------------

int TTransparentMoviePlayerControl::PlayerVersion() const
{
    if (!player)
        return -1;
    std::int32_t version = 0;
    if (Failed(player->EngineVersion(&version)))
        return 0;
    return std::min((static_cast<std::uint32_t>(version) >> 16) & 0xFF, 8u);
}

bool TTransparentMoviePlayerControl::PropertyOnPlayer(TMovieProperty property) const
{
    const int version = PlayerVersion();
    const int index = static_cast<int>(property);
    return version >= 0 && index >= 1 && index <= PropertyCount && (PropertyVersions[index] >> version & 1u);
}

QVariant TTransparentMoviePlayerControl::Property(TMovieProperty property) const
{
    const int index = static_cast<int>(property);
    if (index < 1 || index > PropertyCount)
        return {};
    if (PropertyOnPlayer(property)) {
        QVariant value;
        if (Succeeded(player->GetProperty(property, &value)))
            return value;
    }
    return cache[index];
}

void TTransparentMoviePlayerControl::SetProperty(TMovieProperty property, const QVariant& value)
{
    const int index = static_cast<int>(property);
    if (index < 1 || index > PropertyCount)
        return;
    cache[index] = value;
    stored[index] = true;
    if (PropertyOnPlayer(property))
        player->PutProperty(property, value); // a failure keeps the cached value and is dropped
}

void TTransparentMoviePlayerControl::LoadMovie(int layer, const QString& urlOrPath)
{
    if (PlayerVersion() > 2)
        player->LoadMovie(layer, urlOrPath);
}

void TTransparentMoviePlayerControl::LoadMovieFromStream(int layer, QIODevice& stream)
{
    TSkinSubsystem::ContentManager()->LoadMovieFromStream(this, layer, stream);
}

std::unique_ptr<QIODevice> TTransparentMoviePlayerControl::LoadMovieUsingStream(int layer)
{
    return TSkinSubsystem::ContentManager()->LoadMovieUsingStream(this, layer);
}

void TTransparentMoviePlayerControl::SetZoomRect(int left, int top, int right, int bottom)
{
    if (PlayerVersion() >= 3)
        Check(player->SetZoomRect(left, top, right, bottom), "SetZoomRect");
}

void TTransparentMoviePlayerControl::Zoom(int factor)
{
    if (PlayerVersion() >= 3)
        Check(player->Zoom(factor), "Zoom");
}

void TTransparentMoviePlayerControl::Pan(int x, int y, int mode)
{
    if (PlayerVersion() >= 3)
        Check(player->Pan(x, y, mode), "Pan");
}

void TTransparentMoviePlayerControl::Play()
{
    if (PlayerVersion() >= 3)
        Check(player->Play(), "Play");
}

void TTransparentMoviePlayerControl::Stop()
{
    if (PlayerVersion() >= 3)
        Check(player->Stop(), "Stop");
}

void TTransparentMoviePlayerControl::Back()
{
    if (PlayerVersion() >= 3)
        Check(player->Back(), "Back");
}

void TTransparentMoviePlayerControl::Forward()
{
    if (PlayerVersion() >= 3)
        Check(player->Forward(), "Forward");
}

void TTransparentMoviePlayerControl::Rewind()
{
    if (PlayerVersion() >= 3)
        Check(player->Rewind(), "Rewind");
}

void TTransparentMoviePlayerControl::StopPlay()
{
    if (PlayerVersion() >= 3)
        Check(player->StopPlay(), "StopPlay");
}

void TTransparentMoviePlayerControl::GotoFrame(int frame)
{
    if (PlayerVersion() >= 3)
        Check(player->GotoFrame(frame), "GotoFrame");
}

int TTransparentMoviePlayerControl::CurrentFrame() const
{
    int frame = 0;
    if (PlayerVersion() >= 3)
        Check(player->CurrentFrame(&frame), "CurrentFrame");
    return frame;
}

bool TTransparentMoviePlayerControl::IsPlaying() const
{
    bool playing = true;
    if (PlayerVersion() >= 3)
        Check(player->IsPlaying(&playing), "IsPlaying");
    return playing;
}

int TTransparentMoviePlayerControl::PercentLoaded() const
{
    int percent = 0;
    if (PlayerVersion() >= 3)
        Check(player->PercentLoaded(&percent), "PercentLoaded");
    return percent;
}

bool TTransparentMoviePlayerControl::FrameLoaded(int frame) const
{
    bool loaded = true;
    if (PlayerVersion() >= 3)
        Check(player->FrameLoaded(frame, &loaded), "FrameLoaded");
    return loaded;
}

int TTransparentMoviePlayerControl::ReadyState() const
{
    if (PlayerVersion() >= 3)
        Check(player->ReadyState(&cachedReadyState), "ReadyState");
    return cachedReadyState;
}

int TTransparentMoviePlayerControl::TotalFrames() const
{
    if (PlayerVersion() >= 3)
        Check(player->TotalFrames(&cachedTotalFrames), "TotalFrames");
    return cachedTotalFrames;
}

void TTransparentMoviePlayerControl::TGotoFrame(const QString& target, int frame)
{
    if (PlayerVersion() >= 3)
        Check(player->TGotoFrame(target, frame), "TGotoFrame");
}

void TTransparentMoviePlayerControl::TGotoLabel(const QString& target, const QString& label)
{
    if (PlayerVersion() >= 3)
        Check(player->TGotoLabel(target, label), "TGotoLabel");
}

int TTransparentMoviePlayerControl::TCurrentFrame(const QString& target) const
{
    int frame = 0;
    if (PlayerVersion() >= 3)
        Check(player->TCurrentFrame(target, &frame), "TCurrentFrame");
    return frame;
}

QString TTransparentMoviePlayerControl::TCurrentLabel(const QString& target) const
{
    QString label;
    if (PlayerVersion() >= 3)
        Check(player->TCurrentLabel(target, &label), "TCurrentLabel");
    return label;
}

void TTransparentMoviePlayerControl::TPlay(const QString& target)
{
    if (PlayerVersion() >= 3)
        Check(player->TPlay(target), "TPlay");
}

void TTransparentMoviePlayerControl::TStopPlay(const QString& target)
{
    if (PlayerVersion() >= 3)
        Check(player->TStopPlay(target), "TStopPlay");
}

void TTransparentMoviePlayerControl::SetVariable(const QString& name, const QString& value)
{
    if (PlayerVersion() >= 4)
        Check(player->SetVariable(name, value), "SetVariable");
}

QString TTransparentMoviePlayerControl::GetVariable(const QString& name) const
{
    QString value;
    if (PlayerVersion() >= 4)
        Check(player->GetVariable(name, &value), "GetVariable");
    return value;
}

void TTransparentMoviePlayerControl::TSetProperty(const QString& target, int property, const QString& value)
{
    if (PlayerVersion() >= 4)
        Check(player->TSetProperty(target, property, value), "TSetProperty");
}

QString TTransparentMoviePlayerControl::TGetProperty(const QString& target, int property) const
{
    QString value;
    if (PlayerVersion() >= 4)
        Check(player->TGetProperty(target, property, &value), "TGetProperty");
    return value;
}

void TTransparentMoviePlayerControl::TCallFrame(const QString& target, int frame)
{
    if (PlayerVersion() >= 4)
        Check(player->TCallFrame(target, frame), "TCallFrame");
}

void TTransparentMoviePlayerControl::TCallLabel(const QString& target, const QString& label)
{
    if (PlayerVersion() >= 4)
        Check(player->TCallLabel(target, label), "TCallLabel");
}

void TTransparentMoviePlayerControl::TSetPropertyNum(const QString& target, int property, double value)
{
    if (PlayerVersion() >= 4)
        Check(player->TSetPropertyNum(target, property, value), "TSetPropertyNum");
}

double TTransparentMoviePlayerControl::TGetPropertyNum(const QString& target, int property) const
{
    double value = 0;
    if (PlayerVersion() >= 4)
        Check(player->TGetPropertyNum(target, property, &value), "TGetPropertyNum");
    return value;
}

double TTransparentMoviePlayerControl::TGetPropertyAsNumber(const QString& target, int property) const
{
    double value = 0;
    if (PlayerVersion() >= 7)
        Check(player->TGetPropertyAsNumber(target, property, &value), "TGetPropertyAsNumber");
    return value;
}

QString TTransparentMoviePlayerControl::CallFunction(const QString& request)
{
    QString response;
    if (PlayerVersion() >= 8)
        Check(player->CallFunction(request, &response), "CallFunction");
    return response;
}

void TTransparentMoviePlayerControl::SetReturnValue(const QString& value)
{
    if (PlayerVersion() >= 8)
        Check(player->SetReturnValue(value), "SetReturnValue");
}

HResult TTransparentMoviePlayerControl::RequestResource(const QString& path, QIODevice& stream)
{
    if (!isSignalConnected(QMetaMethod::fromSignal(&TTransparentMoviePlayerControl::OnLoadExternalResource)))
        return ResultFalse;
    emit OnLoadExternalResource(path, &stream);
    return ResultOk;
}

// The content manager asks twice for a resource of a generated URL: first with a stream into the binding,
// then with a memory stream. Raising the same event for both would hand the resource to the player twice,
// so the first request raises the extended event and the second the plain one.
HResult TTransparentMoviePlayerControl::RequestResourceEx(
    const QString& path, QIODevice& stream, bool handled)
{
    if (!isSignalConnected(
            QMetaMethod::fromSignal(&TTransparentMoviePlayerControl::OnLoadExternalResourceEx)))
        return ResultFalse;
    emit OnLoadExternalResourceEx(path, &stream, &handled);
    return ResultOk;
}

// --- layered parent ----------------------------------------------------------------------------------------

namespace {

// Gives a shown top-level window a new native window, so that a change of its translucency takes effect.
void RecreateNativeWindow(QWidget* top, Qt::WindowFlags flags)
{
    const QRect frame = top->geometry();
    const bool visible = top->isVisible();
    QWidget holder;
    top->setParent(&holder);
    top->setParent(nullptr, flags);
    top->setGeometry(frame);
    if (visible)
        top->show();
}

} // namespace

// A compositor owns the _NET_WM_CM_S<screen> selection of the X display; on Wayland one always composes.
bool TTransparentMoviePlayerControl::CompositorRunning()
{
    const QString platform = QGuiApplication::platformName();
    if (platform.startsWith(QLatin1String("wayland")))
        return true;
    if (platform != QLatin1String("xcb"))
        return false;
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    if (!connection)
        return false;
    const QString display = qEnvironmentVariable("DISPLAY");
    const qsizetype dot = display.lastIndexOf(QLatin1Char('.'));
    const qsizetype colon = display.lastIndexOf(QLatin1Char(':'));
    const int screen = dot > colon ? display.mid(dot + 1).toInt() : 0;
    const QByteArray name = "_NET_WM_CM_S" + QByteArray::number(screen);
    xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(connection,
        xcb_intern_atom(connection, 1, static_cast<std::uint16_t>(name.size()), name.constData()), nullptr);
    if (!atom)
        return false;
    const xcb_atom_t selection = atom->atom;
    free(atom);
    if (selection == XCB_ATOM_NONE)
        return false;
    xcb_get_selection_owner_reply_t* owner
        = xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, selection), nullptr);
    const bool owned = owner && owner->owner != XCB_WINDOW_NONE;
    free(owner);
    return owned;
}

void TTransparentMoviePlayerControl::SetMakeParentTransparent(bool value)
{
    if (value == makeParentTransparent)
        return;
    if (value) {
        TPlayerCodeProvider* provider = TSkinSubsystem::PlayerCodeProvider();
        const QScreen* screen = QGuiApplication::primaryScreen();
        if (!provider || (provider->Version() >> 24) < 3 || !screen || screen->depth() < 16 || !parentWidget()
            || !CompositorRunning())
            return;
        QWidget* top = window();
        layered.window = top;
        layered.flags = top->windowFlags();
        layered.translucent = top->testAttribute(Qt::WA_TranslucentBackground);
        layered.bounds = geometry();
        top->setAttribute(Qt::WA_TranslucentBackground, true);
        const Qt::WindowFlags flags = layered.flags | Qt::FramelessWindowHint;
        if (top->testAttribute(Qt::WA_WState_Created))
            RecreateNativeWindow(top, flags);
        else
            top->setWindowFlags(flags);
        setGeometry(parentWidget()->rect());
        parentWidget()->installEventFilter(this);
        if (top != parentWidget())
            top->installEventFilter(this);
        makeParentTransparent = true;
        update();
        UpdateInputRegion();
        return;
    }
    if (parentWidget())
        parentWidget()->removeEventFilter(this);
    makeParentTransparent = false;
    if (QWidget* top = layered.window) {
        top->removeEventFilter(this);
        top->clearMask();
        top->setAttribute(Qt::WA_TranslucentBackground, layered.translucent);
        if (top->testAttribute(Qt::WA_WState_Created))
            RecreateNativeWindow(top, layered.flags);
        else
            top->setWindowFlags(layered.flags);
    }
    setGeometry(layered.bounds);
    layered = {};
}

// Clicks on fully transparent pixels of the movie pass to what lies beneath the window: its input (and
// shape) region is where the movie draws anything.
void TTransparentMoviePlayerControl::UpdateInputRegion()
{
    QWidget* top = window();
    if (!makeParentTransparent || !viewObject || parentWidget() != top || size().isEmpty())
        return;
    QImage drawn(size(), QImage::Format_ARGB32_Premultiplied);
    drawn.fill(Qt::transparent);
    {
        QPainter painter(&drawn);
        viewObject->Draw(AspectContent, -1, &painter, rect(), rect());
    }
    QRegion region(QBitmap::fromImage(drawn.createAlphaMask()));
    if (region.isEmpty())
        region = QRegion(0, 0, 1, 1); // an empty mask would be no mask at all
    top->setMask(region.translated(pos()));
}

bool TTransparentMoviePlayerControl::eventFilter(QObject* watched, QEvent* event)
{
    if (!makeParentTransparent)
        return QWidget::eventFilter(watched, event);
    if (watched == parentWidget() && event->type() == QEvent::Resize)
        setGeometry(parentWidget()->rect());
    if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) {
        auto* key = static_cast<QKeyEvent*>(event);
        // The menu key is the window's only while the standard menu is wanted.
        if (key->key() == Qt::Key_Menu && !standartMenu)
            return true;
        // Keys reach the player first; what it takes goes no further.
        if (windowlessObject) {
            std::intptr_t result = 0;
            const std::uint32_t msg = event->type() == QEvent::KeyPress ? MsgKeyDown : MsgKeyUp;
            if (windowlessObject->OnWindowMessage(
                    msg, static_cast<std::uintptr_t>(key->nativeVirtualKey()), 0, &result)
                == ResultOk)
                return true;
        }
    }
    if (event->type() == QEvent::ContextMenu && !standartMenu)
        return true;
    return QWidget::eventFilter(watched, event);
}

// --- painting, input and geometry --------------------------------------------------------------------------

void TTransparentMoviePlayerControl::paintEvent(QPaintEvent*)
{
    if (!viewObject || !windowless || painting)
        return;
    painting = true;
    QPainter painter(this);
    emit OnDrawBackground(&painter);
    viewObject->Draw(AspectContent, -1, &painter, rect(), rect());
    painting = false;
    if (makeParentTransparent && !regionPending) {
        regionPending = true;
        QTimer::singleShot(100, this, [this] {
            regionPending = false;
            UpdateInputRegion();
        });
    }
}

bool TTransparentMoviePlayerControl::HitTest(const QPoint& local) const
{
    if (!viewObjectEx)
        return false;
    int hit = HitResultOutside;
    const HResult result
        = viewObjectEx->QueryHitPoint(AspectContent, geometry(), mapToParent(local), 0, &hit);
    return Succeeded(result) && hit == HitResultHit;
}

bool TTransparentMoviePlayerControl::Forward(std::uint32_t msg, std::uintptr_t wParam, const QPoint& local)
{
    if (!windowlessObject)
        return false;
    const QPoint inParent = mapToParent(local);
    std::intptr_t result = 0;
    windowlessObject->OnWindowMessage(msg, wParam, PackPoint(inParent.x(), inParent.y()), &result);
    // The player may have gone away while it ran the command.
    if (windowlessObject)
        windowlessObject->OnWindowMessage(MsgSetCursor, wParam,
            static_cast<std::intptr_t>((static_cast<std::uintptr_t>(msg) << 16) | HitTestClient), &result);
    return true;
}

void TTransparentMoviePlayerControl::mousePressEvent(QMouseEvent* event)
{
    const QPoint pos = event->position().toPoint();
    if (!HitTest(pos)) {
        event->ignore(); // transparent here: the press belongs to what lies beneath
        return;
    }
    event->accept();
    if (event->button() == Qt::RightButton && !standartMenu)
        return;
    const std::uint32_t msg = event->button() == Qt::LeftButton ? MsgLeftButtonDown
        : event->button() == Qt::RightButton                    ? MsgRightButtonDown
                                                                : 0x0207;
    if (makeParentTransparent && event->button() == Qt::LeftButton && parentWidget()) {
        parentWidget()->activateWindow();
        parentWidget()->setFocus(Qt::MouseFocusReason);
    }
    QPointer<TTransparentMoviePlayerControl> alive(this);
    Forward(msg, KeyState(event->buttons(), event->modifiers()), pos);
    if (!alive)
        return;
    pressInside = true;
    emit OnMouseDown(event->button(), event->modifiers(), pos.x(), pos.y());
}

void TTransparentMoviePlayerControl::mouseDoubleClickEvent(QMouseEvent* event)
{
    const QPoint pos = event->position().toPoint();
    if (!HitTest(pos)) {
        event->ignore();
        return;
    }
    event->accept();
    if (event->button() == Qt::RightButton && !standartMenu)
        return;
    const std::uint32_t msg = event->button() == Qt::LeftButton ? MsgLeftButtonDoubleClick
        : event->button() == Qt::RightButton                    ? 0x0206
                                                                : 0x0209;
    QPointer<TTransparentMoviePlayerControl> alive(this);
    Forward(msg, KeyState(event->buttons(), event->modifiers()), pos);
    if (!alive)
        return;
    pressInside = true;
    emit OnMouseDown(event->button(), event->modifiers(), pos.x(), pos.y());
    emit OnDblClick();
}

void TTransparentMoviePlayerControl::mouseReleaseEvent(QMouseEvent* event)
{
    event->accept();
    const std::uint32_t msg = event->button() == Qt::LeftButton ? MsgLeftButtonUp
        : event->button() == Qt::RightButton                    ? MsgRightButtonUp
                                                                : 0x0208;
    const QPoint pos = event->position().toPoint();
    QPointer<TTransparentMoviePlayerControl> alive(this);
    Forward(msg, KeyState(event->buttons(), event->modifiers()), pos);
    if (!alive || !pressInside)
        return;
    pressInside = event->buttons() != Qt::NoButton;
    emit OnMouseUp(event->button(), event->modifiers(), pos.x(), pos.y());
    if (alive && rect().contains(pos))
        emit OnClick();
}

void TTransparentMoviePlayerControl::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint pos = event->position().toPoint();
    // The player always hears of moves, so that a button it shows lit goes dark when the pointer leaves.
    QPointer<TTransparentMoviePlayerControl> alive(this);
    Forward(MsgMouseMove, KeyState(event->buttons(), event->modifiers()), pos);
    if (!alive)
        return;
    if (event->buttons() != Qt::NoButton || HitTest(pos)) {
        event->accept();
        emit OnMouseMove(event->modifiers(), pos.x(), pos.y());
    } else {
        event->ignore();
    }
}

void TTransparentMoviePlayerControl::wheelEvent(QWheelEvent* event)
{
    const QPoint pos = event->position().toPoint();
    if (!HitTest(pos)) {
        event->ignore();
        return;
    }
    event->accept();
    const auto delta = static_cast<std::uint16_t>(static_cast<std::int16_t>(event->angleDelta().y()));
    Forward(MsgMouseWheel,
        (static_cast<std::uintptr_t>(delta) << 16) | KeyState(event->buttons(), event->modifiers()), pos);
}

void TTransparentMoviePlayerControl::leaveEvent(QEvent* event)
{
    Forward(MsgMouseLeave, 0, QPoint(-1, -1));
    QWidget::leaveEvent(event);
}

void TTransparentMoviePlayerControl::UpdateObjectRects()
{
    if (oleObject)
        oleObject->SetExtent(AspectContent, Himetric());
    if (inPlaceObject)
        inPlaceObject->SetObjectRects(geometry(), geometry());
}

void TTransparentMoviePlayerControl::moveEvent(QMoveEvent* event)
{
    UpdateObjectRects();
    QWidget::moveEvent(event);
}

void TTransparentMoviePlayerControl::resizeEvent(QResizeEvent* event)
{
    UpdateObjectRects();
    QWidget::resizeEvent(event);
}

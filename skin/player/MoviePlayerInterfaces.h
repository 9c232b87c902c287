// The binary seam between the skin host and the movie player library.
//
// The host never links the player: it loads the library at run time, asks its exported class factory for a
// player object and talks to it only through the abstract interfaces below, each reached by a query by
// interface id. The player answers back through the site interfaces that the host implements. Everything
// runs on the GUI thread.
#pragma once

#include <QByteArray>
#include <QRect>
#include <QString>
#include <QVariant>
#include <QVariantList>
#include <cstddef>
#include <cstdint>
#include <cstring>

class QPainter;
class QRegion;
class QWidget;

namespace Mrv {

using HResult = std::int32_t;

constexpr HResult ResultOk = 0;
constexpr HResult ResultFalse = 1;
constexpr HResult ResultNotImpl = static_cast<HResult>(0x80004001u);
constexpr HResult ResultNoInterface = static_cast<HResult>(0x80004002u);
constexpr HResult ResultPointer = static_cast<HResult>(0x80004003u);
constexpr HResult ResultFail = static_cast<HResult>(0x80004005u);
constexpr HResult ResultInvalidArg = static_cast<HResult>(0x80070057u);
constexpr HResult ResultMemberNotFound = static_cast<HResult>(0x80020003u);
constexpr HResult ResultNoToolSpace = static_cast<HResult>(0x800401A1u);
// Results of binding a URL to storage: served by someone, or served by nobody.
constexpr HResult BindHandled = 0x000401E8;
constexpr HResult BindNotServed = static_cast<HResult>(0x800401EDu);

inline bool Succeeded(HResult r)
{
    return r >= 0;
}
inline bool Failed(HResult r)
{
    return r < 0;
}

struct TGuid
{
    std::uint32_t data1;
    std::uint16_t data2;
    std::uint16_t data3;
    std::uint8_t data4[8];
    bool operator==(const TGuid& other) const { return std::memcmp(this, &other, sizeof(TGuid)) == 0; }
};

// The player's class id and the id of its event interface.
constexpr TGuid ClsidMoviePlayer
    = { 0x7A3C51E2, 0x94B0, 0x4F6D, { 0x8C, 0x1E, 0x2B, 0x5D, 0x9A, 0x60, 0xF3, 0x14 } };
constexpr TGuid DiidMoviePlayerEvents
    = { 0x7A3C51E1, 0x94B0, 0x4F6D, { 0x8C, 0x1E, 0x2B, 0x5D, 0x9A, 0x60, 0xF3, 0x14 } };

// Interface ids; the last byte tells them apart.
constexpr TGuid MakeIid(std::uint8_t n)
{
    return { 0x5E1D0C00u + n, 0x3B7A, 0x4C21, { 0x9F, 0x44, 0x6A, 0x10, 0xC3, 0x8E, 0x27, n } };
}
constexpr TGuid IidUnknown = MakeIid(0x00);
constexpr TGuid IidClassFactory = MakeIid(0x01);
constexpr TGuid IidMoviePlayer = MakeIid(0x02);
constexpr TGuid IidOleObject = MakeIid(0x03);
constexpr TGuid IidViewObject = MakeIid(0x04);
constexpr TGuid IidViewObjectEx = MakeIid(0x05);
constexpr TGuid IidInPlaceObject = MakeIid(0x06);
constexpr TGuid IidInPlaceObjectWindowless = MakeIid(0x07);
constexpr TGuid IidConnectionPointContainer = MakeIid(0x08);
constexpr TGuid IidConnectionPoint = MakeIid(0x09);
constexpr TGuid IidObjectWithSite = MakeIid(0x0A);
constexpr TGuid IidClientSite = MakeIid(0x10);
constexpr TGuid IidInPlaceSiteWindowless = MakeIid(0x11);
constexpr TGuid IidControlSite = MakeIid(0x12);
constexpr TGuid IidContainer = MakeIid(0x13);
constexpr TGuid IidEventSink = MakeIid(0x14);
constexpr TGuid IidBindStatusCallback = MakeIid(0x15);

// Drawing aspect, activation verb and flags shared by both sides.
constexpr int AspectContent = 1;
constexpr int VerbInPlaceActivate = -5;
constexpr std::uint32_t ActivateWindowless = 1;
constexpr int HitResultOutside = 0;
constexpr int HitResultHit = 3;

// Messages the host forwards to a windowless player. Positions are in the host window's coordinates,
// packed as x in the low and y in the high 16 bits of lParam (both signed).
constexpr std::uint32_t MsgSetCursor = 0x0020;
constexpr std::uint32_t MsgKeyDown = 0x0100;
constexpr std::uint32_t MsgKeyUp = 0x0101;
constexpr std::uint32_t MsgMouseMove = 0x0200;
constexpr std::uint32_t MsgLeftButtonDown = 0x0201;
constexpr std::uint32_t MsgLeftButtonUp = 0x0202;
constexpr std::uint32_t MsgLeftButtonDoubleClick = 0x0203;
constexpr std::uint32_t MsgRightButtonDown = 0x0204;
constexpr std::uint32_t MsgRightButtonUp = 0x0205;
constexpr std::uint32_t MsgMouseWheel = 0x020A;
constexpr std::uint32_t MsgMouseLeave = 0x02A3;
constexpr std::uint32_t HitTestClient = 1;

inline std::intptr_t PackPoint(int x, int y)
{
    return static_cast<std::intptr_t>(
        (static_cast<std::uint32_t>(static_cast<std::uint16_t>(y)) << 16) | static_cast<std::uint16_t>(x));
}
inline int PointX(std::intptr_t lParam)
{
    return static_cast<std::int16_t>(lParam & 0xFFFF);
}
inline int PointY(std::intptr_t lParam)
{
    return static_cast<std::int16_t>((lParam >> 16) & 0xFFFF);
}

// Event dispatch ids raised by the player.
constexpr int DispIdReadyStateChange = -609;
constexpr int DispIdMovieCommand = 150;
constexpr int DispIdExternalCall = 197;
constexpr int DispIdProgress = 1958;

// The player's published properties, by dispatch id.
enum class TMovieProperty : int {
    Movie = 1,
    FrameNum,
    Playing,
    Quality,
    ScaleMode,
    AlignMode,
    BackgroundColor,
    Loop,
    WindowMode,
    AlignName,
    Menu,
    Base,
    Scale,
    DeviceFont,
    EmbedMovie,
    BGColor,
    QualityName,
    RemoteOptions,
    Stacking,
    MovieVars,
    ScriptAccess,
    MovieData,
};

class IUnknownBase
{
public:
    virtual HResult QueryInterface(const TGuid& iid, void** object) = 0;
    virtual std::uint32_t AddRef() = 0;
    virtual std::uint32_t Release() = 0;

protected:
    ~IUnknownBase() = default;
};

class IClassFactory : public IUnknownBase
{
public:
    virtual HResult CreateInstance(IUnknownBase* outer, const TGuid& iid, void** object) = 0;

protected:
    ~IClassFactory() = default;
};

class IOleClientSite : public IUnknownBase
{
public:
    virtual HResult GetContainer(IUnknownBase** container) = 0;
    virtual HResult ShowObject() = 0;

protected:
    ~IOleClientSite() = default;
};

// What a windowless player asks of its host: activation, capture, focus, repaint and cursor.
class IOleInPlaceSiteWindowless : public IUnknownBase
{
public:
    virtual HResult GetWindow(QWidget** window) = 0;
    virtual HResult CanInPlaceActivate() = 0;
    virtual HResult CanWindowlessActivate() = 0;
    virtual HResult OnInPlaceActivate() = 0;
    virtual HResult OnInPlaceActivateEx(bool* noRedraw, std::uint32_t flags) = 0;
    virtual HResult OnUIActivate() = 0;
    virtual HResult OnUIDeactivate(bool undoable) = 0;
    virtual HResult OnInPlaceDeactivate() = 0;
    virtual HResult OnInPlaceDeactivateEx(bool noRedraw) = 0;
    virtual HResult RequestUIActivate() = 0;
    virtual HResult GetCapture() = 0;
    virtual HResult SetCapture(bool capture) = 0;
    virtual HResult GetFocus() = 0;
    virtual HResult SetFocus(bool focus) = 0;
    virtual HResult GetDC(const QRect* rect, std::uint32_t flags, QPainter** painter) = 0;
    virtual HResult ReleaseDC(QPainter* painter) = 0;
    virtual HResult InvalidateRect(const QRect* rect, bool erase) = 0;
    virtual HResult InvalidateRgn(const QRegion* region, bool erase) = 0;
    virtual HResult ScrollRect(int dx, int dy, const QRect& scroll, const QRect& clip) = 0;
    virtual HResult AdjustRect(QRect* rect) = 0;
    virtual HResult OnDefWindowMessage(
        std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam, std::intptr_t* result)
        = 0;
    virtual HResult SetCursor(int cursorShape) = 0; // a Qt::CursorShape

protected:
    ~IOleInPlaceSiteWindowless() = default;
};

class IOleControlSite : public IUnknownBase
{
public:
    virtual HResult OnControlInfoChanged() = 0;
    virtual HResult LockInPlaceActive(bool lock) = 0;
    virtual HResult GetExtendedControl(IUnknownBase** control) = 0;
    virtual HResult OnFocus(bool gotFocus) = 0;

protected:
    ~IOleControlSite() = default;
};

class IOleContainer : public IUnknownBase
{
public:
    virtual HResult LockContainer(bool lock) = 0;

protected:
    ~IOleContainer() = default;
};

// The event sink the host advises on the player's connection point. Arguments arrive in reverse order.
class IEventSink : public IUnknownBase
{
public:
    virtual HResult Invoke(int dispId, const QVariantList& reversedArgs) = 0;

protected:
    ~IEventSink() = default;
};

class IConnectionPoint : public IUnknownBase
{
public:
    virtual HResult Advise(IUnknownBase* sink, std::uint32_t* cookie) = 0;
    virtual HResult Unadvise(std::uint32_t cookie) = 0;

protected:
    ~IConnectionPoint() = default;
};

class IConnectionPointContainer : public IUnknownBase
{
public:
    virtual HResult FindConnectionPoint(const TGuid& iid, IConnectionPoint** point) = 0;

protected:
    ~IConnectionPointContainer() = default;
};

class IObjectWithSite : public IUnknownBase
{
public:
    virtual HResult SetSite(IUnknownBase* site) = 0;

protected:
    ~IObjectWithSite() = default;
};

class IOleObject : public IUnknownBase
{
public:
    virtual HResult SetClientSite(IOleClientSite* site) = 0;
    virtual HResult SetExtent(int aspect, const QSize& himetric) = 0;
    virtual HResult DoVerb(int verb, IOleClientSite* site, int index, QWidget* parent, const QRect& posRect)
        = 0;
    virtual HResult Close(int saveOption) = 0;

protected:
    ~IOleObject() = default;
};

class IViewObject : public IUnknownBase
{
public:
    // Draws the object into bounds on the painter; bounds are in the painter's coordinates.
    virtual HResult Draw(
        int aspect, int index, QPainter* painter, const QRect& bounds, const QRect& windowBounds)
        = 0;
    virtual HResult SetAdvise(int aspects, int flags, IUnknownBase* sink) = 0;

protected:
    ~IViewObject() = default;
};

class IViewObjectEx : public IViewObject
{
public:
    // bounds and point are in the host window's coordinates.
    virtual HResult QueryHitPoint(
        int aspect, const QRect& bounds, const QPoint& point, int closeHint, int* hitResult)
        = 0;

protected:
    ~IViewObjectEx() = default;
};

class IOleInPlaceObject : public IUnknownBase
{
public:
    virtual HResult InPlaceDeactivate() = 0;
    virtual HResult SetObjectRects(const QRect& posRect, const QRect& clipRect) = 0;

protected:
    ~IOleInPlaceObject() = default;
};

class IOleInPlaceObjectWindowless : public IOleInPlaceObject
{
public:
    virtual HResult OnWindowMessage(
        std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam, std::intptr_t* result)
        = 0;

protected:
    ~IOleInPlaceObjectWindowless() = default;
};

// The player interface: published properties by dispatch id, and the playback operations.
class IMoviePlayer : public IUnknownBase
{
public:
    virtual HResult GetProperty(TMovieProperty property, QVariant* value) = 0;
    virtual HResult PutProperty(TMovieProperty property, const QVariant& value) = 0;
    virtual HResult ReadyState(int* state) = 0;
    virtual HResult TotalFrames(int* frames) = 0;
    virtual HResult SetZoomRect(int left, int top, int right, int bottom) = 0;
    virtual HResult Zoom(int factor) = 0;
    virtual HResult Pan(int x, int y, int mode) = 0;
    virtual HResult Play() = 0;
    virtual HResult Stop() = 0;
    virtual HResult Back() = 0;
    virtual HResult Forward() = 0;
    virtual HResult Rewind() = 0;
    virtual HResult StopPlay() = 0;
    virtual HResult GotoFrame(int frame) = 0;
    virtual HResult CurrentFrame(int* frame) = 0;
    virtual HResult IsPlaying(bool* playing) = 0;
    virtual HResult PercentLoaded(int* percent) = 0;
    virtual HResult FrameLoaded(int frame, bool* loaded) = 0;
    // Major version in the high and minor version in the low 16 bits (8.0 is 0x00080000).
    virtual HResult EngineVersion(std::int32_t* version) = 0;
    virtual HResult LoadMovie(int layer, const QString& url) = 0;
    virtual HResult SetVariable(const QString& name, const QString& value) = 0;
    virtual HResult GetVariable(const QString& name, QString* value) = 0;
    virtual HResult CallFunction(const QString& request, QString* response) = 0;
    virtual HResult SetReturnValue(const QString& value) = 0;
    // Timelines and targets: "/" is the movie, "/outer/inner" an element by the ids of its holders. An
    // unknown target, label or property number answers ResultInvalidArg.
    virtual HResult TGotoFrame(const QString& target, int frame) = 0;
    virtual HResult TGotoLabel(const QString& target, const QString& label) = 0;
    virtual HResult TCurrentFrame(const QString& target, int* frame) = 0;
    virtual HResult TCurrentLabel(const QString& target, QString* label) = 0;
    virtual HResult TPlay(const QString& target) = 0;
    virtual HResult TStopPlay(const QString& target) = 0;
    virtual HResult TCallFrame(const QString& target, int frame) = 0;
    virtual HResult TCallLabel(const QString& target, const QString& label) = 0;
    virtual HResult TSetProperty(const QString& target, int property, const QString& value) = 0;
    virtual HResult TGetProperty(const QString& target, int property, QString* value) = 0;
    virtual HResult TSetPropertyNum(const QString& target, int property, double value) = 0;
    virtual HResult TGetPropertyNum(const QString& target, int property, double* value) = 0;
    virtual HResult TGetPropertyAsNumber(const QString& target, int property, double* value) = 0;

protected:
    ~IMoviePlayer() = default;
};

// The consumer side of a URL binding: the player implements it, the host's content manager feeds it.
class IBindStatusCallback : public IUnknownBase
{
public:
    virtual HResult OnStartBinding() = 0;
    virtual HResult OnDataAvailable(std::uint32_t flags, std::uint64_t totalSize, const QByteArray& data) = 0;
    // How much of a slow (remote) binding has arrived; total is 0 while unknown.
    virtual HResult OnProgress(std::uint64_t done, std::uint64_t total) = 0;
    virtual HResult OnStopBinding(HResult status) = 0;

protected:
    ~IBindStatusCallback() = default;
};

constexpr std::uint32_t BindFirstDataNotification = 1;
constexpr std::uint32_t BindLastDataNotification = 4;
constexpr std::uint32_t BindDataFlags = BindFirstDataNotification | BindLastDataNotification; // 5

// The host's own services, handed to the library when it is loaded: every file and URL the player opens,
// and every sound buffer it writes, goes through them.
using TSoundSink = int (*)(const void* data, std::size_t size, void* context);
struct TPlayerHostServices
{
    std::uint32_t size; // sizeof(TPlayerHostServices)
    // Opens a file like open(2); generated in-memory names resolve against the owning control's Base.
    int (*OpenFile)(const char* name, int flags, int mode);
    // Binds a URL to storage: the data goes to the consumer; BindHandled or BindNotServed (or a failure).
    HResult (*BindToStorage)(const QString& url, IBindStatusCallback* consumer);
    // Writes a sound buffer through sink under the host's sound lock, silenced first when sound is off.
    int (*WriteSound)(void* data, std::size_t size, TSoundSink sink, void* context);
};

// The version record a player library exports; the packed version is major * 2^24 + minor * 2^16 +
// build * 2^8 + revision.
constexpr std::uint32_t VersionRecordMagic = 0x5652524D; // "MRRV"
struct TPlayerVersionRecord
{
    std::uint32_t magic;
    std::uint16_t major;
    std::uint16_t minor;
    std::uint16_t build;
    std::uint16_t revision;
};

// Names the host looks up in a player library.
constexpr const char* ExportGetClassObject = "DllGetClassObject";
constexpr const char* ExportVersionRecord = "MiravaPlayerVersionRecord";
constexpr const char* ExportSetHostServices = "MiravaPlayerSetHostServices";

using TGetClassObjectFunction = HResult (*)(const TGuid* clsid, const TGuid* iid, void** object);
using TSetHostServicesFunction = void (*)(const TPlayerHostServices* services);

} // namespace Mrv

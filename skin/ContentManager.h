// Serving movie content to the player: movies handed over as streams get a generated URL that the player
// binds like any other; every other URL or file the player opens is answered from the owning control's Base,
// by the global resource handlers, or by the file system.
#pragma once

#include "player/MoviePlayerInterfaces.h"

#include <QBuffer>
#include <QIODevice>
#include <QString>

class QNetworkAccessManager;
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace Mrv {

// What the content manager needs of a control that shows movies.
class IMoviePlayerControlBase
{
public:
    virtual void SetMovieUrl(const QString& url) = 0;
    virtual void LoadMovieUrl(int layer, const QString& url) = 0;
    virtual QString BaseFolder() const = 0;
    // Asks the control's handler for a resource: ResultOk when a handler ran, ResultFalse when none is set.
    virtual HResult RequestResource(const QString& path, QIODevice& stream) = 0;
    virtual HResult RequestResourceEx(const QString& path, QIODevice& stream, bool handled) = 0;

protected:
    ~IMoviePlayerControlBase() = default;
};

// Holds what a producer writes until a consumer arrives, then delivers it to that consumer.
class TContentProvider
{
public:
    TContentProvider() = default;
    explicit TContentProvider(IBindStatusCallback* consumer);
    ~TContentProvider();
    TContentProvider(const TContentProvider&) = delete;
    TContentProvider& operator=(const TContentProvider&) = delete;

    void SetConsumer(IBindStatusCallback* consumer);
    HResult HasData() const; // ResultOk when data was written, else ResultFalse
    void Finish();
    void Write(const char* data, qint64 size);

private:
    void StartOnce();
    mutable std::recursive_mutex lock;
    QByteArray kept;
    qint64 total = 0;
    bool written = false;
    bool started = false;
    bool finished = false;
    bool stopped = false;
    IBindStatusCallback* consumer = nullptr;
};

// The stream a producer writes into; closing (or destroying) it finishes the provider, when asked to.
class TContentProviderStream final : public QIODevice
{
public:
    TContentProviderStream(std::shared_ptr<TContentProvider> provider, bool finishOnClose = true);
    ~TContentProviderStream() override;
    void close() override;
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char* data, qint64 size) override;

private:
    std::recursive_mutex lock;
    std::shared_ptr<TContentProvider> provider;
    bool finishOnClose;
};

class TContentManager
{
public:
    TContentManager();
    ~TContentManager();
    static constexpr const char* Marker = "9C2B7E14D05A4F68B3E1A7C45D0F2B96";
    static constexpr const char* GeneratedFileName = "3F8A0D62C71B4E95A2D4E6B8190C7A53.mrv";
    static constexpr const char* PlaceholderUrl = "file://9C2B7E14D05A4F68B3E1A7C45D0F2B9";
    static constexpr qint64 MaxLocalFileBytes = 64 * 1024 * 1024;

    // Handlers for URLs that are not generated: the first writes into the provider's stream and sets handled,
    // the second fills a memory stream (handled when it is not empty).
    using TStreamHandler = std::function<void(const QString& url, QIODevice& stream, bool& handled)>;
    using TMemoryHandler = std::function<void(const QString& url, QBuffer& stream)>;

    QString GenerateUrl();
    // True when url is a generated one; then number and rest (the resource path) are set.
    static bool ParseGeneratedUrl(const QString& url, int* number = nullptr, QString* rest = nullptr);
    static bool SameUrl(const QString& a, const QString& b);

    HResult BindToStorage(const QString& url, IBindStatusCallback* consumer);
    // Opens like open(2); a generated name whose movie belongs to a control opens below that control's Base.
    int FileOpen(const QString& name, int flags, int mode);

    // The stream variants of loading a movie; layer -1 sets the control's movie instead of loading a layer.
    void LoadMovieFromStream(IMoviePlayerControlBase* control, int layer, QIODevice& source);
    std::unique_ptr<QIODevice> LoadMovieUsingStream(IMoviePlayerControlBase* control, int layer);
    void ForgetControl(IMoviePlayerControlBase* control);

    void SetGlobalHandlers(TStreamHandler first, TMemoryHandler second);
    qsizetype PendingUrlCount() const { return urls.size(); }

private:
    struct TUrlEntry
    {
        QString url;
        std::shared_ptr<TContentProvider> provider;
    };
    struct TControlEntry
    {
        QString number;
        IMoviePlayerControlBase* control;
    };
    IMoviePlayerControlBase* ControlOf(int number) const;
    HResult BindLocal(const QString& url, IBindStatusCallback* consumer);
    // http: and https: through Qt Network, asynchronously: the consumer hears of progress and data as they
    // come and of the end once; more than MaxLocalFileBytes ends the transfer as a failure.
    HResult BindRemote(const QString& url, IBindStatusCallback* consumer);
    static bool IsRemote(const QString& url);

    int nextNumber = 1;
    std::vector<TUrlEntry> urls;
    std::vector<TControlEntry> controls;
    TStreamHandler firstHandler;
    TMemoryHandler secondHandler;
    std::unique_ptr<QNetworkAccessManager> network;
};

} // namespace Mrv

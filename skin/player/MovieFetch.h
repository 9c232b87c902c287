// Fetching a movie or one of its resources through the host's services: the host binds the URL to storage
// and feeds the bytes to a consumer, synchronously for files and memory, later for remote URLs. Without the
// host's binding service the file system is read directly.
#pragma once

#include "MoviePlayerInterfaces.h"

#include <QByteArray>
#include <QString>
#include <functional>

namespace Mrv {

class TMovieFetch final : public IBindStatusCallback
{
public:
    using TDone = std::function<void(HResult status, const QByteArray& bytes)>;
    using TProgress = std::function<void(std::uint64_t done, std::uint64_t total)>;

    // Starts fetching url, at most limit bytes. done runs exactly once unless the fetch is cancelled first:
    // possibly before Start returns. The returned fetch is the caller's reference (release it with Cancel);
    // nothing when the fetch ended within Start.
    static TMovieFetch* Start(const TPlayerHostServices* services, const QString& url, qint64 limit,
        TDone done, TProgress progress = {});
    // Stops every callback and drops the caller's reference.
    void Cancel();

    HResult QueryInterface(const TGuid& iid, void** object) override;
    std::uint32_t AddRef() override { return ++refCount; }
    std::uint32_t Release() override;
    HResult OnStartBinding() override { return ResultOk; }
    HResult OnDataAvailable(std::uint32_t flags, std::uint64_t totalSize, const QByteArray& data) override;
    HResult OnProgress(std::uint64_t done, std::uint64_t total) override;
    HResult OnStopBinding(HResult status) override;

private:
    TMovieFetch(qint64 limit, TDone done, TProgress progress);
    ~TMovieFetch() = default;
    void Finish(HResult status);

    std::uint32_t refCount = 0;
    qint64 limit;
    TDone done;
    TProgress progress;
    QByteArray bytes;
    bool tooLarge = false;
    bool stopped = false;
};

// Reads a local path or file URL through the host's file open (when given), only a regular file of at most
// limit bytes, without waiting on pipes or devices.
bool ReadLocalFile(const TPlayerHostServices* services, const QString& url, qint64 limit, QByteArray* bytes);

} // namespace Mrv

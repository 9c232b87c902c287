#include "MovieFetch.h"

#include <QFile>
#include <QUrl>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Mrv {

bool ReadLocalFile(const TPlayerHostServices* services, const QString& url, qint64 limit, QByteArray* bytes)
{
    QString path = url;
    if (url.startsWith(QLatin1String("file:"), Qt::CaseInsensitive))
        path = QUrl(url).toLocalFile();
    const QByteArray name = QFile::encodeName(path);
    const int fd = services && services->OpenFile
        ? services->OpenFile(name.constData(), O_RDONLY | O_NONBLOCK, 0)
        : ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info
    {
    };
    bool ok = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size <= limit;
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

TMovieFetch::TMovieFetch(qint64 limit, TDone done, TProgress progress)
    : limit(limit)
    , done(std::move(done))
    , progress(std::move(progress))
{ }

TMovieFetch* TMovieFetch::Start(
    const TPlayerHostServices* services, const QString& url, qint64 limit, TDone done, TProgress progress)
{
    if (url.isEmpty()) {
        done(ResultFail, {});
        return nullptr;
    }
    if (!services || !services->BindToStorage) {
        QByteArray bytes;
        const bool read = ReadLocalFile(services, url, limit, &bytes);
        done(read ? ResultOk : ResultFail, bytes);
        return nullptr;
    }
    auto* fetch = new TMovieFetch(limit, std::move(done), std::move(progress));
    fetch->AddRef(); // the caller's reference
    fetch->AddRef(); // held while Start runs
    const HResult result = services->BindToStorage(url, fetch);
    if (Failed(result))
        fetch->Finish(result);
    const bool finished = fetch->stopped;
    fetch->Release();
    if (finished) {
        fetch->Release();
        return nullptr;
    }
    return fetch;
}

void TMovieFetch::Cancel()
{
    stopped = true;
    done = nullptr;
    progress = nullptr;
    Release();
}

HResult TMovieFetch::QueryInterface(const TGuid& iid, void** object)
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

std::uint32_t TMovieFetch::Release()
{
    const std::uint32_t count = --refCount;
    if (count == 0)
        delete this;
    return count;
}

HResult TMovieFetch::OnDataAvailable(std::uint32_t, std::uint64_t, const QByteArray& data)
{
    if (stopped)
        return ResultOk;
    if (bytes.size() + data.size() > limit)
        tooLarge = true;
    else
        bytes.append(data);
    return ResultOk;
}

HResult TMovieFetch::OnProgress(std::uint64_t doneBytes, std::uint64_t total)
{
    if (!stopped && progress)
        progress(doneBytes, total);
    return ResultOk;
}

HResult TMovieFetch::OnStopBinding(HResult status)
{
    Finish(tooLarge ? ResultFail : status);
    return ResultOk;
}

void TMovieFetch::Finish(HResult status)
{
    if (stopped)
        return;
    stopped = true;
    TDone callback = std::move(done);
    done = nullptr;
    progress = nullptr;
    const QByteArray data = std::exchange(bytes, QByteArray());
    AddRef(); // the callback may cancel
    if (callback)
        callback(status, data);
    Release();
}

} // namespace Mrv

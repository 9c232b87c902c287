#include "ContentManager.h"

#include "pictures/RegularFile.h"

#include <QDir>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QUrl>
#include <algorithm>
#include <fcntl.h>
#include <unistd.h>

namespace Mrv {

// --- content provider --------------------------------------------------------------------------------------

TContentProvider::TContentProvider(IBindStatusCallback* consumer)
{
    SetConsumer(consumer);
}

TContentProvider::~TContentProvider()
{
    if (consumer)
        consumer->Release();
}

void TContentProvider::StartOnce()
{
    if (started)
        return;
    started = true;
    consumer->OnStartBinding();
}

void TContentProvider::SetConsumer(IBindStatusCallback* newConsumer)
{
    std::lock_guard guard(lock);
    if (newConsumer)
        newConsumer->AddRef();
    if (consumer)
        consumer->Release();
    consumer = newConsumer;
    if (!consumer)
        return;
    if (!kept.isEmpty()) {
        StartOnce();
        const QByteArray data = std::exchange(kept, QByteArray());
        consumer->OnDataAvailable(BindDataFlags, static_cast<std::uint64_t>(total), data);
    }
    // A provider finished before its consumer came stops the binding now, also when nothing was written, so
    // that the consumer is never left waiting for data that will not come.
    if (finished && !stopped) {
        StartOnce();
        stopped = true;
        consumer->OnStopBinding(ResultOk);
    }
}

HResult TContentProvider::HasData() const
{
    std::lock_guard guard(lock);
    return written ? ResultOk : ResultFalse;
}

void TContentProvider::Write(const char* data, qint64 size)
{
    std::lock_guard guard(lock);
    if (size <= 0)
        return;
    written = true;
    total += size;
    if (consumer) {
        StartOnce();
        consumer->OnDataAvailable(BindDataFlags, static_cast<std::uint64_t>(size), QByteArray(data, size));
    } else {
        kept.append(data, size);
    }
}

void TContentProvider::Finish()
{
    std::lock_guard guard(lock);
    if (finished)
        return;
    finished = true;
    if (consumer && !stopped) {
        StartOnce();
        stopped = true;
        consumer->OnStopBinding(ResultOk);
    }
}

TContentProviderStream::TContentProviderStream(std::shared_ptr<TContentProvider> provider, bool finishOnClose)
    : provider(std::move(provider))
    , finishOnClose(finishOnClose)
{
    QIODevice::open(QIODevice::WriteOnly | QIODevice::Unbuffered);
}

TContentProviderStream::~TContentProviderStream()
{
    close();
}

void TContentProviderStream::close()
{
    std::lock_guard guard(lock);
    if (!isOpen())
        return;
    QIODevice::close();
    if (finishOnClose && provider)
        provider->Finish();
}

qint64 TContentProviderStream::writeData(const char* data, qint64 size)
{
    std::lock_guard guard(lock);
    if (!provider)
        return -1;
    provider->Write(data, size);
    return size;
}

// --- URLs --------------------------------------------------------------------------------------------------

TContentManager::TContentManager() = default;

// Transfers still running end as failures, so that no consumer waits for ever.
TContentManager::~TContentManager()
{
    if (network)
        for (QNetworkReply* reply : network->findChildren<QNetworkReply*>())
            reply->abort();
}

bool TContentManager::IsRemote(const QString& url)
{
    return url.startsWith(QLatin1String("http:"), Qt::CaseInsensitive)
        || url.startsWith(QLatin1String("https:"), Qt::CaseInsensitive);
}

QString TContentManager::GenerateUrl()
{
    return QStringLiteral("Z:\\FromMemory\\%1\\%2\\%3")
        .arg(QLatin1String(Marker))
        .arg(nextNumber++)
        .arg(QLatin1String(GeneratedFileName));
}

bool TContentManager::ParseGeneratedUrl(const QString& url, int* number, QString* rest)
{
    QString text = url;
    text.replace(QLatin1Char('\\'), QLatin1Char('/'));
    const QString lead = QLatin1String(Marker) + QLatin1Char('/');
    const qsizetype at = text.indexOf(lead);
    if (at < 0)
        return false;
    qsizetype pos = at + lead.size();
    const qsizetype digitsStart = pos;
    while (pos < text.size() && text.at(pos).isDigit() && text.at(pos).unicode() < 128)
        ++pos;
    if (pos == digitsStart || pos >= text.size() || text.at(pos) != QLatin1Char('/'))
        return false;
    bool ok = false;
    const int value = text.mid(digitsStart, pos - digitsStart).toInt(&ok);
    if (!ok)
        return false;
    if (number)
        *number = value;
    if (rest)
        *rest = text.mid(pos + 1);
    return true;
}

bool TContentManager::SameUrl(const QString& a, const QString& b)
{
    int numberA = 0, numberB = 0;
    QString restA, restB;
    const bool generatedA = ParseGeneratedUrl(a, &numberA, &restA);
    const bool generatedB = ParseGeneratedUrl(b, &numberB, &restB);
    if (generatedA && generatedB)
        return numberA == numberB && restA == restB;
    return !generatedA && !generatedB && a == b;
}

IMoviePlayerControlBase* TContentManager::ControlOf(int number) const
{
    const QString key = QString::number(number);
    for (const TControlEntry& entry : controls)
        if (entry.number == key)
            return entry.control;
    return nullptr;
}

// --- binding -----------------------------------------------------------------------------------------------

// The file system's answer to a URL: a local path or a file URL is read whole and delivered to the consumer.
HResult TContentManager::BindLocal(const QString& url, IBindStatusCallback* consumer)
{
    static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]+:"));
    QString path = url;
    if (url.startsWith(QLatin1String("file:"), Qt::CaseInsensitive))
        path = QUrl(url).toLocalFile();
    else if (scheme.match(url).hasMatch())
        return BindNotServed;
    if (path.isEmpty() || !consumer)
        return BindNotServed;
    // Without waiting: a named pipe or a device must not hold the program until someone writes to it. Only
    // regular files are read.
    TRegularFile file;
    if (!file.Adopt(FileOpen(path, O_RDONLY | O_NONBLOCK | O_NOCTTY, 0)))
        return BindNotServed;
    const std::optional<QByteArray> read = file.ReadAll(MaxLocalFileBytes);
    if (!read)
        return BindNotServed;
    const QByteArray& bytes = *read;
    consumer->AddRef();
    consumer->OnStartBinding();
    if (!bytes.isEmpty())
        consumer->OnDataAvailable(BindDataFlags, static_cast<std::uint64_t>(bytes.size()), bytes);
    consumer->OnStopBinding(ResultOk);
    consumer->Release();
    return BindHandled;
}

HResult TContentManager::BindRemote(const QString& url, IBindStatusCallback* consumer)
{
    const QUrl address(url);
    if (!consumer || !address.isValid() || address.host().isEmpty())
        return BindNotServed;
    if (!network)
        network = std::make_unique<QNetworkAccessManager>();
    QNetworkRequest request(address);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setTransferTimeout(30000);
    QNetworkReply* reply = network->get(request);
    reply->setReadBufferSize(0);
    consumer->AddRef();
    struct TTransfer
    {
        qint64 received = 0;
        bool started = false;
        bool tooLarge = false;
    };
    auto transfer = std::make_shared<TTransfer>();
    const auto deliver = [reply, consumer, transfer] {
        const QByteArray chunk = reply->readAll();
        if (chunk.isEmpty() || transfer->tooLarge)
            return;
        transfer->received += chunk.size();
        if (transfer->received > MaxLocalFileBytes) {
            transfer->tooLarge = true;
            reply->abort();
            return;
        }
        if (!transfer->started) {
            transfer->started = true;
            consumer->OnStartBinding();
        }
        consumer->OnDataAvailable(BindDataFlags, static_cast<std::uint64_t>(chunk.size()), chunk);
    };
    QObject::connect(reply, &QNetworkReply::readyRead, reply, deliver);
    QObject::connect(
        reply, &QNetworkReply::downloadProgress, reply, [consumer, reply](qint64 done, qint64 total) {
            if (total > MaxLocalFileBytes) {
                reply->abort();
                return;
            }
            consumer->OnProgress(static_cast<std::uint64_t>(std::max<qint64>(done, 0)),
                static_cast<std::uint64_t>(std::max<qint64>(total, 0)));
        });
    QObject::connect(reply, &QNetworkReply::finished, reply, [reply, consumer, transfer, deliver] {
        if (reply->error() == QNetworkReply::NoError)
            deliver();
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        const bool ok = reply->error() == QNetworkReply::NoError && !transfer->tooLarge && status >= 200
            && status < 300;
        if (!transfer->started)
            consumer->OnStartBinding();
        consumer->OnStopBinding(ok ? ResultOk : ResultFail);
        consumer->Release();
        reply->deleteLater();
    });
    return BindHandled;
}

HResult TContentManager::BindToStorage(const QString& url, IBindStatusCallback* consumer)
{
    // A movie handed over as a stream is served once, to the first binding of its URL.
    const auto entry
        = std::find_if(urls.begin(), urls.end(), [&](const TUrlEntry& e) { return SameUrl(e.url, url); });
    if (entry != urls.end()) {
        const std::shared_ptr<TContentProvider> provider = entry->provider;
        urls.erase(entry);
        provider->SetConsumer(consumer);
        return BindHandled;
    }

    auto provider = std::make_shared<TContentProvider>(consumer);
    bool handled = false;
    int number = 0;
    QString rest;
    if (ParseGeneratedUrl(url, &number, &rest)) {
        IMoviePlayerControlBase* control = ControlOf(number);
        if (!control)
            return ResultFail;
        if (rest.startsWith(QLatin1Char('/')))
            rest.remove(0, 1);
        {
            TContentProviderStream stream(provider, false);
            control->RequestResourceEx(rest, stream, false);
        }
        QBuffer memory;
        memory.open(QIODevice::ReadWrite);
        control->RequestResource(rest, memory);
        if (!memory.data().isEmpty()) {
            handled = true;
            provider->Write(memory.data().constData(), memory.data().size());
        }
        handled = handled || provider->HasData() == ResultOk;
        if (handled) {
            provider->Finish();
        } else {
            QString base = control->BaseFolder();
            if (base.isEmpty())
                base = QDir::currentPath();
            base.replace(QLatin1Char('\\'), QLatin1Char('/'));
            const QString joined
                = base + (base.endsWith(QLatin1Char('/')) ? QString() : QStringLiteral("/")) + rest;
            handled = (IsRemote(base) ? BindRemote(joined, consumer) : BindLocal(joined, consumer))
                == BindHandled;
        }
    } else {
        if (firstHandler) {
            TContentProviderStream stream(provider, false);
            firstHandler(url, stream, handled);
        }
        if (!handled && secondHandler) {
            QBuffer memory;
            memory.open(QIODevice::ReadWrite);
            secondHandler(url, memory);
            if (!memory.data().isEmpty()) {
                handled = true;
                provider->Write(memory.data().constData(), memory.data().size());
            }
        }
        if (handled)
            provider->Finish();
        else if (IsRemote(url))
            handled = BindRemote(url, consumer) == BindHandled;
        else
            handled = BindLocal(url, consumer) == BindHandled;
    }
    return handled ? BindHandled : BindNotServed;
}

int TContentManager::FileOpen(const QString& name, int flags, int mode)
{
    int number = 0;
    QString rest;
    if (ParseGeneratedUrl(name, &number, &rest)) {
        if (IMoviePlayerControlBase* control = ControlOf(number)) {
            QString base = control->BaseFolder();
            if (base.isEmpty())
                base = QDir::currentPath();
            QString path = base + QLatin1Char('/') + rest;
            path.replace(QLatin1Char('\\'), QLatin1Char('/'));
            const int fd = ::open(QFile::encodeName(path).constData(), flags | O_CLOEXEC, mode);
            if (fd >= 0)
                return fd;
        }
    }
    return ::open(QFile::encodeName(name).constData(), flags | O_CLOEXEC, mode);
}

// --- movies from streams -----------------------------------------------------------------------------------

std::unique_ptr<QIODevice> TContentManager::LoadMovieUsingStream(IMoviePlayerControlBase* control, int layer)
{
    auto provider = std::make_shared<TContentProvider>();
    const int number = nextNumber;
    const QString url = GenerateUrl();
    urls.push_back({ url, provider });
    controls.push_back({ QString::number(number), control });
    const QString placeholder = QLatin1String(PlaceholderUrl);
    if (control) {
        if (layer >= 0) {
            control->LoadMovieUrl(layer, placeholder);
            control->LoadMovieUrl(layer, url);
        } else {
            control->SetMovieUrl(placeholder);
            control->SetMovieUrl(url);
        }
    }
    return std::make_unique<TContentProviderStream>(provider);
}

void TContentManager::LoadMovieFromStream(IMoviePlayerControlBase* control, int layer, QIODevice& source)
{
    std::unique_ptr<QIODevice> stream = LoadMovieUsingStream(control, layer);
    char buffer[64 * 1024];
    for (;;) {
        const qint64 n = source.read(buffer, sizeof buffer);
        if (n <= 0)
            break;
        stream->write(buffer, n);
    }
    stream->close();
}

void TContentManager::ForgetControl(IMoviePlayerControlBase* control)
{
    std::erase_if(controls, [control](const TControlEntry& entry) { return entry.control == control; });
}

void TContentManager::SetGlobalHandlers(TStreamHandler first, TMemoryHandler second)
{
    firstHandler = std::move(first);
    secondHandler = std::move(second);
}

} // namespace Mrv

#include "MovieResources.h"

#include "MovieFetch.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QUrl>

namespace Mrv {

namespace {

bool HasScheme(const QString& url)
{
    static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]+:"));
    return scheme.match(url).hasMatch();
}

bool IsRemote(const QString& url)
{
    return url.startsWith(QLatin1String("http:"), Qt::CaseInsensitive)
        || url.startsWith(QLatin1String("https:"), Qt::CaseInsensitive);
}

// href inside folder, which is a URL or a local path of a folder.
QString Join(const QString& folder, const QString& href)
{
    if (HasScheme(folder)) {
        QString withSlash = folder;
        if (!withSlash.endsWith(QLatin1Char('/')))
            withSlash += QLatin1Char('/');
        return QUrl(withSlash).resolved(QUrl(href)).toString();
    }
    return QDir::cleanPath(QDir(folder).filePath(href));
}

} // namespace

QString TMovieResources::Resolve(const QString& movieUrl, const QString& base, const QString& href)
{
    if (HasScheme(href) || href.startsWith(QLatin1Char('/')))
        return href;
    // A movie served from memory has a generated name with back slashes; its references keep that form so
    // that the host knows whose they are.
    const bool generated = movieUrl.contains(QLatin1Char('\\'));
    if (!base.isEmpty() && !generated)
        return Join(base, href);
    if (generated)
        return movieUrl.left(movieUrl.lastIndexOf(QLatin1Char('\\')) + 1)
            + QString(href).replace(QLatin1Char('/'), QLatin1Char('\\'));
    if (IsRemote(movieUrl) || HasScheme(movieUrl))
        return QUrl(movieUrl).resolved(QUrl(href)).toString();
    return Join(QFileInfo(movieUrl).path(), href);
}

void TMovieResources::SetMovie(
    const TPlayerHostServices* newServices, const QString& url, const QString& newBase)
{
    Forget();
    services = newServices;
    movieUrl = url;
    base = newBase;
    arrivedBytes.clear();
    asked.clear();
}

void TMovieResources::Fetch(const QString& href, TArrived arrived)
{
    if (href.isEmpty() || asked.contains(href))
        return;
    asked.insert(href, true);
    const int id = nextId++;
    const int fetchGeneration = generation;
    TMovieFetch* fetch = TMovieFetch::Start(services, Resolve(movieUrl, base, href), MaxBytes,
        [this, id, href, fetchGeneration, arrived](HResult status, const QByteArray& bytes) {
            if (fetchGeneration != generation)
                return;
            if (const auto found = running.find(id); found != running.end()) {
                found->second->Cancel();
                running.erase(found);
            }
            if (Failed(status) || bytes.isEmpty())
                return;
            arrivedBytes.insert(href, bytes);
            arrived(href, bytes);
        });
    if (fetch)
        running.emplace(id, fetch);
}

void TMovieResources::Forget()
{
    ++generation;
    for (auto& [id, fetch] : running)
        fetch->Cancel();
    running.clear();
}

} // namespace Mrv

// The resources a movie refers to (pictures, sounds): resolved against the movie's own URL, or against Base
// when that is set, and fetched through the host's services, each once per movie.
#pragma once

#include "MoviePlayerInterfaces.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <functional>
#include <map>

namespace Mrv {

class TMovieFetch;

class TMovieResources
{
public:
    static constexpr qint64 MaxBytes = 16 * 1024 * 1024;
    using TArrived = std::function<void(const QString& href, const QByteArray& bytes)>;

    ~TMovieResources() { Forget(); }

    // The URL of a reference: absolute ones as they are; relative ones in the folder of the movie's URL, or
    // in base when it is set (a movie served from memory always asks its own URL first, whose owner falls
    // back on Base).
    static QString Resolve(const QString& movieUrl, const QString& base, const QString& href);

    // Starts over for a movie.
    void SetMovie(const TPlayerHostServices* services, const QString& movieUrl, const QString& base);
    // Fetches a reference unless it was asked for already; arrived runs when its bytes are there (maybe at
    // once), not at all when it cannot be had.
    void Fetch(const QString& href, TArrived arrived);
    // The bytes of a reference that arrived, or nothing.
    QByteArray Bytes(const QString& href) const { return arrivedBytes.value(href); }
    // Stops every fetch still running.
    void Forget();

private:
    const TPlayerHostServices* services = nullptr;
    QString movieUrl;
    QString base;
    QHash<QString, QByteArray> arrivedBytes;
    QHash<QString, bool> asked;
    std::map<int, TMovieFetch*> running;
    int nextId = 0;
    int generation = 0;
};

} // namespace Mrv

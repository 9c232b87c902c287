#pragma once

#include "pictures/ThumbnailCache.h"

#include <QImage>
#include <QObject>
#include <QSize>
#include <QString>
#include <QThreadPool>
#include <memory>

// One thumbnail to make: the picture at `Path`, drawn proportionally in a control of size `Box`.
struct TThumbnailJob
{
    quint64 Generation = 0; // the list's folder generation the job belongs to
    int Index = 0; // the item's index in the list
    QString Path;
    QSize Box;
};

struct TThumbnailResult
{
    quint64 Generation = 0;
    int Index = 0;
    QImage Image; // RGB888, at the size the picture is drawn in the box; null on failure
    QSize PictureSize; // the picture's own size (invalid on failure)
    QString Error; // why the picture could not be shown (empty on success)
    bool FromCache = false; // the thumbnail came from the shared cache
};

// Makes one thumbnail: from the shared cache when it holds a valid one, else by decoding the picture
// (its embedded EXIF thumbnail when that suffices), writing the result or the failure to the cache.
// `cache` may be null (no cache is used then). Runs on any thread.
TThumbnailResult MakeThumbnail(const TThumbnailJob& job, const TThumbnailCache* cache);

// Runs thumbnail jobs on a pool of worker threads (at most one per core) and hands each result to the
// thread that owns this object through the Finished signal.
class TThumbnailLoader : public QObject
{
    Q_OBJECT
public:
    explicit TThumbnailLoader(QObject* parent = nullptr);
    // Waits for the jobs that are running; their results are dropped.
    ~TThumbnailLoader() override;

    // Starts a job now; the caller keeps the number of running jobs at or below Capacity.
    void Start(const TThumbnailJob& job, std::shared_ptr<const TThumbnailCache> cache);
    int Running() const { return running; }
    int Capacity() const;
    // Blocks until every started job has finished (their results are still delivered as events).
    void WaitForDone();

signals:
    void Finished(const TThumbnailResult& result);

private:
    QThreadPool pool;
    int running = 0;
};

Q_DECLARE_METATYPE(TThumbnailResult)

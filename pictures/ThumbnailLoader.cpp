#include "pictures/ThumbnailLoader.h"

#include "pictures/PictureDecoder.h"
#include "pictures/ThumbnailDecoder.h"

#include <QMetaObject>
#include <QThread>
#include <algorithm>
#include <new>

namespace {

// `image` scaled to the size at which a picture of size `picture` is drawn in `box`.
QImage FitImage(const QImage& image, const QSize& picture, const QSize& box)
{
    const QSize target = FitProportional(picture, box, false);
    if (target.isEmpty() || image.size() == target)
        return image;
    return image.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
        .convertToFormat(QImage::Format_RGB888);
}

QImage FromCache(const TThumbnailCache::TEntry& entry, const TThumbnailJob& job, QSize* picture)
{
    // Entries written by other programs need not record the picture's size: the header tells it.
    *picture = entry.PictureSize.isValid() ? entry.PictureSize : ReadPictureSize(job.Path);
    return FitImage(entry.Image, *picture, job.Box);
}

} // namespace

TThumbnailResult MakeThumbnail(const TThumbnailJob& job, const TThumbnailCache* cache)
{
    TThumbnailResult result;
    result.Generation = job.Generation;
    result.Index = job.Index;
    const std::optional<TThumbnailCache::TSubject> subject
        = cache ? cache->SubjectOf(job.Path) : std::nullopt;
    try {
        if (subject) {
            if (const std::optional<TThumbnailCache::TEntry> entry = cache->Find(*subject)) {
                if (entry->Failed) {
                    result.Error = entry->Reason.isEmpty()
                        ? QStringLiteral("Cannot load picture \"%1\"").arg(job.Path)
                        : entry->Reason;
                    return result;
                }
                result.Image = FromCache(*entry, job, &result.PictureSize);
                result.FromCache = true;
                return result;
            }
        }
        // The cache keeps thumbnails of its own size; the control may need a larger one.
        const QSize box = subject
            ? job.Box.expandedTo(QSize(TThumbnailCache::NormalSide, TThumbnailCache::NormalSide))
            : job.Box;
        const TThumbnail thumbnail = DecodeThumbnail(job.Path, box, job.Box);
        if (subject)
            cache->Store(*subject, thumbnail.Image, thumbnail.PictureSize);
        result.Image = FitImage(thumbnail.Image, thumbnail.PictureSize, job.Box);
        result.PictureSize = thumbnail.PictureSize;
        if (result.Image.isNull())
            result.Error = QStringLiteral("Cannot load picture \"%1\": not enough memory").arg(job.Path);
    } catch (const std::bad_alloc&) {
        result.Error = QStringLiteral("Cannot load picture \"%1\": not enough memory").arg(job.Path);
    } catch (const std::exception& error) {
        result.Error = QString::fromUtf8(error.what());
    }
    if (!result.Error.isEmpty()) {
        result.Image = QImage();
        result.PictureSize = QSize();
        if (subject)
            cache->StoreFailure(*subject, result.Error);
    }
    return result;
}

TThumbnailLoader::TThumbnailLoader(QObject* parent)
    : QObject(parent)
{
    qRegisterMetaType<TThumbnailResult>();
    pool.setMaxThreadCount(std::max(1, QThread::idealThreadCount()));
    // Threads stay ready for the next folder a while; thumbnails come in bursts.
    pool.setExpiryTimeout(10'000);
}

TThumbnailLoader::~TThumbnailLoader()
{
    pool.waitForDone();
}

int TThumbnailLoader::Capacity() const
{
    return pool.maxThreadCount();
}

void TThumbnailLoader::Start(const TThumbnailJob& job, std::shared_ptr<const TThumbnailCache> cache)
{
    ++running;
    pool.start([this, job, cache = std::move(cache)] {
        TThumbnailResult result = MakeThumbnail(job, cache.get());
        // Delivered on the loader's thread; the destructor waits for this call to have been made.
        QMetaObject::invokeMethod(
            this,
            [this, result = std::move(result)] {
                --running;
                emit Finished(result);
            },
            Qt::QueuedConnection);
    });
}

void TThumbnailLoader::WaitForDone()
{
    pool.waitForDone();
}

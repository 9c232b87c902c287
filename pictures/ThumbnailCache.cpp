#include "pictures/ThumbnailCache.h"

#include "pictures/FileName.h"
#include "pictures/RegularFile.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#ifndef MIRAVA_VERSION
#define MIRAVA_VERSION "1.0"
#endif

namespace {

const QString UriKey = QStringLiteral("Thumb::URI");
const QString MTimeKey = QStringLiteral("Thumb::MTime");
const QString SizeKey = QStringLiteral("Thumb::Size");
const QString MimeKey = QStringLiteral("Thumb::Mimetype");
const QString WidthKey = QStringLiteral("Thumb::Image::Width");
const QString HeightKey = QStringLiteral("Thumb::Image::Height");
const QString SoftwareKey = QStringLiteral("Software");
const QString ReasonKey = QStringLiteral("X-Mirava::Reason");
const QString Software = QStringLiteral("Mirava " MIRAVA_VERSION);

// A cache entry larger than this is no thumbnail and is not read.
constexpr qint64 MaxEntryBytes = 4 * 1024 * 1024;
constexpr int MaxEntrySide = 1024;

// Makes `path` and every missing folder above it, each new one with mode 0700.
bool MakePrivateFolders(const QString& path)
{
    const QString clean = QDir::cleanPath(path);
    if (QFileInfo(clean).isDir())
        return true;
    const QString parent = QFileInfo(clean).path();
    if (parent != clean && !MakePrivateFolders(parent))
        return false;
    return ::mkdir(QFile::encodeName(clean).constData(), 0700) == 0 || errno == EEXIST;
}

// The bytes of the path with links, "." and ".." resolved by the system; empty when it is not there.
// Paths go to the system as their real bytes, so names that are not UTF-8 resolve too.
QByteArray CanonicalBytes(const QString& path)
{
    char* resolved = ::realpath(EncodeFileName(path).constData(), nullptr);
    if (!resolved)
        return QByteArray();
    QByteArray bytes(resolved);
    std::free(resolved);
    return bytes;
}

QByteArray CleanAbsoluteBytes(const QString& path)
{
    return EncodeFileName(QDir::cleanPath(QFileInfo(path).absoluteFilePath()));
}

// "file://" and the path's bytes, every byte outside the unreserved characters and those a path may hold
// escaped as %XX: the same text as Qt's fully encoded local-file URL for UTF-8 names, and a distinct one for
// every other name, since the raw bytes are escaped rather than a lossy decoding of them.
QString FileUri(const QByteArray& path)
{
    return QStringLiteral("file://")
        + QString::fromLatin1(path.toPercentEncoding(QByteArrayLiteral("/!$&'()*+,;=:@[]")));
}

} // namespace

TThumbnailCache::TThumbnailCache(const QString& folder)
    : root(folder.isEmpty() ? DefaultRoot() : QDir::cleanPath(folder))
{ }

QString TThumbnailCache::DefaultRoot()
{
    QString cache = qEnvironmentVariable("XDG_CACHE_HOME");
    if (cache.isEmpty() || !QDir::isAbsolutePath(cache))
        cache = QDir::homePath() + QStringLiteral("/.cache");
    return QDir::cleanPath(cache + QStringLiteral("/thumbnails"));
}

QString TThumbnailCache::UriOf(const QString& path)
{
    const QByteArray canonical = CanonicalBytes(path);
    return FileUri(canonical.isEmpty() ? CleanAbsoluteBytes(path) : canonical);
}

QString TThumbnailCache::EntryName(const QString& uri)
{
    return QString::fromLatin1(QCryptographicHash::hash(uri.toUtf8(), QCryptographicHash::Md5).toHex())
        + QStringLiteral(".png");
}

QString TThumbnailCache::NormalPath(const QString& uri) const
{
    return root + QStringLiteral("/normal/") + EntryName(uri);
}

QString TThumbnailCache::LargePath(const QString& uri) const
{
    return root + QStringLiteral("/large/") + EntryName(uri);
}

QString TThumbnailCache::FailPath(const QString& uri) const
{
    return root + QStringLiteral("/fail/mirava-" MIRAVA_VERSION "/") + EntryName(uri);
}

std::optional<TThumbnailCache::TSubject> TThumbnailCache::SubjectOf(const QString& path) const
{
    const QByteArray canonical = CanonicalBytes(path);
    struct stat status;
    if (canonical.isEmpty() || ::stat(canonical.constData(), &status) != 0 || !S_ISREG(status.st_mode))
        return std::nullopt;
    // Thumbnails of the thumbnails themselves are never made.
    QByteArray cacheFolder = CanonicalBytes(root);
    if (cacheFolder.isEmpty())
        cacheFolder = CleanAbsoluteBytes(root);
    if (canonical.startsWith(cacheFolder + '/') || CleanAbsoluteBytes(path).startsWith(EncodeFileName(root) + '/'))
        return std::nullopt;
    TSubject subject;
    subject.Uri = FileUri(canonical);
    subject.MTime = qint64(status.st_mtime);
    subject.Size = qint64(status.st_size);
    subject.MimeType = QFileInfo(path).suffix().compare(QLatin1String("bmp"), Qt::CaseInsensitive) == 0
        ? QStringLiteral("image/bmp")
        : QStringLiteral("image/jpeg");
    return subject;
}

std::optional<TThumbnailCache::TEntry> TThumbnailCache::ReadEntry(
    const QString& file, const TSubject& subject) const
{
    const std::optional<QByteArray> data = ReadRegularFile(file, MaxEntryBytes);
    if (!data || data->isEmpty())
        return std::nullopt;
    QBuffer buffer;
    buffer.setData(*data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "png");
    reader.setAutoDetectImageFormat(false);
    const QSize size = reader.size();
    if (!size.isValid() || size.width() > MaxEntrySide || size.height() > MaxEntrySide)
        return std::nullopt;
    QImage image;
    if (!reader.read(&image) || image.isNull())
        return std::nullopt;
    if (image.text(UriKey) != subject.Uri)
        return std::nullopt;
    bool ok = false;
    const qint64 mtime = image.text(MTimeKey).toLongLong(&ok);
    if (!ok || mtime != subject.MTime)
        return std::nullopt;
    TEntry entry;
    const int width = image.text(WidthKey).toInt(&ok);
    bool okHeight = false;
    const int height = image.text(HeightKey).toInt(&okHeight);
    if (ok && okHeight && width > 0 && height > 0)
        entry.PictureSize = QSize(width, height);
    entry.Reason = image.text(ReasonKey);
    entry.Image = std::move(image);
    return entry;
}

std::optional<TThumbnailCache::TEntry> TThumbnailCache::Find(const TSubject& subject) const
{
    for (const QString& file : { NormalPath(subject.Uri), LargePath(subject.Uri) }) {
        if (std::optional<TEntry> entry = ReadEntry(file, subject)) {
            entry->Image = entry->Image.convertToFormat(QImage::Format_RGB888);
            return entry;
        }
    }
    if (std::optional<TEntry> entry = ReadEntry(FailPath(subject.Uri), subject)) {
        entry->Failed = true;
        entry->Image = QImage();
        return entry;
    }
    return std::nullopt;
}

bool TThumbnailCache::WriteEntry(const QString& folder, const QString& file, const QImage& image) const
{
    if (!MakePrivateFolders(folder))
        return false;
    QByteArray png;
    {
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, "png");
        // Thumbnails are small and written often: quick compression is worth more than the last bytes.
        writer.setQuality(70);
        for (const QString& key : image.textKeys())
            writer.setText(key, image.text(key));
        if (!writer.write(image))
            return false;
    }
    // A unique temporary name in the same folder, so that the rename is atomic and no other program
    // ever reads a half-written entry.
    QByteArray temporary = QFile::encodeName(folder + QStringLiteral("/.mirava-XXXXXX"));
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return false;
    bool written = ::fchmod(fd, 0600) == 0;
    qsizetype done = 0;
    while (written && done < png.size()) {
        const ssize_t put = ::write(fd, png.constData() + done, size_t(png.size() - done));
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            written = false;
        else
            done += put;
    }
    written = ::close(fd) == 0 && written;
    if (written && ::rename(temporary.constData(), QFile::encodeName(file).constData()) == 0)
        return true;
    ::unlink(temporary.constData());
    return false;
}

bool TThumbnailCache::Store(const TSubject& subject, const QImage& image, const QSize& pictureSize) const
{
    if (image.isNull())
        return false;
    QImage thumbnail = image;
    if (image.width() > NormalSide || image.height() > NormalSide)
        thumbnail = image.scaled(NormalSide, NormalSide, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    thumbnail.setText(UriKey, subject.Uri);
    thumbnail.setText(MTimeKey, QString::number(subject.MTime));
    thumbnail.setText(SizeKey, QString::number(subject.Size));
    thumbnail.setText(MimeKey, subject.MimeType);
    if (pictureSize.isValid()) {
        thumbnail.setText(WidthKey, QString::number(pictureSize.width()));
        thumbnail.setText(HeightKey, QString::number(pictureSize.height()));
    }
    thumbnail.setText(SoftwareKey, Software);
    return WriteEntry(root + QStringLiteral("/normal"), NormalPath(subject.Uri), thumbnail);
}

bool TThumbnailCache::StoreFailure(const TSubject& subject, const QString& reason) const
{
    // The standard asks for a PNG here too; one pixel carries the text keys.
    QImage mark(1, 1, QImage::Format_ARGB32);
    mark.fill(Qt::transparent);
    mark.setText(UriKey, subject.Uri);
    mark.setText(MTimeKey, QString::number(subject.MTime));
    mark.setText(SizeKey, QString::number(subject.Size));
    mark.setText(SoftwareKey, Software);
    mark.setText(ReasonKey, reason);
    const QString file = FailPath(subject.Uri);
    return WriteEntry(QFileInfo(file).path(), file, mark);
}

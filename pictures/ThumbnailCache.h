#pragma once

#include <QImage>
#include <QSize>
#include <QString>
#include <optional>

// The thumbnail cache that every desktop program shares, under "$XDG_CACHE_HOME/thumbnails" (or
// "~/.cache/thumbnails"), laid out as the freedesktop.org thumbnail managing standard says: one PNG per
// picture in "normal/" (at most 128 pixels a side) or "large/" (256), named by the MD5 of the picture's
// "file://" URI, with the URI and the picture's modification time in its text keys, and an entry under
// "fail/mirava-<version>/" for a picture that could not be decoded.
//
// The object holds only paths and can be used from any thread; every call reads or writes the files.
class TThumbnailCache
{
public:
    // The cache under `root` (a "thumbnails" folder); DefaultRoot when empty.
    explicit TThumbnailCache(const QString& root = QString());

    // "$XDG_CACHE_HOME/thumbnails", or "~/.cache/thumbnails" when the variable is empty or not absolute.
    static QString DefaultRoot();
    // The canonical "file://" URI of the file at `path` (links resolved, special characters escaped).
    static QString UriOf(const QString& path);
    // The file name of a cache entry: the MD5 of the URI in lower-case hex, then ".png".
    static QString EntryName(const QString& uri);
    // Side of the "normal/" thumbnails.
    static constexpr int NormalSide = 128;
    static constexpr int LargeSide = 256;

    const QString& Root() const { return root; }
    QString NormalPath(const QString& uri) const;
    QString LargePath(const QString& uri) const;
    QString FailPath(const QString& uri) const;

    // What the cache knows of one picture file.
    struct TEntry
    {
        QImage Image; // the cached thumbnail (null for a failure entry)
        QSize PictureSize; // the picture's own size when the entry records it, else invalid
        bool Failed = false; // a failure entry: the picture could not be decoded at this modification time
        QString Reason; // why, for a failure entry written by this program
    };

    // The picture file as the cache sees it: its URI and modification time (seconds since 1970), or
    // nothing when the file cannot be looked at or lies inside the cache itself (never cached).
    struct TSubject
    {
        QString Uri;
        qint64 MTime = 0;
        qint64 Size = 0; // in bytes
        QString MimeType; // "image/jpeg" or "image/bmp", by the extension
    };
    std::optional<TSubject> SubjectOf(const QString& path) const;

    // The valid entry for `subject`: a "normal/" thumbnail (or "large/" one, when no "normal/" one is
    // valid) whose Thumb::URI matches and whose Thumb::MTime equals the file's, or else a failure entry of
    // this program with the same checks; nothing when there is none.
    std::optional<TEntry> Find(const TSubject& subject) const;

    // Writes a "normal/" thumbnail of `image` (scaled down to 128 pixels a side when larger) for a picture
    // of size `pictureSize`. Written under a temporary name in the same folder and renamed, mode 0600,
    // folders 0700. False when it could not be written (the cache is only a help: callers go on).
    bool Store(const TSubject& subject, const QImage& image, const QSize& pictureSize) const;
    // Writes a failure entry with `reason`.
    bool StoreFailure(const TSubject& subject, const QString& reason) const;

private:
    std::optional<TEntry> ReadEntry(const QString& file, const TSubject& subject) const;
    bool WriteEntry(const QString& folder, const QString& file, const QImage& image) const;

    QString root;
};

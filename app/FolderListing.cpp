#include "app/FolderListing.h"

#include "pictures/FileName.h"
#include "pictures/PictureDecoder.h"

#include <QCollator>
#include <QLocale>
#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <sys/stat.h>
#include <vector>

QString FolderPathWithSeparator(const QString& folder)
{
    if (folder.isEmpty() || folder.endsWith(u'/'))
        return folder;
    return folder + u'/';
}

bool HasPictureExtension(const QString& name)
{
    const qsizetype dot = name.lastIndexOf(u'.');
    if (dot < 0)
        return false;
    const QStringView extension = QStringView(name).mid(dot);
    return extension == u".jpg" || extension == u".bmp";
}

QCollator NaturalCollator()
{
    // The "C" locale compares code points only and knows no numeric order; fall back to a real one then.
    QLocale locale;
    if (locale.language() == QLocale::C)
        locale = QLocale(QLocale::English, QLocale::UnitedStates);
    QCollator collator(locale);
    collator.setNumericMode(true);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    return collator;
}

void SortNaturally(QStringList& names)
{
    // One sort key per name, made once, instead of a collation of both names at every comparison: a
    // folder of 10,000 pictures sorts in a fraction of the time.
    const QCollator collator = NaturalCollator();
    struct TKeyed
    {
        QCollatorSortKey key;
        QString name;
    };
    std::vector<TKeyed> keyed;
    keyed.reserve(size_t(names.size()));
    for (QString& name : names)
        keyed.push_back({ collator.sortKey(name), std::move(name) });
    std::sort(keyed.begin(), keyed.end(), [](const TKeyed& a, const TKeyed& b) {
        const int order = a.key.compare(b.key);
        if (order != 0)
            return order < 0;
        return a.name < b.name; // names equal but for letter case: a fixed order all the same
    });
    for (qsizetype i = 0; i < names.size(); ++i)
        names[i] = std::move(keyed[size_t(i)].name);
}

namespace {
// Closes a folder opened with opendir when it goes.
struct TFolderStream
{
    explicit TFolderStream(const QByteArray& path)
        : handle(::opendir(path.constData()))
    { }
    ~TFolderStream()
    {
        if (handle)
            ::closedir(handle);
    }
    TFolderStream(const TFolderStream&) = delete;
    TFolderStream& operator=(const TFolderStream&) = delete;
    DIR* handle;
};

// Whether the entry is a regular file or a link to one. Most file systems tell the type with the entry;
// only links and entries of unknown type need a look at the file itself.
bool IsRegularFile(const dirent& entry, const QByteArray& path)
{
    switch (entry.d_type) {
    case DT_REG:
        return true;
    case DT_LNK:
    case DT_UNKNOWN:
        break;
    default:
        return false; // a folder, a pipe, a socket or a device
    }
    struct stat status;
    return ::stat(path.constData(), &status) == 0 && S_ISREG(status.st_mode);
}

QString CannotRead(const QString& folder, int code)
{
    return QStringLiteral("Cannot read the folder \"%1\": %2")
        .arg(ShownFileName(folder), qt_error_string(code));
}
} // namespace

TFolderListing ListPictureFolder(const QString& folder, const std::function<bool()>& stop)
{
    TFolderListing listing;
    listing.Folder = FolderPathWithSeparator(folder);
    if (listing.Folder.isEmpty())
        return listing;
    // The folder is read by its bytes: a name that is not valid UTF-8 is listed too, by a path that opens it.
    const QByteArray nativeFolder = EncodeFileName(listing.Folder);
    TFolderStream stream(nativeFolder);
    if (!stream.handle) {
        listing.Error = CannotRead(listing.Folder, errno);
        return listing;
    }
    QStringList names;
    for (int read = 1;; ++read) {
        if (stop && read % 256 == 0 && stop())
            return listing;
        errno = 0;
        const dirent* entry = ::readdir(stream.handle);
        if (!entry) {
            if (errno != 0)
                listing.Error = CannotRead(listing.Folder, errno);
            break;
        }
        const QByteArray rawName(entry->d_name);
        // Hidden entries (and "." and "..") are left out by their name.
        if (rawName.startsWith('.'))
            continue;
        const QString name = DecodeFileName(rawName);
        if (!HasPictureExtension(name))
            continue;
        if (!IsRegularFile(*entry, nativeFolder + rawName)) {
            ++listing.Skipped; // a folder, a dead link or a special file named like a picture
            continue;
        }
        names.append(name);
    }
    if (stop && stop())
        return listing;
    SortNaturally(names);
    listing.Files.reserve(names.size());
    for (const QString& name : names)
        listing.Files.append(listing.Folder + name);
    return listing;
}

void ReadListedSizes(TFolderListing& listing, int readable, const std::function<bool()>& stop)
{
    listing.Sizes.clear();
    int found = 0;
    for (const QString& path : std::as_const(listing.Files)) {
        if (found >= readable || (stop && stop()))
            return;
        try {
            listing.Sizes.append(ReadPictureSize(path));
            ++found;
        } catch (const TPictureError&) {
            listing.Sizes.append(QSize()); // the picture list leaves such a file out
        }
    }
}

#include "app/FolderListing.h"

#include "pictures/FileName.h"

#include <QCollator>
#include <QLocale>
#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <sys/stat.h>

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

void SortNaturally(QStringList& names)
{
    // The "C" locale compares code points only and knows no numeric order; fall back to a real one then.
    QLocale locale;
    if (locale.language() == QLocale::C)
        locale = QLocale(QLocale::English, QLocale::UnitedStates);
    QCollator collator(locale);
    collator.setNumericMode(true);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::sort(names.begin(), names.end(), [&collator](const QString& a, const QString& b) {
        const int order = collator.compare(a, b);
        if (order != 0)
            return order < 0;
        return a < b; // names equal but for letter case: a fixed order all the same
    });
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

QString CannotRead(const QString& folder, int code)
{
    return QStringLiteral("Cannot read the folder \"%1\": %2")
        .arg(ShownFileName(folder), qt_error_string(code));
}
} // namespace

TFolderListing ListPictureFolder(const QString& folder)
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
    for (;;) {
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
        struct stat status;
        if (::stat((nativeFolder + rawName).constData(), &status) != 0 || !S_ISREG(status.st_mode)) {
            ++listing.Skipped; // a folder, a dead link or a special file named like a picture
            continue;
        }
        names.append(name);
    }
    SortNaturally(names);
    for (const QString& name : names)
        listing.Files.append(listing.Folder + name);
    return listing;
}

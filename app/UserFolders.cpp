#include "app/UserFolders.h"

#include <QDir>
#include <QFile>
#include <cerrno>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString WithSeparator(const QString& folder)
{
    return folder.endsWith(u'/') ? folder : folder + u'/';
}

QString Environment(const char* name)
{
    return QFile::decodeName(qgetenv(name));
}

// The home folder: $HOME, else the user's entry in the password database.
QString HomeFolder()
{
    QString home = Environment("HOME");
    if (home.isEmpty())
        if (const passwd* entry = ::getpwuid(::geteuid()); entry && entry->pw_dir)
            home = QFile::decodeName(entry->pw_dir);
    return home;
}

// An XDG variable counts only when it holds an absolute path; else the default below the home folder.
QString BaseFolder(const QString& value, const QString& home, const QString& fallback)
{
    if (value.startsWith(u'/'))
        return WithSeparator(QDir::cleanPath(value));
    return WithSeparator(QDir::cleanPath(home + u'/' + fallback));
}

} // namespace

TUserFolders TUserFolders::For(const QString& appFolder)
{
    return For(appFolder, IsOwnFolder(appFolder), HomeFolder(), Environment("XDG_CONFIG_HOME"),
        Environment("XDG_DATA_HOME"));
}

bool TUserFolders::IsOwnFolder(const QString& appFolder)
{
    // The marker is only looked at, never opened: its presence is all it says.
    struct stat marker
    {
    };
    if (::lstat(QFile::encodeName(appFolder + QLatin1String(InstalledMarker)).constData(), &marker) == 0)
        return false;
    return ::access(QFile::encodeName(appFolder).constData(), W_OK) == 0;
}

TUserFolders TUserFolders::For(const QString& appFolder, bool ownFolder, const QString& home,
    const QString& xdgConfigHome, const QString& xdgDataHome)
{
    TUserFolders folders;
    if (ownFolder) {
        folders.ConfigFolder = WithSeparator(appFolder);
        folders.ReportFolder = folders.ConfigFolder;
        return folders;
    }
    folders.PerUser = true;
    folders.ConfigFolder
        = BaseFolder(xdgConfigHome, home, QStringLiteral(".config")) + QStringLiteral("mirava/");
    folders.DataFolder
        = BaseFolder(xdgDataHome, home, QStringLiteral(".local/share")) + QStringLiteral("mirava/");
    folders.StateFilePrefix = folders.DataFolder;
    folders.ReportFolder = folders.DataFolder;
    return folders;
}

bool TUserFolders::Create() const
{
    if (!PerUser)
        return true;
    const bool config = MakePrivateFolder(ConfigFolder);
    const bool data = MakePrivateFolder(DataFolder);
    return config && data;
}

bool MakePrivateFolder(const QString& folder)
{
    const QString clean = QDir::cleanPath(folder);
    if (!clean.startsWith(u'/'))
        return false;
    // Each missing folder on the way down is made 0700 and set to 0700 whatever the umask says; folders that
    // exist already keep their mode.
    qsizetype next = 0;
    while (next >= 0) {
        next = clean.indexOf(u'/', next + 1);
        const QByteArray path = QFile::encodeName(next < 0 ? clean : clean.left(next));
        if (::mkdir(path.constData(), 0700) == 0)
            ::chmod(path.constData(), 0700);
        else if (errno != EEXIST)
            return false;
    }
    struct stat info
    {
    };
    return ::stat(QFile::encodeName(clean).constData(), &info) == 0 && S_ISDIR(info.st_mode);
}

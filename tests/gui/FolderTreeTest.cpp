#include "AppTestSupport.h"
#include "app/FolderIconProvider.h"
#include "support/Watchdog.h"

#include <QFileSystemModel>
#include <QIcon>
#include <cerrno>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {
// Records which entries of one folder are opened (the folder itself does not count).
class TOpenWatch
{
public:
    explicit TOpenWatch(const QString& folder)
        : handle(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC))
    {
        if (handle >= 0 && ::inotify_add_watch(handle, QFile::encodeName(folder).constData(), IN_OPEN) < 0) {
            ::close(handle);
            handle = -1;
        }
    }
    ~TOpenWatch()
    {
        if (handle >= 0)
            ::close(handle);
    }
    TOpenWatch(const TOpenWatch&) = delete;
    TOpenWatch& operator=(const TOpenWatch&) = delete;

    bool Valid() const { return handle >= 0; }

    QStringList OpenedFiles()
    {
        QStringList names;
        alignas(inotify_event) char buffer[8192];
        ssize_t got;
        while ((got = ::read(handle, buffer, sizeof buffer)) > 0) {
            for (ssize_t at = 0; at < got;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                if (event->len > 0 && !(event->mask & IN_ISDIR))
                    names.append(QFile::decodeName(event->name));
                at += ssize_t(sizeof(inotify_event) + event->len);
            }
        }
        return names;
    }

private:
    int handle;
};

void MakeFifo(const QString& path)
{
    ASSERT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0600), 0) << path.toStdString();
}

class FolderTree : public TWindowTest
{
protected:
    // Unfolds the folder in the tree and waits until the model has read it; false when it did not in time.
    bool Unfold(const QString& folder)
    {
        QFileSystemModel* model = form->FolderModel;
        bool loaded = false;
        const auto connection = QObject::connect(model, &QFileSystemModel::directoryLoaded, model,
            [&](const QString& path) { loaded = loaded || path == folder; });
        const QModelIndex index = model->index(folder);
        if (!index.isValid())
            return false;
        form->ShellTreeView1->expand(index);
        if (model->canFetchMore(index))
            model->fetchMore(index);
        const bool done = QTest::qWaitFor([&] { return loaded; }, 15000);
        QObject::disconnect(connection);
        QTest::qWait(100); // the model sorts and settles what it read
        return done;
    }
};
} // namespace

TEST_F(FolderTree, FoldersAreReadWithoutOpeningAnyFile)
{
    // Files whose type could only be guessed from their contents, and named pipes that would hold whoever
    // opens them for reading, also under the name a folder's own icon settings would have.
    QTemporaryDir dir;
    WriteBytes(dir.filePath("notes"), "plain words");
    WriteBytes(dir.filePath("page"), "<html><body>markup</body></html>");
    SavePerson(0, dir.filePath("photo.bmp"));
    ASSERT_NO_FATAL_FAILURE(MakeFifo(dir.filePath(".directory")));
    ASSERT_NO_FATAL_FAILURE(MakeFifo(dir.filePath("kmsg")));
    ASSERT_TRUE(QDir(dir.path()).mkdir("sub"));
    ASSERT_NO_FATAL_FAILURE(MakeFifo(dir.filePath("sub/.directory")));
    WriteBytes(dir.filePath("sub/data"), QByteArray(64, '\x7f'));
    TOpenWatch watch(dir.path());
    TOpenWatch watchSub(dir.filePath("sub"));
    ASSERT_TRUE(watch.Valid() && watchSub.Valid());

    TWatchdog watchdog(60s, "reading folders with named pipes in the folder tree");
    TMainForm& window = Start();
    ASSERT_TRUE(Unfold(dir.path()));
    ASSERT_TRUE(Unfold(dir.filePath("sub")));
    EXPECT_EQ(watch.OpenedFiles(), QStringList());
    EXPECT_EQ(watchSub.OpenedFiles(), QStringList());

    // The tree holds the folder only, shown with a folder icon.
    const QModelIndex parent = window.FolderModel->index(dir.path());
    ASSERT_EQ(window.FolderModel->rowCount(parent), 1);
    const QModelIndex sub = window.FolderModel->index(0, 0, parent);
    EXPECT_EQ(window.FolderModel->fileName(sub), QStringLiteral("sub"));
    const QIcon icon = window.FolderModel->data(sub, Qt::DecorationRole).value<QIcon>();
    EXPECT_FALSE(icon.pixmap(16, 16).isNull());
}

TEST_F(FolderTree, UnfoldingProcReturnsPromptly)
{
    if (!QFileInfo(QStringLiteral("/proc/self")).isDir())
        GTEST_SKIP() << "no /proc here";
    TWatchdog watchdog(60s, "unfolding /proc in the folder tree");
    TMainForm& window = Start();
    ASSERT_TRUE(Unfold(QStringLiteral("/proc")));
    EXPECT_GT(window.FolderModel->rowCount(window.FolderModel->index(QStringLiteral("/proc"))), 0);
    // A process's folder holds files that block or never end when read (/proc/self/pagemap, kmsg beside).
    ASSERT_TRUE(Unfold(QStringLiteral("/proc/self")));
    // The window still answers: a folder selected now is listed.
    SelectFolder(appFolder.path());
    EXPECT_EQ(window.CurrentFolder, appFolder.path() + u'/');
}

TEST_F(FolderTree, IconsComeFromTheStyleWithoutATheme)
{
    const QString previousTheme = QIcon::themeName();
    QIcon::setThemeName(QStringLiteral("mirava-no-such-theme"));
    {
        TFolderIconProvider provider;
        QTemporaryDir dir;
        ASSERT_NO_FATAL_FAILURE(MakeFifo(dir.filePath("pipe")));
        const QIcon folder = provider.icon(QFileInfo(dir.path()));
        const QIcon pipe = provider.icon(QFileInfo(dir.filePath("pipe")));
        EXPECT_FALSE(folder.pixmap(16, 16).isNull());
        EXPECT_FALSE(pipe.pixmap(16, 16).isNull());
        EXPECT_NE(folder.cacheKey(), pipe.cacheKey());
        EXPECT_EQ(provider.icon(QAbstractFileIconProvider::Folder).cacheKey(), folder.cacheKey());
        EXPECT_EQ(provider.type(QFileInfo(dir.path())), QStringLiteral("Folder"));
        EXPECT_EQ(provider.type(QFileInfo(dir.filePath("pipe"))), QStringLiteral("File"));
        EXPECT_EQ(provider.type(QFileInfo(QStringLiteral("/"))), QStringLiteral("Drive"));
    }
    QIcon::setThemeName(previousTheme);
}

#pragma once

// Files that are no ordinary files, for tests of the readers: a named pipe without a writer, a folder, and
// links to endless or never-ending sources. A reader that waits or reads without end on one of them hangs;
// THangGuard turns such a hang into a failed test.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

// Ends the test program (SIGALRM) when the guarded calls take longer than `seconds`.
class THangGuard
{
public:
    explicit THangGuard(unsigned seconds = 20) { ::alarm(seconds); }
    ~THangGuard() { ::alarm(0); }
    THangGuard(const THangGuard&) = delete;
    THangGuard& operator=(const THangGuard&) = delete;
};

struct TSpecialFile
{
    QString path;
    const char* kind; // what the file is, for failure messages
};

// Makes "<stem>-pipe<suffix>" (a named pipe), "<stem>-folder<suffix>" (a folder), "<stem>-zero<suffix>" (a
// link to /dev/zero) and, where the system has it, "<stem>-pagemap<suffix>" (a link to /proc/self/pagemap, a
// regular file of size 0 that delivers gigabytes) in `folder`.
inline std::vector<TSpecialFile> MakeSpecialFiles(
    const QString& folder, const QString& stem, const QString& suffix)
{
    std::vector<TSpecialFile> files;
    const QDir dir(folder);
    const QString pipe = dir.filePath(stem + "-pipe" + suffix);
    EXPECT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    files.push_back({ pipe, "named pipe" });
    const QString subfolder = dir.filePath(stem + "-folder" + suffix);
    EXPECT_TRUE(dir.mkpath(subfolder));
    files.push_back({ subfolder, "folder" });
    const QString zero = dir.filePath(stem + "-zero" + suffix);
    EXPECT_EQ(::symlink("/dev/zero", QFile::encodeName(zero).constData()), 0);
    files.push_back({ zero, "link to /dev/zero" });
    if (::access("/proc/self/pagemap", R_OK) == 0) {
        const QString pagemap = dir.filePath(stem + "-pagemap" + suffix);
        EXPECT_EQ(::symlink("/proc/self/pagemap", QFile::encodeName(pagemap).constData()), 0);
        files.push_back({ pagemap, "link to /proc/self/pagemap" });
    }
    return files;
}

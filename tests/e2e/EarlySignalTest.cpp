// The real program and a signal sent before the program could have set up anything: the one that asks for
// the state report must not end it, and is answered once its window exists; a stop is carried out then. The
// signal is made to wait (blocked and pending) when the program starts, which is the earliest a signal can
// come; the program runs offscreen from a copy in a folder of its own, with its home and temporary folders
// inside the test's folder.

#include "tests/e2e/TestProcess.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <chrono>
#include <csignal>
#include <functional>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <thread>

using namespace std::chrono_literals;

namespace {

std::string Text(const QString& text)
{
    return text.toStdString();
}

bool WaitUntil(const std::function<bool()>& ready, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!ready()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

QByteArray ReadAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A copy of the program in a folder of its own, started offscreen with `pendingSignal` waiting.
struct TEarlyStart
{
    QTemporaryDir work { QDir::tempPath() + QStringLiteral("/mirava-early-signal-XXXXXX") };
    QString appFolder = work.filePath(QStringLiteral("app"));
    QString statePath = appFolder + QStringLiteral("/mirava-state.txt");
    E2e::TProcess process;

    void Start(int pendingSignal)
    {
        ASSERT_TRUE(work.isValid());
        for (const char* folder : { "app", "run", "home", "config", "data", "cache", "tmp" })
            ASSERT_TRUE(QDir(work.path()).mkdir(QString::fromLatin1(folder)));
        const QString program = appFolder + QStringLiteral("/mirava");
        ASSERT_TRUE(QFile::copy(QStringLiteral(MIRAVA_E2E_PROGRAM), program));
        E2e::TLaunch launch;
        launch.Arguments = { Text(program) };
        launch.Environment = E2e::Environment(
            { "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "XAUTHORITY", "HOME", "XDG_CONFIG_HOME",
                "XDG_DATA_HOME", "XDG_CACHE_HOME", "TMPDIR" },
            { "QT_QPA_PLATFORM=offscreen", "HOME=" + Text(work.filePath("home")),
                "XDG_CONFIG_HOME=" + Text(work.filePath("config")),
                "XDG_DATA_HOME=" + Text(work.filePath("data")),
                "XDG_CACHE_HOME=" + Text(work.filePath("cache")), "TMPDIR=" + Text(work.filePath("tmp")) });
        launch.Folder = Text(work.filePath("run"));
        launch.PendingSignal = pendingSignal;
        std::string error;
        ASSERT_TRUE(process.Start(launch, error)) << error;
    }
};

} // namespace

TEST(EarlySignal, AReportAskedForAtStartIsWrittenOnceTheWindowExists)
{
    TEarlyStart early;
    ASSERT_NO_FATAL_FAILURE(early.Start(SIGUSR1));
    E2e::TProcess& process = early.process;
    const QString& statePath = early.statePath;
    const QString& appFolder = early.appFolder;

    // No other signal is sent: the one that waited at start brings the report.
    ASSERT_TRUE(WaitUntil([&] { return QFileInfo::exists(statePath) || !process.Running(); }, 30s))
        << "no state report came";
    ASSERT_TRUE(process.Running()) << "the program ended, status " << process.ExitStatus();
    ASSERT_TRUE(WaitUntil([&] { return ReadAll(statePath).contains("\nFolder="); }, 5s));
    EXPECT_TRUE(ReadAll(statePath).contains("\nFolder=" + QFile::encodeName(appFolder) + "/\n"))
        << ReadAll(statePath).toStdString();

    // It lives on as usual: the next request gets the next report, and SIGTERM ends it cleanly.
    ASSERT_TRUE(QFile::remove(statePath));
    ::kill(process.Pid(), SIGUSR1);
    EXPECT_TRUE(WaitUntil([&] { return QFileInfo::exists(statePath) || !process.Running(); }, 10s));
    EXPECT_TRUE(process.Running());
    ::kill(process.Pid(), SIGTERM);
    ASSERT_TRUE(WaitUntil([&] { return !process.Running(); }, 10s)) << "SIGTERM did not end the program";
    EXPECT_TRUE(WIFEXITED(process.ExitStatus()) && WEXITSTATUS(process.ExitStatus()) == 0)
        << "status " << process.ExitStatus();
}

// A stop that waited at start, blocked by whoever started the program, is carried out once the window
// exists: the program ends by itself, having written app.ini.
TEST(EarlySignal, AStopAskedForAtStartEndsTheProgram)
{
    TEarlyStart early;
    ASSERT_NO_FATAL_FAILURE(early.Start(SIGTERM));
    ASSERT_TRUE(WaitUntil([&] { return !early.process.Running(); }, 30s)) << "the program did not stop";
    EXPECT_TRUE(WIFEXITED(early.process.ExitStatus()) && WEXITSTATUS(early.process.ExitStatus()) == 0)
        << "status " << early.process.ExitStatus();
    EXPECT_TRUE(ReadAll(early.appFolder + QStringLiteral("/app.ini")).startsWith("[globalconst]\n"));
}

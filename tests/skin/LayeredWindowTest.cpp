// The layered-window mode on a real X server: a private Xvfb for this binary, and xcompmgr as the
// compositor for the cases that need one.
#include "skin/PlayerCodeProvider.h"
#include "skin/SkinSubsystem.h"
#include "skin/TransparentMoviePlayerControl.h"
#include "support/BuiltPlayer.h"
#include "support/PrivateUserFolders.h"

#include <QApplication>
#include <QFile>
#include <QKeyEvent>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

using namespace Mrv;

namespace {

pid_t Spawn(const std::vector<std::string>& arguments, int outputFd = -1)
{
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (outputFd >= 0)
        posix_spawn_file_actions_adddup2(&actions, outputFd, 1);
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

void End(pid_t pid)
{
    if (pid <= 0)
        return;
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
}

// A window whose only child is the control, over the whole window, counting the keys that reach it.
class TWindow : public QWidget
{
public:
    int keys = 0;

protected:
    void keyPressEvent(QKeyEvent* event) override
    {
        ++keys;
        event->accept();
    }
};

class LayeredWindow : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(StartSkinWithBuiltPlayer());
        window.resize(200, 100);
        control = std::make_unique<TTransparentMoviePlayerControl>(&window);
        control->setGeometry(10, 10, 100, 50);
        control->LoadMovie(0, QStringLiteral(MIRAVA_TEST_MOVIES "/layer.mrv"));
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    }
    void TearDown() override
    {
        control.reset();
        End(compositor);
        TSkinSubsystem::Stop();
    }

    TWindow window;
    std::unique_ptr<TTransparentMoviePlayerControl> control;
    pid_t compositor = -1;
};

} // namespace

TEST_F(LayeredWindow, IsRefusedWhereNoCompositorRuns)
{
    ASSERT_FALSE(TTransparentMoviePlayerControl::CompositorRunning());
    control->SetMakeParentTransparent(true);
    EXPECT_FALSE(control->MakeParentTransparent());
    EXPECT_FALSE(window.testAttribute(Qt::WA_TranslucentBackground));
    EXPECT_EQ(control->geometry(), QRect(10, 10, 100, 50));
}

TEST_F(LayeredWindow, WithACompositorAShownWindowGetsAnAlphaChannelAndEverythingComesBack)
{
    compositor = Spawn({ "xcompmgr" });
    ASSERT_GT(compositor, 0) << "xcompmgr could not be started";
    ASSERT_TRUE(QTest::qWaitFor([] { return TTransparentMoviePlayerControl::CompositorRunning(); }, 10000));
    const Qt::WindowFlags flags = window.windowFlags();

    control->SetMakeParentTransparent(true);
    ASSERT_TRUE(control->MakeParentTransparent());
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    ASSERT_TRUE(window.windowHandle());
    EXPECT_TRUE(window.windowHandle()->format().hasAlpha()) << "the native window was not made anew";
    EXPECT_TRUE(window.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(control->geometry(), window.rect());
    // The window takes input only where the movie draws: its magenta button at (0, 40) to (100, 100).
    EXPECT_TRUE(QTest::qWaitFor([&] { return !window.mask().isEmpty(); }, 5000));
    EXPECT_TRUE(window.mask().contains(QPoint(50, 70)));
    EXPECT_FALSE(window.mask().contains(QPoint(150, 20)));
    // The menu key is dropped; other keys go on to the window.
    QTest::keyClick(&window, Qt::Key_Menu);
    EXPECT_EQ(window.keys, 0);
    QTest::keyClick(&window, Qt::Key_A);
    EXPECT_EQ(window.keys, 1);

    control->SetMakeParentTransparent(false);
    EXPECT_FALSE(control->MakeParentTransparent());
    EXPECT_EQ(window.windowFlags(), flags);
    EXPECT_FALSE(window.testAttribute(Qt::WA_TranslucentBackground));
    EXPECT_TRUE(window.mask().isEmpty());
    EXPECT_EQ(control->geometry(), QRect(10, 10, 100, 50));
    QTest::keyClick(&window, Qt::Key_Menu);
    EXPECT_EQ(window.keys, 2);
}

// Runs every test inside a private X server started with -displayfd, so that parallel runs never meet.
int main(int argc, char** argv)
{
    const TPrivateUserFolders userFolders;
    ::testing::InitGoogleTest(&argc, argv);
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return 1;
    const pid_t server = Spawn({ "Xvfb", "-displayfd", std::to_string(pipeFds[1]), "-screen", "0",
        "640x480x24", "-nolisten", "tcp" });
    ::close(pipeFds[1]);
    std::string number;
    char c = 0;
    while (::read(pipeFds[0], &c, 1) == 1 && c != '\n')
        number += c;
    ::close(pipeFds[0]);
    if (server <= 0 || number.empty()) {
        fprintf(stderr, "Xvfb could not be started\n");
        End(server);
        return 1;
    }
    setenv("DISPLAY", (":" + number).c_str(), 1);
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    int result = 1;
    {
        QApplication application(argc, argv);
        result = RUN_ALL_TESTS();
    }
    End(server);
    return result;
}

// The installed program, end to end: the build is installed into a temporary DESTDIR, and the installed
// `mirava` runs as a user who may not write to the installed tree (nobody when the test runs as root; the
// test's own user on a tree made read-only otherwise), with a fresh empty HOME, inside a private X server.
// Its window must come up with the skin drawn and the samples listed, keep app.ini, the slot files and its
// state report in the user's XDG folders, and write nothing at all inside the installed tree.

#include "tests/e2e/WindowDriver.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <chrono>
#include <csignal>
#include <functional>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;
using E2e::Describe;
using E2e::Get;
using E2e::TLaunch;
using E2e::TProcess;
using E2e::TState;
using E2e::TStrings;

namespace {

const std::string CmakePath = MIRAVA_INSTALL_CMAKE;
const QString BuildFolder = QStringLiteral(MIRAVA_INSTALL_BUILD);
const QString Version = QStringLiteral(MIRAVA_INSTALL_VERSION);
const QString ArtifactsFolder = QStringLiteral(MIRAVA_E2E_ARTIFACTS);
const std::string XvfbPath = MIRAVA_E2E_XVFB;
const std::string XdotoolPath = MIRAVA_E2E_XDOTOOL;
const std::string ImportPath = MIRAVA_E2E_IMPORT;
const std::string SetprivPath = MIRAVA_INSTALL_SETPRIV;
const QString PlayerRegistration
    = QStringLiteral("registry/CLSID/{7A3C51E2-94B0-4F6D-8C1E-2B5D9A60F314}/InprocServer32");

std::string Text(const QString& text)
{
    return text.toStdString();
}

QByteArray ReadAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<absent>");
}

mode_t ModeOf(const QString& path)
{
    struct stat info
    {
    };
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode & 07777 : 0;
}

// Every entry below `root` with its type, size, mode, owner, time and content hash: two listings differ when
// anything was written, created, removed or touched.
QStringList Snapshot(const QString& root)
{
    QStringList entries;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
        QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        struct stat info
        {
        };
        if (::lstat(QFile::encodeName(path).constData(), &info) != 0) {
            entries << path + QStringLiteral(" <gone>");
            continue;
        }
        QString entry = QStringLiteral("%1 mode=%2 uid=%3 size=%4 mtime=%5.%6")
                            .arg(path.mid(root.size()))
                            .arg(info.st_mode, 0, 8)
                            .arg(info.st_uid)
                            .arg(info.st_size)
                            .arg(info.st_mtim.tv_sec)
                            .arg(info.st_mtim.tv_nsec);
        if (S_ISREG(info.st_mode))
            entry += u' '
                + QString::fromLatin1(
                    QCryptographicHash::hash(ReadAll(path), QCryptographicHash::Md5).toHex());
        entries << entry;
    }
    entries.sort();
    return entries;
}

class InstalledProgram : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_FALSE(XvfbPath.empty()) << "Xvfb is missing (scripts/setup.sh installs it)";
        ASSERT_FALSE(XdotoolPath.empty()) << "xdotool is missing (scripts/setup.sh installs it)";
        ASSERT_TRUE(QDir().mkpath(ArtifactsFolder));
        ASSERT_TRUE(work.isValid());
        // Whoever runs the program must reach the tree and its own folders through the test's folder.
        ASSERT_EQ(::chmod(QFile::encodeName(work.path()).constData(), 0755), 0);
        destdir = work.filePath(QStringLiteral("root"));
        prefix = destdir + QStringLiteral("/usr");
        appFolder = prefix + QStringLiteral("/lib/mirava/");
        home = work.filePath(QStringLiteral("home"));
        tmp = work.filePath(QStringLiteral("tmp"));
        ASSERT_TRUE(QDir().mkpath(home));
        ASSERT_TRUE(QDir().mkpath(tmp));
        dataFolder = home + QStringLiteral("/.local/share/mirava/");
        configFolder = home + QStringLiteral("/.config/mirava/");
        statePath = dataFolder + QStringLiteral("mirava-state.txt");
        screenPath = dataFolder + QStringLiteral("mirava-screen.txt");
    }

    void TearDown() override
    {
        if (!display.isEmpty())
            SaveScreenshot(QStringLiteral("window.png"));
        if (program.Pid() > 0)
            program.Stop();
        xserver.Stop();
        // The tree may have been made read-only; the temporary folder removes it only when it is writable.
        if (readOnlyTree)
            Run({ "/bin/chmod", "-R", "u+w", Text(destdir) }, 30s);
    }

    static QString ArtifactPath(const QString& what)
    {
        const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
        return ArtifactsFolder + u'/' + QString::fromLatin1(test ? test->name() : "test") + u'-' + what;
    }

    // Runs a helper program to its end; its exit code, -1 when it failed to run.
    int Run(const TStrings& arguments, std::chrono::milliseconds timeout, const TStrings& environment = {},
        const std::string& log = {})
    {
        std::string error;
        const int code
            = E2e::Run({ arguments, environment.empty() ? E2e::Environment({}, {}) : environment, {}, log },
                timeout, error);
        if (code < 0)
            ADD_FAILURE() << arguments.front() << ": " << error;
        return code;
    }

    // The command line that runs `arguments` as the user the program runs as.
    TStrings AsUser(const TStrings& arguments) const
    {
        if (!dropTo)
            return arguments;
        TStrings command { SetprivPath, "--reuid=" + std::to_string(dropTo->first),
            "--regid=" + std::to_string(dropTo->second), "--clear-groups", "--" };
        command.insert(command.end(), arguments.begin(), arguments.end());
        return command;
    }

    // The environment of a user who has just logged in: a fresh HOME and no XDG folders of the test's.
    TStrings UserEnvironment(const TStrings& add) const
    {
        TStrings more { "HOME=" + Text(home), "TMPDIR=" + Text(tmp), "LC_ALL=C.UTF-8" };
        more.insert(more.end(), add.begin(), add.end());
        return E2e::Environment(
            { "HOME", "TMPDIR", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME",
                "XDG_RUNTIME_DIR", "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "XAUTHORITY", "LC_ALL" },
            more);
    }

    // Chooses who runs the program: as root, nobody (through setpriv) on the tree root owns; as anyone else,
    // the test's own user on a tree made read-only. Skips when neither works.
    void ChooseUser()
    {
        if (::geteuid() == 0) {
            if (SetprivPath.empty())
                GTEST_SKIP() << "running as root without setpriv: cannot start the program as another user";
            const passwd* nobody = ::getpwnam("nobody");
            if (!nobody)
                GTEST_SKIP() << "running as root without a user \"nobody\" to start the program as";
            dropTo = std::make_pair(nobody->pw_uid, nobody->pw_gid);
            for (const QString& folder : { home, tmp })
                ASSERT_EQ(::chown(QFile::encodeName(folder).constData(), nobody->pw_uid, nobody->pw_gid), 0);
            if (Run(AsUser({ "/bin/true" }), 10s) != 0)
                GTEST_SKIP() << "setpriv could not drop to nobody here";
        } else {
            readOnlyTree = true;
            ASSERT_EQ(Run({ "/bin/chmod", "-R", "a-w", Text(destdir) }, 30s), 0);
        }
        // The user the program runs as must not be able to write there, or the test proves nothing.
        if (Run(AsUser({ "/usr/bin/test", "-w", Text(appFolder) }), 10s) == 0)
            GTEST_SKIP()
                << "the program's user may write to the installed tree (a capability?): nothing to test";
    }

    void StartProgram()
    {
        std::string error;
        const auto started
            = E2e::StartXServer(xserver, XvfbPath, Text(ArtifactPath(QStringLiteral("xvfb.log"))), error);
        ASSERT_TRUE(started) << error;
        display = *started;
        xEnvironment = E2e::Environment({ "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "XAUTHORITY" },
            { "DISPLAY=" + Text(display) });
        TLaunch launch;
        // Started as a menu would start it: through bin/mirava, in the home folder.
        launch.Arguments = AsUser({ Text(prefix + QStringLiteral("/bin/mirava")) });
        launch.Environment = UserEnvironment({ "DISPLAY=" + Text(display), "QT_QPA_PLATFORM=xcb" });
        launch.Folder = Text(home);
        launch.LogPath = Text(ArtifactPath(QStringLiteral("mirava.log")));
        ASSERT_TRUE(program.Start(launch, error)) << error;
    }

    bool WaitFor(const std::function<bool(const TState&)>& ready, std::chrono::milliseconds timeout = 10s)
    {
        return E2e::WaitForReport(program, statePath, screenPath, ready, timeout, lastState);
    }

    void Xdotool(const TStrings& arguments)
    {
        TStrings command { XdotoolPath };
        command.insert(command.end(), arguments.begin(), arguments.end());
        ASSERT_EQ(Run(command, 10s, xEnvironment), 0) << "xdotool " << arguments.front();
    }

    void ClickAt(QPoint point)
    {
        Xdotool({ "mousemove", std::to_string(point.x()), std::to_string(point.y()) });
        std::this_thread::sleep_for(60ms);
        Xdotool({ "click", "1" });
    }

    void ClickSkinButton(int code)
    {
        const auto button = E2e::SkinButton(appFolder + QStringLiteral("skin.mrv"), code);
        ASSERT_TRUE(button) << "no button for code " << code << " in the installed skin.mrv";
        const auto panel = E2e::ParseRect(Get(lastState, "Geometry.Panel6"));
        ASSERT_TRUE(panel) << "no place reported for Panel6";
        ClickAt(panel->topLeft() + button->center());
    }

    // Waits for the message box whose text matches, then closes it with Return.
    void CloseMessage(const QRegularExpression& text)
    {
        ASSERT_TRUE(WaitFor([&](const TState& state) {
            return text.match(Get(state, "ModalText")).hasMatch();
        })) << "no message box matching "
            << Text(text.pattern()) << "; state:\n"
            << Text(Describe(lastState));
        if (const auto box = E2e::ParseRect(Get(lastState, "Geometry.Modal")))
            Xdotool({ "mousemove", std::to_string(box->x() + 6), std::to_string(box->y() + 6) });
        Xdotool({ "key", "Return" });
        ASSERT_TRUE(WaitFor([](const TState& state) { return Get(state, "Modal").isEmpty(); }))
            << "the message box did not close";
    }

    // A screenshot of the whole screen, loaded; a null image when it could not be taken.
    QImage SaveScreenshot(const QString& what)
    {
        if (ImportPath.empty())
            return {};
        const QString target = ArtifactPath(what);
        QFile::remove(target);
        if (Run({ ImportPath, "-display", Text(display), "-window", "root", Text(target) }, 20s, xEnvironment)
            != 0)
            return {};
        return QImage(target);
    }

    QTemporaryDir work { QDir::tempPath() + QStringLiteral("/mirava-install-XXXXXX") };
    QString destdir, prefix, appFolder, home, tmp, dataFolder, configFolder, statePath, screenPath, display;
    std::optional<std::pair<uid_t, gid_t>> dropTo;
    bool readOnlyTree = false;
    TStrings xEnvironment;
    TProcess xserver;
    TProcess program;
    TState lastState;
};

TEST_F(InstalledProgram, RunsFromAReadOnlyTreeWithItsFilesInTheUsersFolders)
{
    // Install as a package would, below /usr in a DESTDIR.
    ASSERT_EQ(Run({ CmakePath, "--install", Text(BuildFolder), "--prefix", "/usr" }, 120s,
                  E2e::Environment({ "DESTDIR" }, { "DESTDIR=" + Text(destdir) }),
                  Text(ArtifactPath(QStringLiteral("install.log")))),
        0)
        << "cmake --install failed; see " << Text(ArtifactPath(QStringLiteral("install.log")));

    // The layout: the program's folder holds everything it finds relative to itself; bin/ links into it.
    for (const char* program : { "mirava", "mirava-cli" }) {
        const QFileInfo link(prefix + QStringLiteral("/bin/") + QString::fromLatin1(program));
        EXPECT_TRUE(link.isSymLink()) << program;
        EXPECT_EQ(Text(link.symLinkTarget()), Text(appFolder + QString::fromLatin1(program)));
        char target[256] = {};
        ASSERT_GT(::readlink(QFile::encodeName(link.filePath()).constData(), target, sizeof target - 1), 0);
        EXPECT_EQ(std::string(target), std::string("../lib/mirava/") + program)
            << "a link that moves with the tree";
    }
    const QByteArray registered = ReadAll(appFolder + PlayerRegistration).trimmed();
    EXPECT_FALSE(registered.startsWith('/'))
        << "the registration holds an absolute path: " << registered.toStdString();
    EXPECT_TRUE(QFileInfo(appFolder + QString::fromUtf8(registered)).isFile()) << registered.toStdString();
    EXPECT_TRUE(QFileInfo::exists(appFolder + QStringLiteral("skin.mrv")));
    EXPECT_TRUE(QFileInfo(appFolder + QStringLiteral("mirava.installed")).isFile()) << "no installed marker";
    EXPECT_EQ(QDir(appFolder).entryList({ QStringLiteral("*.bmp") }, QDir::Files).size(), 120);
    for (const char* file : { "share/applications/org.mirava.Mirava.desktop",
             "share/icons/hicolor/scalable/apps/mirava.svg", "share/metainfo/org.mirava.Mirava.metainfo.xml",
             "share/man/man1/mirava.1.gz", "share/man/man1/mirava-cli.1.gz", "share/doc/mirava/copyright" })
        EXPECT_TRUE(QFileInfo(prefix + u'/' + QString::fromLatin1(file)).isFile()) << file;
    // Tests and benchmarks stay in the build folder.
    QDirIterator everything(destdir, QDir::Files, QDirIterator::Subdirectories);
    while (everything.hasNext()) {
        const QString name = QFileInfo(everything.next()).fileName();
        EXPECT_FALSE(name.contains(QStringLiteral("test")) || name.contains(QStringLiteral("bench")))
            << Text(name) << " was installed";
    }

    ASSERT_NO_FATAL_FAILURE(ChooseUser());
    if (IsSkipped())
        return;

    // --version and --help answer without a display, through the links.
    const QString versionLog = ArtifactPath(QStringLiteral("version.txt"));
    for (const char* name : { "mirava", "mirava-cli" }) {
        ASSERT_EQ(
            Run(AsUser({ Text(prefix + QStringLiteral("/bin/") + QString::fromLatin1(name)), "--version" }),
                20s, UserEnvironment({}), Text(versionLog)),
            0)
            << name;
        EXPECT_EQ(ReadAll(versionLog).toStdString(), std::string(name) + ' ' + Text(Version) + '\n');
        ASSERT_EQ(
            Run(AsUser({ Text(prefix + QStringLiteral("/bin/") + QString::fromLatin1(name)), "--help" }), 20s,
                UserEnvironment({}), Text(versionLog)),
            0)
            << name;
        EXPECT_TRUE(ReadAll(versionLog).startsWith("Usage: " + QByteArray(name)))
            << ReadAll(versionLog).toStdString();
    }
    EXPECT_TRUE(QDir(home).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot))
        << "--version and --help wrote into the home folder";

    const QStringList before = Snapshot(destdir);
    ASSERT_NO_FATAL_FAILURE(StartProgram());

    // The window "Mirava" comes up with the program's folder and its samples listed and the skin playing.
    ASSERT_TRUE(WaitFor(
        [&](const TState& state) {
            return Get(state, "Folder") == appFolder && Get(state, "ListCount") == u"120"
                && E2e::ParseRect(Get(state, "Geometry.MainForm"));
        },
        30s))
        << "the window did not come up with the samples listed; state:\n"
        << Text(Describe(lastState));
    EXPECT_EQ(Text(Get(lastState, "Item0")), "anna_1.bmp");
    ASSERT_EQ(Text(Get(lastState, "Skin.Player")), "1") << "the installed player library was not found";
    EXPECT_EQ(Text(Get(lastState, "Skin.Playing")), "1");
    EXPECT_EQ(Run({ XdotoolPath, "search", "--name", "^Mirava$" }, 10s, xEnvironment), 0)
        << "no window named \"Mirava\"";
    // The skin is drawn: its dark blue ribbon runs along the top of the sky-blue panel. The window may still
    // be on its way to the screen, so the screen is looked at until the ribbon shows or time runs out.
    const auto panel = E2e::ParseRect(Get(lastState, "Geometry.Panel6"));
    ASSERT_TRUE(panel);
    if (!ImportPath.empty()) {
        QColor ribbon;
        const auto deadline = std::chrono::steady_clock::now() + 15s;
        do {
            const QImage screen = SaveScreenshot(QStringLiteral("started.png"));
            ribbon = screen.isNull() ? QColor() : screen.pixelColor(panel->topLeft() + QPoint(300, 6));
            if (ribbon.blue() > ribbon.red() + 60 && ribbon.red() < 90)
                break;
            std::this_thread::sleep_for(300ms);
        } while (std::chrono::steady_clock::now() < deadline);
        EXPECT_TRUE(ribbon.blue() > ribbon.red() + 60 && ribbon.red() < 90)
            << "no skin over the top panel: " << Text(ribbon.name());
    }

    // Set up the network and memorise the first sample under a name.
    ASSERT_NO_FATAL_FAILURE(ClickSkinButton(3));
    ASSERT_NO_FATAL_FAILURE(CloseMessage(QRegularExpression(QStringLiteral("^OK!$"))));
    const auto thumbnail = E2e::ParseRect(Get(lastState, "Geometry.Item0"));
    ASSERT_TRUE(thumbnail) << "no place reported for the first sample";
    ClickAt(thumbnail->center());
    ASSERT_TRUE(WaitFor([&](const TState& state) {
        return Get(state, "Path") == appFolder + QStringLiteral("anna_1.bmp");
    })) << "the sample was not shown; state:\n"
        << Text(Describe(lastState));
    const auto edit = E2e::ParseRect(Get(lastState, "Geometry.Edit2"));
    ASSERT_TRUE(edit);
    ClickAt(edit->center());
    Xdotool({ "type", "--delay", "30", "Anna" });
    ASSERT_TRUE(WaitFor([](const TState& state) { return Get(state, "Edit2") == u"Anna"; }));
    ASSERT_NO_FATAL_FAILURE(ClickSkinButton(8));
    ASSERT_NO_FATAL_FAILURE(CloseMessage(QRegularExpression(QStringLiteral(R"(^OK! \(Time: )"))));

    // The slot files are in the data folder, not in the folder the program was started in.
    EXPECT_TRUE(ReadAll(dataFolder + QStringLiteral("listname.ini")).startsWith("Anna\r\n\r\n"));
    EXPECT_TRUE(ReadAll(dataFolder + QStringLiteral("listfile.ini"))
                    .startsWith((appFolder + QStringLiteral("anna_1.bmp\r\n")).toUtf8()));
    EXPECT_TRUE(ReadAll(dataFolder + QStringLiteral("trained.ini")).startsWith("1\r\n0\r\n"));
    EXPECT_FALSE(QFileInfo::exists(home + QStringLiteral("/listname.ini")));

    // Closing (a stop request closes the window as its close button does) writes app.ini to the config
    // folder.
    ::kill(program.Pid(), SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (program.Running() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(50ms);
    ASSERT_FALSE(program.Running()) << "the program did not end on SIGTERM";
    EXPECT_EQ(ReadAll(configFolder + QStringLiteral("app.ini")).toStdString(),
        "[globalconst]\nsubfieldXcount=4\nsubfieldYcount=4\nsubfieldworkcount=16\n");
    for (const QString& folder : { configFolder, dataFolder, home + QStringLiteral("/.config"),
             home + QStringLiteral("/.local"), home + QStringLiteral("/.local/share") })
        EXPECT_EQ(ModeOf(folder), 0700u) << Text(folder);

    // Nothing at all was written inside the installed tree.
    const QStringList after = Snapshot(destdir);
    EXPECT_EQ(Text(after.join(u'\n')), Text(before.join(u'\n')));
}

} // namespace

// The whole window, end to end: the real mirava binary from the build folder runs inside a private X server;
// real mouse clicks and key presses (xdotool) set up the network, open a folder of sample faces, memorise two
// persons and recognise a third picture of one of them. The window's state is read from the report that the
// program writes on SIGUSR1; a screenshot of the window is kept as an artifact, also when the test fails.

#include "tests/e2e/WindowDriver.h"

#include <QColor>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QRect>
#include <QRegularExpression>
#include <QStringList>
#include <QTemporaryDir>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <sys/file.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;
using E2e::Describe;
using E2e::Get;
using E2e::ParseRect;
using E2e::SkinButton;
using E2e::TLaunch;
using E2e::TProcess;
using E2e::TState;
using E2e::TStrings;

namespace {

const QString ProgramPath = QStringLiteral(MIRAVA_E2E_PROGRAM);
const QString FacesPath = QStringLiteral(MIRAVA_E2E_FACES);
const QString CliPath = QStringLiteral(MIRAVA_E2E_CLI);
const QString BuildSkin = QFileInfo(ProgramPath).absolutePath() + QStringLiteral("/skin.mrv");
const QString ArtifactsFolder = QStringLiteral(MIRAVA_E2E_ARTIFACTS);
const std::string XvfbPath = MIRAVA_E2E_XVFB;
const std::string XdotoolPath = MIRAVA_E2E_XDOTOOL;
const std::string ImportPath = MIRAVA_E2E_IMPORT;

constexpr auto StartTimeout = 20s;
constexpr auto StepTimeout = 10s;
const QString TimeTextPattern = QStringLiteral(R"(^OK! \(Time: \d+:\d\d:\d\d\.\d\d\d\)$)");

std::string Text(const QString& text)
{
    return text.toStdString();
}

class WholeWindow : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_FALSE(XvfbPath.empty()) << "Xvfb is missing (scripts/setup.sh installs it)";
        ASSERT_FALSE(XdotoolPath.empty()) << "xdotool is missing (scripts/setup.sh installs it)";
        ASSERT_FALSE(ImportPath.empty()) << "import (imagemagick) is missing (scripts/setup.sh installs it)";
        ASSERT_TRUE(QFileInfo(ProgramPath).isExecutable()) << Text(ProgramPath);
        ASSERT_TRUE(QDir().mkpath(ArtifactsFolder));
        ASSERT_TRUE(work.isValid());
        RemoveLeftovers(QDir::tempPath() + u'/', QStringLiteral("mirava-e2e-"));
        UseProgramFolder(QFileInfo(ProgramPath).absolutePath());
        // The pictures go into a subfolder of the program's folder, which the tree shows at start.
        facesFolder = programFolder + QStringLiteral("e2e-faces-%1").arg(::getpid());
        QDir(facesFolder).removeRecursively();
        RemoveLeftovers(programFolder, QStringLiteral("e2e-faces-"));
        ASSERT_TRUE(QDir().mkpath(work.filePath(QStringLiteral("tmp"))));
    }

    // Removes the folders "<prefix><pid>..." in `parent` that runs killed before they could clean up left.
    static void RemoveLeftovers(const QString& parent, const QString& prefix)
    {
        const QRegularExpression owner(u'^' + QRegularExpression::escape(prefix) + QStringLiteral("(\\d+)"));
        for (const QString& name : QDir(parent).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            const QRegularExpressionMatch match = owner.match(name);
            if (match.hasMatch() && !QFileInfo::exists(QStringLiteral("/proc/") + match.captured(1)))
                QDir(parent + name).removeRecursively();
        }
    }

    // Runs the program from `folder` (the build's program folder or a copy of it).
    void UseProgramFolder(const QString& folder)
    {
        programFolder = folder + u'/';
        programPath = programFolder + QFileInfo(ProgramPath).fileName();
        statePath = programFolder + QStringLiteral("mirava-state.txt");
        screenPath = programFolder + QStringLiteral("mirava-screen.txt");
    }

    // A copy of the program in a folder of its own, with the registration of the player library or
    // without it, and with or without the skin movie. What it writes there (app.ini) goes with the test.
    void UseProgramCopy(bool withPlayer, bool withSkin = false)
    {
        const QString folder = work.filePath(QStringLiteral("app"));
        ASSERT_TRUE(QDir().mkpath(folder));
        ASSERT_TRUE(QFile::copy(ProgramPath, folder + QStringLiteral("/mirava")));
        if (withPlayer) {
            const QString registration
                = QStringLiteral("registry/CLSID/{7A3C51E2-94B0-4F6D-8C1E-2B5D9A60F314}/InprocServer32");
            ASSERT_TRUE(QDir(folder).mkpath(QFileInfo(registration).path()));
            ASSERT_TRUE(QFile::copy(programFolder + registration, folder + u'/' + registration))
                << "the build wrote no registration of the player library";
        }
        if (withSkin) {
            ASSERT_TRUE(QFile::copy(BuildSkin, folder + QStringLiteral("/skin.mrv")));
        }
        UseProgramFolder(folder);
    }

    void TearDown() override
    {
        // The screenshot is taken on every path, before anything is stopped.
        if (!display.isEmpty())
            SaveScreenshot();
        if (program.Pid() > 0) {
            SaveText(QStringLiteral("last-state.txt"), Describe(lastState));
            program.Stop();
        }
        xserver.Stop();
        QDir(facesFolder).removeRecursively();
        QFile::remove(statePath);
        QFile::remove(screenPath);
    }

    // Artifacts carry the test's name: <test>-<what>.
    static QString ArtifactPath(const QString& what)
    {
        const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
        // A parameterised test's name holds "/".
        const QString name = QString::fromLatin1(test ? test->name() : "test").replace(u'/', u'-');
        return ArtifactsFolder + u'/' + name + u'-' + what;
    }

    void SaveText(const QString& name, const QString& text)
    {
        QFile file(ArtifactPath(name));
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            file.write(text.toUtf8());
    }

    void SaveScreenshot(const QString& what = QStringLiteral("window.png"))
    {
        const QString target = ArtifactPath(what);
        QFile::remove(target);
        TStrings arguments { ImportPath, "-display", Text(display), "-window", "root" };
        // Cropped to the window when its place is known, else the whole screen.
        if (const auto window = ParseRect(lastState[QStringLiteral("Geometry.MainForm")])) {
            arguments.push_back("-crop");
            arguments.push_back(Text(QStringLiteral("%1x%2+%3+%4")
                                         .arg(window->width())
                                         .arg(window->height())
                                         .arg(window->x())
                                         .arg(window->y())));
            arguments.push_back("+repage");
        }
        arguments.push_back(Text(target));
        std::string error;
        const int code = E2e::Run({ arguments, childEnvironment, {}, {} }, 20s, error);
        if (code != 0)
            ADD_FAILURE() << "screenshot failed: " << error << " (exit " << code << ")";
    }

    // Starts Xvfb on a free display number, which it reports on a pipe.
    void StartXServer()
    {
        std::string error;
        const auto started
            = E2e::StartXServer(xserver, XvfbPath, Text(ArtifactPath(QStringLiteral("xvfb.log"))), error);
        ASSERT_TRUE(started) << error;
        display = *started;
        childEnvironment = E2e::Environment({ "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "XAUTHORITY" },
            { "DISPLAY=" + Text(display), "QT_QPA_PLATFORM=xcb" });
    }

    void StartProgram()
    {
        QFile::remove(statePath);
        QFile::remove(screenPath);
        TLaunch launch;
        launch.Arguments = { Text(programPath) };
        // The slot files go to the working folder and the network's store to TMPDIR: both into the test's
        // own folder, which is removed with everything in it.
        TStrings environment = childEnvironment;
        environment.push_back("TMPDIR=" + Text(work.filePath(QStringLiteral("tmp"))));
        environment.push_back("XDG_CACHE_HOME=" + Text(work.filePath(QStringLiteral("cache"))));
        launch.Environment = environment;
        launch.Folder = Text(work.path());
        launch.LogPath = Text(ArtifactPath(QStringLiteral("mirava.log")));
        std::string error;
        ASSERT_TRUE(program.Start(launch, error)) << error;
    }

    // Polls the state report until `ready` holds; false after the timeout or when the program ended.
    bool WaitFor(
        const std::function<bool(const TState&)>& ready, std::chrono::milliseconds timeout = StepTimeout)
    {
        return E2e::WaitForReport(program, statePath, screenPath, ready, timeout, lastState);
    }

    bool WaitForValue(
        const QString& key, const QString& value, std::chrono::milliseconds timeout = StepTimeout)
    {
        return WaitFor(
            [&](const TState& state) {
                const auto found = state.find(key);
                return found != state.end() && found->second == value;
            },
            timeout);
    }

    QString Value(const QString& key) const
    {
        const auto found = lastState.find(key);
        return found == lastState.end() ? QString() : found->second;
    }
    QString Value(const char* key) const { return Value(QString::fromLatin1(key)); }

    std::optional<QRect> Rect(const QString& key) const { return ParseRect(Value(key)); }
    std::optional<QRect> Rect(const char* key) const { return Rect(QString::fromLatin1(key)); }

    void Xdotool(const TStrings& arguments)
    {
        TStrings command { XdotoolPath };
        command.insert(command.end(), arguments.begin(), arguments.end());
        std::string error;
        const int code = E2e::Run({ command, childEnvironment, {}, {} }, 10s, error);
        ASSERT_EQ(code, 0) << "xdotool " << arguments.front() << " failed: " << error;
    }

    // Moves the pointer to the point, lets the widget under it see the move, and clicks the left button.
    void ClickAt(QPoint point)
    {
        Xdotool({ "mousemove", std::to_string(point.x()), std::to_string(point.y()) });
        std::this_thread::sleep_for(60ms);
        Xdotool({ "click", "1" });
    }

    void ClickSkinButton(int code)
    {
        const std::optional<QRect> button = SkinButton(BuildSkin, code);
        ASSERT_TRUE(button) << "no button for code " << code << " in skin.mrv";
        const std::optional<QRect> panel = Rect("Geometry.Panel6");
        ASSERT_TRUE(panel) << "no place reported for Panel6";
        ClickAt(panel->topLeft() + button->center());
    }

    // Closes the message box on show with a key press, after checking its text; `screenshot` names an
    // artifact with the box on screen.
    void CloseMessage(const std::function<bool(const QString&)>& expected, const char* what,
        const QString& screenshot = QString())
    {
        ASSERT_TRUE(WaitFor([&](const TState& state) {
            const auto text = state.find(QStringLiteral("ModalText"));
            return text != state.end() && expected(text->second);
        })) << "no message box "
            << what << "; state:\n"
            << Text(Describe(lastState));
        if (!screenshot.isEmpty())
            SaveScreenshot(screenshot);
        // The pointer goes onto the box first (near its top left corner, away from its button), so that the
        // key press reaches the box also where the window system gives the focus to the window under the
        // pointer.
        if (const std::optional<QRect> box = Rect("Geometry.Modal"))
            Xdotool({ "mousemove", std::to_string(box->x() + 6), std::to_string(box->y() + 6) });
        Xdotool({ "key", "Return" });
        ASSERT_TRUE(WaitForValue(QStringLiteral("Modal"), QString()))
            << "the message box did not close; state:\n"
            << Text(Describe(lastState));
    }

    // Clicks the thumbnail of the picture file `name` in the list.
    void PickPicture(const QString& name)
    {
        int index = -1;
        for (int i = 0; i < Value("ListCount").toInt(); ++i)
            if (Value(QStringLiteral("Item%1").arg(i)) == name)
                index = i;
        ASSERT_GE(index, 0) << Text(name) << " is not in the list; state:\n" << Text(Describe(lastState));
        const std::optional<QRect> thumbnail = Rect(QStringLiteral("Geometry.Item%1").arg(index));
        ASSERT_TRUE(thumbnail) << "no place reported for " << Text(name);
        ClickAt(thumbnail->center());
        const QString path = Value("Folder") + name;
        ASSERT_TRUE(WaitFor([&](const TState& state) {
            return Get(state, "Path") == path && !Get(state, "Image1").isEmpty();
        })) << "the picture "
            << Text(name) << " was not shown; state:\n"
            << Text(Describe(lastState));
        // A newly shown picture clears the name and the last match.
        EXPECT_EQ(Text(Value("Edit2")), "");
        EXPECT_EQ(Text(Value("Label1")), "");
        EXPECT_EQ(Text(Value("Image2")), "");
    }

    void Memorise(const QString& picture, const QString& name)
    {
        ASSERT_NO_FATAL_FAILURE(PickPicture(picture));
        const std::optional<QRect> edit = Rect("Geometry.Edit2");
        ASSERT_TRUE(edit) << "no place reported for Edit2";
        ClickAt(edit->center());
        Xdotool({ "type", "--delay", "30", Text(name) });
        ASSERT_TRUE(WaitForValue(QStringLiteral("Edit2"), name)) << "the name did not reach Edit2; state:\n"
                                                                 << Text(Describe(lastState));
        ASSERT_NO_FATAL_FAILURE(ClickSkinButton(8));
        const QRegularExpression timeText(TimeTextPattern);
        ASSERT_NO_FATAL_FAILURE(CloseMessage(
            [&](const QString& text) { return timeText.match(text).hasMatch(); }, "with the memorise time"));
        EXPECT_TRUE(timeText.match(Value("StatusBar1")).hasMatch()) << Text(Value("StatusBar1"));
    }

    void Recognise(const QString& picture, const QString& expectedName)
    {
        ASSERT_NO_FATAL_FAILURE(PickPicture(picture));
        ASSERT_NO_FATAL_FAILURE(ClickSkinButton(6));
        // Showing the picture cleared Label1; recognise fills it and ends with the time in the status bar
        // once the memorised picture is in beside the name.
        const QRegularExpression timeText(TimeTextPattern);
        ASSERT_TRUE(WaitFor([&](const TState& state) {
            return !Get(state, "Label1").isEmpty() && timeText.match(Get(state, "StatusBar1")).hasMatch();
        })) << "recognise did not finish; state:\n"
            << Text(Describe(lastState));
        EXPECT_EQ(Text(Value("Label1")), Text(expectedName)) << "for " << Text(picture);
        EXPECT_EQ(Text(Value("Edit2")), Text(expectedName));
        EXPECT_TRUE(timeText.match(Value("StatusBar1")).hasMatch()) << Text(Value("StatusBar1"));
        EXPECT_FALSE(Value("Image2").isEmpty()) << "no memorised picture beside the match";
        EXPECT_EQ(Text(Value("Modal")), "") << "recognise shows no message box";
    }

    // Waits until the window is up with the program's folder listed and its current row in the tree shown.
    void WaitForWindow()
    {
        ASSERT_TRUE(WaitFor(
            [&](const TState& state) {
                return Get(state, "Folder") == programFolder && ParseRect(Get(state, "Geometry.MainForm"))
                    && ParseRect(Get(state, "Geometry.TreeCurrent"));
            },
            StartTimeout))
            << "the window did not come up with its folder listed; state:\n"
            << Text(Describe(lastState));
    }

    void OpenFacesFolder(int pictures = 9)
    {
        // Opens the pictures' folder with the keyboard in the tree: a click on the selected folder, Right to
        // unfold it and, once its subfolders are read, Right again to step into them; then Down to the
        // pictures' folder. The tree reads its folders in the background and rows above the current one may
        // still come in, so the click waits until the current row has kept its place for a moment.
        QString treeRow;
        int unchanged = 0;
        ASSERT_TRUE(WaitFor(
            [&](const TState& state) {
                const QString row = Get(state, "Geometry.TreeCurrent");
                unchanged = row == treeRow && !row.isEmpty() ? unchanged + 1 : 0;
                treeRow = row;
                return unchanged >= 4;
            },
            StartTimeout))
            << "the tree's current row kept moving; state:\n"
            << Text(Describe(lastState));
        ClickAt(ParseRect(treeRow)->center());
        ASSERT_TRUE(WaitFor([&](const TState& state) {
            return Get(state, "TreeCurrent") == programFolder.chopped(1);
        })) << "the click on the program's folder selected another one; state:\n"
            << Text(Describe(lastState));
        bool inside = false;
        for (int step = 0; step < 20 && !inside; ++step) {
            Xdotool({ "key", "Right" });
            inside = WaitFor(
                [&](const TState& state) { return Get(state, "TreeCurrent").startsWith(programFolder); },
                500ms);
        }
        ASSERT_TRUE(inside) << "could not open the program's folder in the tree; state:\n"
                            << Text(Describe(lastState));
        const QString wantedFolder = facesFolder + u'/';
        for (int step = 0; step < 40 && Value("TreeCurrent") != facesFolder; ++step) {
            const QString before = Value("TreeCurrent");
            Xdotool({ "key", "Down" });
            WaitFor([&](const TState& state) { return Get(state, "TreeCurrent") != before; }, 3s);
            if (!Value("TreeCurrent").startsWith(programFolder))
                break; // left the program's folder: the pictures' folder is not below it
        }
        ASSERT_EQ(Text(Value("TreeCurrent")), Text(facesFolder)) << "state:\n" << Text(Describe(lastState));
        ASSERT_TRUE(WaitFor([&](const TState& state) {
            return Get(state, "Folder") == wantedFolder
                && Get(state, "ListCount") == QString::number(pictures);
        })) << "the folder's pictures were not listed; state:\n"
            << Text(Describe(lastState));
    }

    // Gives the name of a file in the file dialog on show (which opens in the program's working folder) and
    // waits until the status bar says `done`.
    void AnswerFileDialog(const QString& fileName, const QString& done)
    {
        ASSERT_TRUE(WaitForValue(QStringLiteral("Modal"), QStringLiteral("QFileDialog")))
            << "no file dialog; state:\n"
            << Text(Describe(lastState));
        if (const std::optional<QRect> dialog = Rect("Geometry.Modal"))
            Xdotool({ "mousemove", std::to_string(dialog->x() + 6), std::to_string(dialog->y() + 6) });
        Xdotool({ "type", "--delay", "30", Text(fileName) });
        Xdotool({ "key", "Return" });
        // A completion list that the name brought up takes the first Return.
        if (!WaitForValue(QStringLiteral("Modal"), QString(), 1500ms))
            Xdotool({ "key", "Return" });
        ASSERT_TRUE(WaitForValue(QStringLiteral("StatusBar1"), done))
            << "the status did not say \"" << Text(done) << "\"; state:\n"
            << Text(Describe(lastState));
    }

    // Without a skin no command can be given: a click where the set-up button would be changes nothing.
    void ExpectNoCommandFromTheTopPanel()
    {
        ASSERT_NO_FATAL_FAILURE(ClickSkinButton(3));
        // Watched for a while: set-up would show its message within half a second.
        EXPECT_FALSE(WaitFor(
            [](const TState& state) {
                return !Get(state, "Modal").isEmpty() || Get(state, "Networks") != u"0";
            },
            1500ms))
            << "a command ran; state:\n"
            << Text(Describe(lastState));
        EXPECT_EQ(Text(Value("Modal")), "") << "a message box came up";
        EXPECT_EQ(Text(Value("Networks")), "0");
    }

    // The test's own folder; its name carries the test's process id, so that a later run can remove what a
    // killed one left (the network's store alone is 90 MB).
    QTemporaryDir work { QDir::tempPath() + QStringLiteral("/mirava-e2e-%1-XXXXXX").arg(::getpid()) };
    QString programPath;
    QString programFolder;
    QString statePath;
    QString screenPath;
    QString facesFolder;
    QString display;
    TStrings childEnvironment;
    TProcess xserver;
    TProcess program;
    TState lastState;
};

TEST_F(WholeWindow, MemoriseAndRecogniseThroughTheSkinAndAgainAfterARestart)
{
    // Three persons with three pictures each, which differ by a few pixels of shift.
    {
        std::string error;
        const int code = E2e::Run({ { Text(FacesPath), "--bmp", Text(facesFolder), "--persons", "3",
                                        "--pictures", "3", "--vary", "shift" },
                                      E2e::Environment({}, {}), {}, {} },
            60s, error);
        ASSERT_EQ(code, 0) << "mirava-faces failed: " << error;
        ASSERT_EQ(QDir(facesFolder).entryList({ QStringLiteral("*.bmp") }, QDir::Files).size(), 9);
    }
    ASSERT_NO_FATAL_FAILURE(StartXServer());
    ASSERT_NO_FATAL_FAILURE(StartProgram());

    // At start the tree selects the program's folder and the skin is playing over the top panel.
    ASSERT_NO_FATAL_FAILURE(WaitForWindow());
    ASSERT_EQ(Text(Value("Skin.Player")), "1") << "the skin's player was not created";
    EXPECT_EQ(Text(Value("Skin.Playing")), "1") << "the skin is not playing";
    EXPECT_EQ(Text(Value("Networks")), "0");

    ASSERT_NO_FATAL_FAILURE(OpenFacesFolder());

    // Set up the network: the skin button with code 3, then the message "OK!".
    ASSERT_NO_FATAL_FAILURE(ClickSkinButton(3));
    ASSERT_NO_FATAL_FAILURE(CloseMessage([](const QString& text) { return text == QStringLiteral("OK!"); },
        "\"OK!\"", QStringLiteral("set-up-message.png")));
    EXPECT_EQ(Text(Value("Networks")), "1");

    // Memorise two persons, each under the name typed into Edit2.
    ASSERT_NO_FATAL_FAILURE(Memorise(QStringLiteral("anna_1.bmp"), QStringLiteral("Anna")));
    ASSERT_NO_FATAL_FAILURE(Memorise(QStringLiteral("bodo_1.bmp"), QStringLiteral("Bodo")));

    // Other pictures of both persons are recognised under their names.
    ASSERT_NO_FATAL_FAILURE(Recognise(QStringLiteral("bodo_2.bmp"), QStringLiteral("Bodo")));
    ASSERT_NO_FATAL_FAILURE(Recognise(QStringLiteral("anna_3.bmp"), QStringLiteral("Anna")));

    // The About button shows the About box, which a click on its panel (below the texts) closes.
    ASSERT_NO_FATAL_FAILURE(ClickSkinButton(0));
    ASSERT_TRUE(WaitForValue(QStringLiteral("Modal"), QStringLiteral("TAboutBox")))
        << "no About box; state:\n"
        << Text(Describe(lastState));
    const std::optional<QRect> about = Rect("Geometry.Modal");
    ASSERT_TRUE(about);
    ClickAt(about->topLeft() + QPoint(about->width() / 2, about->height() - 20));
    ASSERT_TRUE(WaitForValue(QStringLiteral("Modal"), QString())) << "the About box did not close; state:\n"
                                                                  << Text(Describe(lastState));

    // The slot files in the program's working folder name the two persons in the first two slots.
    QFile names(work.filePath(QStringLiteral("listname.ini")));
    ASSERT_TRUE(names.open(QIODevice::ReadOnly));
    EXPECT_TRUE(names.readAll().startsWith("Anna\r\nBodo\r\n\r\n"));
    names.close();

    // Save keeps both in a memory file chosen in the save dialog.
    const QString memory = work.filePath(QStringLiteral("people.mmem"));
    ASSERT_NO_FATAL_FAILURE(ClickSkinButton(1));
    ASSERT_NO_FATAL_FAILURE(
        AnswerFileDialog(QStringLiteral("people"), QStringLiteral("Saved 2 persons to ") + memory));
    ASSERT_TRUE(QFileInfo(memory).isFile());

    // The program stops; with everything saved it keeps no recovered memories and asks nothing.
    program.Stop();
    ASSERT_FALSE(program.Running());
    EXPECT_FALSE(QFileInfo::exists(work.filePath(QStringLiteral("recovered.mmem"))));

    // Started again it knows nobody until the file is opened; then both persons are recognised by name.
    ASSERT_NO_FATAL_FAILURE(StartProgram());
    ASSERT_NO_FATAL_FAILURE(WaitForWindow());
    EXPECT_EQ(Text(Value("Networks")), "0");
    ASSERT_NO_FATAL_FAILURE(OpenFacesFolder());
    ASSERT_NO_FATAL_FAILURE(ClickSkinButton(2));
    ASSERT_NO_FATAL_FAILURE(
        AnswerFileDialog(QStringLiteral("people.mmem"), QStringLiteral("Opened 2 persons from ") + memory));
    EXPECT_EQ(Text(Value("Networks")), "1");
    ASSERT_NO_FATAL_FAILURE(Recognise(QStringLiteral("anna_3.bmp"), QStringLiteral("Anna")));
    ASSERT_NO_FATAL_FAILURE(Recognise(QStringLiteral("bodo_2.bmp"), QStringLiteral("Bodo")));
    SaveScreenshot(QStringLiteral("recognised-after-open.png"));
}

TEST_F(WholeWindow, WithoutTheSkinMovieTheWindowStillWorks)
{
    ASSERT_NO_FATAL_FAILURE(UseProgramCopy(true));
    ASSERT_NO_FATAL_FAILURE(StartXServer());
    ASSERT_NO_FATAL_FAILURE(StartProgram());
    ASSERT_NO_FATAL_FAILURE(WaitForWindow());
    EXPECT_EQ(Text(Value("Skin.Player")), "1");
    EXPECT_EQ(Text(Value("Modal")), "") << "a missing skin.mrv must not bring up a message";
    ASSERT_NO_FATAL_FAILURE(ExpectNoCommandFromTheTopPanel());
    // The name field over the panel still takes text.
    ClickAt(Rect("Geometry.Edit2")->center());
    Xdotool({ "type", "--delay", "30", "Ines" });
    EXPECT_TRUE(WaitForValue(QStringLiteral("Edit2"), QStringLiteral("Ines")));
}

TEST_F(WholeWindow, WithoutThePlayerLibraryTheWindowStillWorks)
{
    ASSERT_NO_FATAL_FAILURE(UseProgramCopy(false));
    ASSERT_NO_FATAL_FAILURE(StartXServer());
    ASSERT_NO_FATAL_FAILURE(StartProgram());
    ASSERT_NO_FATAL_FAILURE(WaitForWindow());
    EXPECT_EQ(Text(Value("Skin.Player")), "0");
    EXPECT_EQ(Text(Value("Modal")), "") << "a missing player library must not bring up a message";
    ASSERT_NO_FATAL_FAILURE(ExpectNoCommandFromTheTopPanel());
}

// ---------------------------------------------------------------------------------------------
// Stops by signal: whatever the window shows, the program ends within 5 s without waiting for anybody, names
// on standard error what it could not write, and keeps the memories that were not saved in "recovered.mmem".

// What is on screen (or under way) when the signal comes.
enum class TStopState {
    AppIniUnwritable,
    AboutBox,
    SaveDialog,
    OpenDialog,
    MessageBox,
    SaveQuestion,
    SaveWaiting
};

struct TStopCase
{
    TStopState State;
    int Signal;
};

std::string StopCaseName(const ::testing::TestParamInfo<TStopCase>& info);

void PrintTo(const TStopCase& stop, std::ostream* out)
{
    *out << StopCaseName({ stop, 0 });
}

std::string StopCaseName(const ::testing::TestParamInfo<TStopCase>& info)
{
    static const std::map<TStopState, std::string> names {
        { TStopState::AppIniUnwritable, "AppIniUnwritable" },
        { TStopState::AboutBox, "AboutBox" },
        { TStopState::SaveDialog, "SaveDialog" },
        { TStopState::OpenDialog, "OpenDialog" },
        { TStopState::MessageBox, "MessageBox" },
        { TStopState::SaveQuestion, "SaveQuestion" },
        { TStopState::SaveWaiting, "SaveWaiting" },
    };
    return names.at(info.param.State) + "_" + sigabbrev_np(info.param.Signal);
}

class StopBySignal : public WholeWindow
{
protected:
    // A copy of the program with its player, its skin and one picture, in a folder of its own, so that its
    // app.ini can be made unwritable.
    void UseStopCopy()
    {
        const QString buildFolder = QFileInfo(ProgramPath).absolutePath();
        ASSERT_NO_FATAL_FAILURE(UseProgramCopy(true));
        ASSERT_TRUE(QFile::copy(BuildSkin, programFolder + QStringLiteral("skin.mrv")));
        ASSERT_TRUE(QFile::copy(
            buildFolder + QStringLiteral("/anna_1.bmp"), programFolder + QStringLiteral("anna_1.bmp")));
    }

    // Up with a network and one person memorised and not saved; the "OK!" of the memorise is left open.
    void StartWithOnePersonUnsaved()
    {
        ASSERT_NO_FATAL_FAILURE(StartXServer());
        ASSERT_NO_FATAL_FAILURE(StartProgram());
        ASSERT_NO_FATAL_FAILURE(WaitForWindow());
        ASSERT_NO_FATAL_FAILURE(ClickSkinButton(3));
        ASSERT_NO_FATAL_FAILURE(CloseMessage([](const QString& text) { return text == u"OK!"; }, "\"OK!\""));
        ASSERT_NO_FATAL_FAILURE(PickPicture(QStringLiteral("anna_1.bmp")));
        ASSERT_TRUE(Rect("Geometry.Edit2")) << "no place reported for Edit2";
        ClickAt(Rect("Geometry.Edit2")->center());
        Xdotool({ "type", "--delay", "30", "Anna" });
        ASSERT_TRUE(WaitForValue(QStringLiteral("Edit2"), QStringLiteral("Anna")));
        ASSERT_NO_FATAL_FAILURE(ClickSkinButton(8));
        const QRegularExpression timeText(TimeTextPattern);
        ASSERT_TRUE(WaitFor([&](const TState& state) {
            return timeText.match(Get(state, "ModalText")).hasMatch();
        })) << "no \"OK!\" after the memorise; state:\n"
            << Text(Describe(lastState));
    }

    void ClickModalButton(const QString& text)
    {
        for (int i = 0; !Value(QStringLiteral("ModalButton%1").arg(i)).isEmpty(); ++i) {
            if (Value(QStringLiteral("ModalButton%1").arg(i)) != text)
                continue;
            const std::optional<QRect> button = Rect(QStringLiteral("Geometry.ModalButton%1").arg(i));
            ASSERT_TRUE(button) << "no place reported for the button " << Text(text);
            ClickAt(button->center());
            return;
        }
        FAIL() << "no button " << Text(text) << "; state:\n" << Text(Describe(lastState));
    }

    // Sends the signal and waits for the end; how long it took, or nothing when the program is still there
    // after `limit`.
    std::optional<std::chrono::milliseconds> SignalAndWait(int signal, std::chrono::milliseconds limit = 10s)
    {
        const auto sent = std::chrono::steady_clock::now();
        ::kill(program.Pid(), signal);
        while (program.Running()) {
            if (std::chrono::steady_clock::now() - sent > limit)
                return std::nullopt;
            std::this_thread::sleep_for(5ms);
        }
        return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - sent);
    }

    // The exit code, or -1 when the program did not end by exit.
    int ExitCode() const
    {
        const int status = program.ExitStatus();
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    QString Log() { return QString::fromLocal8Bit(ReadFile(ArtifactPath(QStringLiteral("mirava.log")))); }

    static QByteArray ReadFile(const QString& path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    // The used slots of a memory file as mirava-cli lists them ("slot<TAB>name<TAB>picture" lines).
    QString UsedSlots(const QString& memory)
    {
        const QString listing = ArtifactPath(QStringLiteral("slots.txt"));
        std::string error;
        const int code = E2e::Run(
            { { Text(CliPath), "memory", Text(memory) }, E2e::Environment({}, {}), {}, Text(listing) }, 30s,
            error);
        EXPECT_EQ(code, 0) << "mirava-cli memory " << Text(memory) << ": " << error;
        return QString::fromUtf8(ReadFile(listing));
    }

    // The network's store files left in the test's temporary folder.
    QStringList StoreFiles() const
    {
        return QDir(work.filePath(QStringLiteral("tmp/mirava-%1").arg(::geteuid())))
            .entryList({ QStringLiteral("*.tmp") }, QDir::Files);
    }
};

class StopInEveryState : public StopBySignal, public ::testing::WithParamInterface<TStopCase>
{
};

TEST_P(StopInEveryState, EndsInTimeNamesWhatFailedAndKeepsTheMemories)
{
    const TStopCase stop = GetParam();
    ASSERT_NO_FATAL_FAILURE(UseStopCopy());
    if (stop.State == TStopState::AppIniUnwritable) {
        ASSERT_TRUE(QFile::link(QStringLiteral("/dev/zero"), programFolder + QStringLiteral("app.ini")));
    }
    ASSERT_NO_FATAL_FAILURE(StartWithOnePersonUnsaved());
    const QRegularExpression timeText(TimeTextPattern);
    if (stop.State != TStopState::MessageBox) {
        ASSERT_NO_FATAL_FAILURE(
            CloseMessage([&](const QString& text) { return timeText.match(text).hasMatch(); }, "\"OK!\""));
    }
    const QString question = QStringLiteral("Save the memories of 1 person first?");
    const QString memory = work.filePath(QStringLiteral("people.mmem"));
    int heldFolder = -1; // the lock of another program writing a memory file in the test's folder
    switch (stop.State) {
    case TStopState::AboutBox:
        ASSERT_NO_FATAL_FAILURE(ClickSkinButton(0));
        ASSERT_TRUE(WaitForValue(QStringLiteral("Modal"), QStringLiteral("TAboutBox")))
            << "state:\n"
            << Text(Describe(lastState));
        break;
    case TStopState::SaveDialog:
        ASSERT_NO_FATAL_FAILURE(ClickSkinButton(1));
        ASSERT_TRUE(WaitForValue(QStringLiteral("Modal"), QStringLiteral("QFileDialog")))
            << "state:\n"
            << Text(Describe(lastState));
        break;
    case TStopState::OpenDialog:
        // The user lets the memories go for the Open, which the stop then never carries out.
        ASSERT_NO_FATAL_FAILURE(ClickSkinButton(2));
        ASSERT_TRUE(WaitForValue(QStringLiteral("ModalText"), question)) << "state:\n"
                                                                         << Text(Describe(lastState));
        ASSERT_NO_FATAL_FAILURE(ClickModalButton(QStringLiteral("Don't save")));
        ASSERT_TRUE(WaitForValue(QStringLiteral("Modal"), QStringLiteral("QFileDialog")))
            << "state:\n"
            << Text(Describe(lastState));
        break;
    case TStopState::SaveQuestion:
        ASSERT_NO_FATAL_FAILURE(ClickSkinButton(3));
        ASSERT_TRUE(WaitForValue(QStringLiteral("ModalText"), question)) << "state:\n"
                                                                         << Text(Describe(lastState));
        break;
    case TStopState::SaveWaiting:
        heldFolder = ::open(QFile::encodeName(work.path()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ASSERT_EQ(::flock(heldFolder, LOCK_EX), 0);
        ASSERT_NO_FATAL_FAILURE(ClickSkinButton(1));
        ASSERT_NO_FATAL_FAILURE(AnswerFileDialog(QStringLiteral("people"), QStringLiteral("Saving…")));
        break;
    case TStopState::AppIniUnwritable:
    case TStopState::MessageBox:
        break;
    }
    ASSERT_EQ(Value("Modal").isEmpty(),
        stop.State == TStopState::AppIniUnwritable || stop.State == TStopState::SaveWaiting)
        << Text(Describe(lastState));

    ASSERT_EQ(StoreFiles().size(), 1);
    SaveScreenshot(QStringLiteral("before-stop.png"));
    const std::optional<std::chrono::milliseconds> took = SignalAndWait(stop.Signal);
    if (heldFolder >= 0)
        ::close(heldFolder);
    ASSERT_TRUE(took) << "the program did not end within 10 s of " << sigabbrev_np(stop.Signal) << "; log:\n"
                      << Text(Log());
    std::printf(
        "stopped by %s in %lld ms\n", sigabbrev_np(stop.Signal), static_cast<long long>(took->count()));
    EXPECT_LT(*took, 5s);

    // One line for each file that could not be written, and then a status that says so.
    const QString log = Log();
    QStringList failures;
    for (const QString& line : log.split(u'\n'))
        if (line.startsWith(QStringLiteral("mirava: Cannot create file")))
            failures.append(line);
    QStringList expected;
    if (stop.State == TStopState::AppIniUnwritable)
        expected = {
            QStringLiteral("mirava: Cannot create file \"%1app.ini\". Not a regular file").arg(programFolder)
        };
    if (stop.State == TStopState::SaveWaiting)
        expected = { QStringLiteral(
            "mirava: Cannot create file \"%1\". The program was stopped while another program was "
            "writing a memory file in its folder")
                         .arg(memory) };
    EXPECT_EQ(failures, expected) << Text(log);
    EXPECT_EQ(ExitCode(), expected.isEmpty() ? 0 : 1) << "status " << program.ExitStatus();

    // The person memorised is kept, and nothing else is left behind.
    const QString recovered = work.filePath(QStringLiteral("recovered.mmem"));
    EXPECT_TRUE(log.contains(
        QStringLiteral("mirava: stopped; the memories of 1 person were written to ") + recovered))
        << Text(log);
    EXPECT_EQ(UsedSlots(recovered), QStringLiteral("0\tAnna\t%1anna_1.bmp\n").arg(programFolder));
    EXPECT_FALSE(QFileInfo::exists(memory));
    EXPECT_EQ(StoreFiles(), QStringList());
}

INSTANTIATE_TEST_SUITE_P(Signals, StopInEveryState,
    ::testing::Values(TStopCase { TStopState::AppIniUnwritable, SIGTERM },
        TStopCase { TStopState::AboutBox, SIGTERM }, TStopCase { TStopState::SaveDialog, SIGTERM },
        TStopCase { TStopState::OpenDialog, SIGTERM }, TStopCase { TStopState::MessageBox, SIGTERM },
        TStopCase { TStopState::SaveQuestion, SIGTERM }, TStopCase { TStopState::SaveWaiting, SIGTERM },
        TStopCase { TStopState::AboutBox, SIGINT }, TStopCase { TStopState::AboutBox, SIGHUP }),
    StopCaseName);

// An X server that stops answering (SIGSTOP) holds the program's GUI thread in its next drawing: a stop that
// cannot go on, with the network's store file on disk.
class StopWithoutDisplay : public StopBySignal
{
protected:
    void StopDisplay()
    {
        ASSERT_EQ(::kill(xserver.Pid(), SIGSTOP), 0);
        displayStopped = true;
    }

    // The display answers again before anything else looks at it.
    void TearDown() override
    {
        if (displayStopped)
            ::kill(xserver.Pid(), SIGCONT);
        StopBySignal::TearDown();
    }

    bool displayStopped = false;
};

TEST_F(StopWithoutDisplay, AStopThatCannotGoOnIsCutShortInTime)
{
    ASSERT_NO_FATAL_FAILURE(UseStopCopy());
    ASSERT_NO_FATAL_FAILURE(StartWithOnePersonUnsaved());
    ASSERT_EQ(StoreFiles().size(), 1);
    ASSERT_NO_FATAL_FAILURE(StopDisplay());
    const std::optional<std::chrono::milliseconds> took = SignalAndWait(SIGTERM);
    ASSERT_TRUE(took) << "the program did not end within 10 s; log:\n" << Text(Log());
    std::printf("cut short %lld ms after SIGTERM\n", static_cast<long long>(took->count()));
    EXPECT_LT(*took, 5s);
    EXPECT_EQ(ExitCode(), 128 + SIGTERM);
    EXPECT_TRUE(
        Log().contains(QStringLiteral("mirava: the stop did not end within 4000 ms and was cut short")))
        << Text(Log());
    EXPECT_EQ(StoreFiles(), QStringList()) << "the store file was left behind";
}

TEST_F(StopWithoutDisplay, ASecondSignalEndsTheStopAtOnce)
{
    ASSERT_NO_FATAL_FAILURE(UseStopCopy());
    ASSERT_NO_FATAL_FAILURE(StartWithOnePersonUnsaved());
    ASSERT_EQ(StoreFiles().size(), 1);
    ASSERT_NO_FATAL_FAILURE(StopDisplay());
    ASSERT_FALSE(SignalAndWait(SIGTERM, 300ms)) << "the first signal ended it; log:\n" << Text(Log());
    const std::optional<std::chrono::milliseconds> took = SignalAndWait(SIGINT);
    ASSERT_TRUE(took) << "the program did not end within 10 s; log:\n" << Text(Log());
    std::printf("ended %lld ms after the second signal\n", static_cast<long long>(took->count()));
    // Ended by the second signal, not by the time limit of the first (which would be 128 + SIGTERM).
    EXPECT_EQ(ExitCode(), 128 + SIGINT);
    EXPECT_TRUE(Log().contains(QStringLiteral("mirava: a second signal ended the stop at once")))
        << Text(Log());
    EXPECT_EQ(StoreFiles(), QStringList()) << "the store file was left behind";
}

TEST_F(StopWithoutDisplay, AWindowThatNeverCameUpEndsInTimeToo)
{
    ASSERT_NO_FATAL_FAILURE(UseStopCopy());
    ASSERT_NO_FATAL_FAILURE(StartXServer());
    ASSERT_NO_FATAL_FAILURE(StopDisplay());
    ASSERT_NO_FATAL_FAILURE(StartProgram());
    // Waits for the display that does not answer.
    std::this_thread::sleep_for(500ms);
    ASSERT_TRUE(program.Running()) << Text(Log());
    const std::optional<std::chrono::milliseconds> took = SignalAndWait(SIGTERM);
    ASSERT_TRUE(took) << "the program did not end within 10 s; log:\n" << Text(Log());
    std::printf("ended %lld ms after SIGTERM\n", static_cast<long long>(took->count()));
    EXPECT_LT(*took, 5s);
    EXPECT_EQ(ExitCode(), 128 + SIGTERM) << Text(Log());
}

} // namespace

namespace {
// A large photograph as a phone takes it: the face picture scaled up 4.5 times into a 2400 x 1800 scene of
// muted tiles, away from the top-left corner.
QImage LargeScene(const QImage& face)
{
    QImage scene(2400, 1800, QImage::Format_RGB888);
    QPainter painter(&scene);
    for (int y = 0; y < scene.height(); y += 60) {
        for (int x = 0; x < scene.width(); x += 60) {
            const int shade = 110 + ((x / 60) * 37 + (y / 60) * 53) % 60;
            painter.fillRect(x, y, 60, 60, QColor(shade, shade - 10, shade - 25));
        }
    }
    if (!face.isNull())
        painter.drawImage(QRect(900, 500, face.width() * 9 / 2, face.height() * 9 / 2), face);
    return scene;
}

// Pixels of the colour inside the rectangle.
int PixelsOf(const QImage& image, QRect area, QColor colour)
{
    int count = 0;
    area = area.intersected(image.rect());
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x)
            count += image.pixelColor(x, y) == colour;
    }
    return count;
}
} // namespace

// Real photographs, made large: the framing button chooses "face", two persons are memorised and another
// picture of each is recognised by name, and the sampled frame is drawn over the large view.
TEST_F(WholeWindow, FaceFramingMemorisesAndRecognisesRealPersonsInLargePictures)
{
    const QByteArray testData = qgetenv("MIRAVA_TESTDATA");
    const QString faces = QString::fromLocal8Bit(testData) + QStringLiteral("/faces-real/faces94/");
    if (testData.isEmpty() || !QFileInfo(faces).isDir())
        GTEST_SKIP() << "MIRAVA_TESTDATA does not hold faces-real/faces94";
    const QStringList persons = { QStringLiteral("9336923"), QStringLiteral("9338535") };
    const QStringList names = { QStringLiteral("Ada"), QStringLiteral("Ben") };
    // A copy of the program, so that the framing it keeps in app.ini at close stays with this test.
    ASSERT_NO_FATAL_FAILURE(UseProgramCopy(true, true));
    facesFolder = programFolder + QStringLiteral("faces");
    ASSERT_TRUE(QDir().mkpath(facesFolder));
    for (const QString& person : persons) {
        for (const char* picture : { "_1", "_3" }) {
            const QImage face(faces + person + QString::fromLatin1(picture) + QStringLiteral(".jpg"));
            ASSERT_FALSE(face.isNull()) << Text(person) << picture;
            ASSERT_TRUE(LargeScene(face).save(
                facesFolder + u'/' + person + QString::fromLatin1(picture) + QStringLiteral(".jpg"), "JPEG",
                90));
        }
    }
    ASSERT_TRUE(LargeScene(QImage()).save(facesFolder + QStringLiteral("/nobody.jpg"), "JPEG", 90));

    ASSERT_NO_FATAL_FAILURE(StartXServer());
    ASSERT_NO_FATAL_FAILURE(StartProgram());
    ASSERT_NO_FATAL_FAILURE(WaitForWindow());
    ASSERT_EQ(Text(Value("Skin.Player")), "1") << "the skin's player was not created";
    ASSERT_NO_FATAL_FAILURE(OpenFacesFolder(5));
    ASSERT_NO_FATAL_FAILURE(ClickSkinButton(3));
    ASSERT_NO_FATAL_FAILURE(
        CloseMessage([](const QString& text) { return text == QStringLiteral("OK!"); }, "\"OK!\""));

    // In "corner" a large picture is mostly left out, and the status bar says so and names the framing that
    // finds the face.
    ASSERT_NO_FATAL_FAILURE(PickPicture(persons[0] + QStringLiteral("_1.jpg")));
    ASSERT_TRUE(WaitFor([](const TState& state) {
        return Get(state, "StatusBar1").startsWith(QStringLiteral("Only the top-left 100 x 100 pixels"));
    })) << "state:\n"
        << Text(Describe(lastState));
    EXPECT_TRUE(Value("StatusBar1").endsWith(QStringLiteral(": framing \"face\" finds the face")));

    // The framing button goes corner, fit, face; nothing is memorised, so nothing is asked.
    for (const char* framing : { "fit", "face" }) {
        // Apart by more than a double click's interval: the second press of a double click raises nothing.
        std::this_thread::sleep_for(700ms);
        ASSERT_NO_FATAL_FAILURE(ClickSkinButton(4));
        ASSERT_TRUE(WaitForValue(QStringLiteral("Framing"), QString::fromLatin1(framing)))
            << "state:\n"
            << Text(Describe(lastState));
    }
    EXPECT_EQ(Text(Value("Modal")), "");

    // A picture without a face: the status bar says that the whole picture is used.
    ASSERT_NO_FATAL_FAILURE(PickPicture(QStringLiteral("nobody.jpg")));
    ASSERT_TRUE(WaitForValue(QStringLiteral("FramingPending"), QStringLiteral("0"), 30s));
    EXPECT_EQ(Text(Value("StatusBar1")), "No face found: the whole picture is used");

    const auto expectFrameDrawn = [&](const QString& picture) {
        ASSERT_TRUE(WaitFor(
            [](const TState& state) {
                return Get(state, "FramingPending") == u"0" && ParseRect(Get(state, "Geometry.Frame"));
            },
            30s))
            << "no frame shown for " << Text(picture) << "; state:\n"
            << Text(Describe(lastState));
        const std::optional<QRect> view = Rect("Geometry.Image1");
        const std::optional<QRect> frame = Rect("Geometry.Frame");
        ASSERT_TRUE(view && frame);
        EXPECT_TRUE(view->contains(*frame)) << Text(Value("Geometry.Frame"));
        EXPECT_EQ(Text(Value("Image3")), "100x100");
        EXPECT_EQ(Text(Value("FaceFound")), "1") << "no face found in " << Text(picture);
        const std::optional<QRect> box = Rect("Geometry.FaceBox");
        ASSERT_TRUE(box) << "no face box drawn for " << Text(picture);
        // The face lies in the middle of the scene, in the picture scaled up from the photograph.
        EXPECT_TRUE(frame->intersects(*box));
        EXPECT_LT(frame->width(), view->width() / 2) << "the frame is not around the face";
        // The frame is drawn in its colour over the picture.
        const QString screenshot = QFileInfo(picture).completeBaseName() + QStringLiteral(".png");
        SaveScreenshot(screenshot);
        const QImage shown(ArtifactPath(screenshot));
        ASSERT_FALSE(shown.isNull()) << Text(ArtifactPath(screenshot));
        const std::optional<QRect> window = Rect("Geometry.MainForm");
        ASSERT_TRUE(window);
        const QRect local = frame->translated(-window->topLeft()).adjusted(-2, -2, 2, 2);
        EXPECT_GT(PixelsOf(shown, local, QColor(255, 0, 255)), frame->width() + frame->height())
            << "the frame is not drawn on the large view of " << Text(picture);
    };

    for (int p = 0; p < 2; ++p) {
        ASSERT_NO_FATAL_FAILURE(Memorise(persons[p] + QStringLiteral("_1.jpg"), names[p]));
        ASSERT_NO_FATAL_FAILURE(expectFrameDrawn(persons[p] + QStringLiteral("_1.jpg")));
    }
    for (int p : { 1, 0 }) {
        ASSERT_NO_FATAL_FAILURE(Recognise(persons[p] + QStringLiteral("_3.jpg"), names[p]));
        EXPECT_TRUE(Value("StatusPanel1").startsWith(names[p] + u' ')) << Text(Value("StatusPanel1"));
        EXPECT_TRUE(Value("StatusPanel1").contains(QStringLiteral(" · next ") + names[1 - p] + u' '))
            << Text(Value("StatusPanel1"));
        ASSERT_NO_FATAL_FAILURE(expectFrameDrawn(persons[p] + QStringLiteral("_3.jpg")));
    }
}

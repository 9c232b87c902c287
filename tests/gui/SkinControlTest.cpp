#include "skin/PlayerCodeProvider.h"
#include "skin/SkinSubsystem.h"
#include "skin/SkinTestSupport.h"
#include "skin/TransparentMoviePlayerControl.h"
#include "support/BuiltPlayer.h"

#include <QBuffer>
#include <QFile>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using namespace Mrv;

namespace {

const QColor Sky(166, 202, 240);

// A 200 x 100 movie: an opaque red left half with one button whose looks are green (normal), blue (over)
// and yellow (down), a faint strip on the right, and nothing between.
const QByteArray TestMovie = R"(<?xml version="1.0" encoding="UTF-8"?>
<svg xmlns="http://www.w3.org/2000/svg" xmlns:mrv="urn:mirava:movie" width="200" height="100">
  <rect x="0" y="0" width="100" height="100" fill="#FF0000"/>
  <rect id="button" x="10" y="10" width="40" height="40" fill="#00FF00"
        mrv:command="buttoncomand" mrv:args="6" mrv:over="over" mrv:down="down"/>
  <rect id="over" x="10" y="10" width="40" height="40" fill="#0000FF"/>
  <rect id="down" x="10" y="10" width="40" height="40" fill="#FFFF00"/>
  <rect x="150" y="0" width="50" height="100" fill="#000000" fill-opacity="0.2"/>
</svg>
)";

// The panel beneath the skin: sky blue, counting the presses that reach it.
class TPanel : public QWidget
{
public:
    TPanel()
    {
        setAutoFillBackground(true);
        QPalette palette;
        palette.setColor(QPalette::Window, Sky);
        setPalette(palette);
        resize(240, 120);
    }
    int presses = 0;

protected:
    void mousePressEvent(QMouseEvent* event) override
    {
        ++presses;
        event->accept();
    }
};

class SkinControl : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(StartSkinWithBuiltPlayer());
        ASSERT_TRUE(dir.isValid());
        moviePath = dir.filePath(QStringLiteral("test.mrv"));
        QFile movie(moviePath);
        ASSERT_TRUE(movie.open(QIODevice::WriteOnly));
        movie.write(TestMovie);
    }
    void TearDown() override { TSkinSubsystem::Stop(); }

    // A shown panel with a control over it at (20, 10), 200 x 100, playing the test movie.
    std::unique_ptr<TTransparentMoviePlayerControl> Hosted(TPanel& panel, bool load = true)
    {
        auto control = std::make_unique<TTransparentMoviePlayerControl>(&panel);
        control->setGeometry(20, 10, 200, 100);
        if (load)
            control->LoadMovie(0, moviePath);
        panel.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&panel));
        return control;
    }

    QTemporaryDir dir;
    QString moviePath;
};

QRgb PixelAt(QWidget& panel, int x, int y)
{
    return panel.grab().toImage().pixel(x, y) & 0xFFFFFF;
}

} // namespace

TEST_F(SkinControl, PropertiesLiveInTheCacheUntilAPlayerExistsAndThenOnThePlayer)
{
    TPanel panel;
    TTransparentMoviePlayerControl control;
    EXPECT_FALSE(control.HasPlayer());
    EXPECT_EQ(control.PlayerVersion(), -1);
    EXPECT_EQ(control.WindowMode(), QStringLiteral("Transparent"));
    EXPECT_EQ(control.Scale(), QStringLiteral("ShowAll"));
    EXPECT_EQ(control.QualityName(), QStringLiteral("High"));
    EXPECT_TRUE(control.Loop());
    control.SetBase(QStringLiteral("/pictures"));
    control.SetLoop(false);
    control.SetProperty(TMovieProperty::Stacking, QStringLiteral("above"));
    EXPECT_EQ(control.Base(), QStringLiteral("/pictures"));
    control.LoadMovie(0, moviePath); // nothing to load into yet
    EXPECT_TRUE(control.IsPlaying()) << "an operation not made answers its default";

    control.setParent(&panel);
    ASSERT_TRUE(control.HasPlayer());
    EXPECT_EQ(control.PlayerVersion(), 8);
    EXPECT_TRUE(control.Windowless());
    EXPECT_TRUE(control.InPlaceActive());
    // The stored values reached the player.
    EXPECT_EQ(control.Base(), QStringLiteral("/pictures"));
    EXPECT_FALSE(control.Loop());
    EXPECT_EQ(control.WindowMode(), QStringLiteral("Transparent"));
    // A property this player version lacks stays in the cache.
    EXPECT_EQ(control.Property(TMovieProperty::Stacking).toString(), QStringLiteral("above"));

    EXPECT_TRUE(control.Movie().isEmpty());
    control.LoadMovie(0, moviePath);
    EXPECT_EQ(control.Movie(), moviePath) << "with a player, Movie is the player's value";
    EXPECT_EQ(control.ReadyState(), 4);
    EXPECT_EQ(control.PercentLoaded(), 100);
}

TEST_F(SkinControl, PlayerFailuresReachTheCallerExceptInPropertiesAndLoading)
{
    TTransparentMoviePlayerControl unparented;
    EXPECT_NO_THROW(unparented.GotoFrame(5)) << "without a player nothing is called";

    TPanel panel;
    auto control = Hosted(panel);
    EXPECT_NO_THROW(control->GotoFrame(0));
    try {
        control->GotoFrame(-5);
        ADD_FAILURE() << "the failure was dropped";
    } catch (const TMoviePlayerError& error) {
        EXPECT_EQ(error.Result(), ResultInvalidArg);
        EXPECT_FALSE(QString::fromUtf8(error.what()).isEmpty());
    }
    // Property writes and the load-movie operation drop the player's failures.
    EXPECT_NO_THROW(control->SetProperty(TMovieProperty::ScaleMode, 7));
    EXPECT_NO_THROW(control->LoadMovie(1, moviePath));
    EXPECT_TRUE(control->IsPlaying());
}

TEST_F(SkinControl, LoadingReportsProgressAndReadyStateAlsoFromAStream)
{
    TPanel panel;
    auto control = Hosted(panel, false);
    QSignalSpy progress(control.get(), &TTransparentMoviePlayerControl::OnProgress);
    QSignalSpy ready(control.get(), &TTransparentMoviePlayerControl::OnReadyStateChange);
    control->LoadMovie(0, moviePath);
    ASSERT_EQ(progress.count(), 1);
    EXPECT_EQ(progress.at(0).at(0).toInt(), 100);
    ASSERT_GE(ready.count(), 1);
    EXPECT_EQ(ready.last().at(0).toInt(), 4);

    // A missing file keeps the movie that was showing, quietly.
    control->LoadMovie(0, dir.filePath(QStringLiteral("missing.mrv")));
    EXPECT_EQ(PixelAt(panel, 50, 40), qRgb(0, 255, 0) & 0xFFFFFF);
    EXPECT_EQ(control->Movie(), moviePath);
    // An empty URL empties it.
    control->LoadMovie(0, QString());
    EXPECT_EQ(PixelAt(panel, 50, 40), Sky.rgb() & 0xFFFFFF);

    QBuffer stream;
    stream.setData(TestMovie);
    stream.open(QIODevice::ReadOnly);
    control->LoadMovieFromStream(0, stream);
    EXPECT_EQ(PixelAt(panel, 50, 40), qRgb(0, 255, 0) & 0xFFFFFF);
    EXPECT_EQ(TSkinSubsystem::ContentManager()->PendingUrlCount(), 0);
}

TEST_F(SkinControl, TheMovieDrawsOverThePanelWithTransparentPartsAfterTheBackgroundEvent)
{
    TPanel panel;
    auto control = Hosted(panel);
    QSignalSpy background(control.get(), &TTransparentMoviePlayerControl::OnDrawBackground);
    const QImage image = panel.grab().toImage();
    EXPECT_GE(background.count(), 1);
    EXPECT_EQ(image.pixel(20 + 30, 10 + 30) & 0xFFFFFF, qRgb(0, 255, 0) & 0xFFFFFF); // the button
    EXPECT_EQ(image.pixel(20 + 5, 10 + 90) & 0xFFFFFF, qRgb(255, 0, 0) & 0xFFFFFF); // the opaque half
    EXPECT_EQ(image.pixel(20 + 120, 10 + 50) & 0xFFFFFF, Sky.rgb() & 0xFFFFFF); // nothing drawn there
    EXPECT_EQ(image.pixel(5, 5) & 0xFFFFFF, Sky.rgb() & 0xFFFFFF); // beside the control
}

TEST_F(SkinControl, PressAndReleaseOnAButtonRaisesTheCommandNameFirst)
{
    TPanel panel;
    auto control = Hosted(panel);
    QSignalSpy commands(control.get(), &TTransparentMoviePlayerControl::OnMovieCommand);
    QTest::mouseMove(control.get(), QPoint(30, 30));
    EXPECT_EQ(PixelAt(panel, 50, 40), qRgb(0, 0, 255) & 0xFFFFFF) << "the over look";
    EXPECT_EQ(control->cursor().shape(), Qt::PointingHandCursor);
    QTest::mousePress(control.get(), Qt::LeftButton, {}, QPoint(30, 30));
    EXPECT_EQ(PixelAt(panel, 50, 40), qRgb(255, 255, 0) & 0xFFFFFF) << "the down look";
    EXPECT_TRUE(control->Captured());
    EXPECT_EQ(commands.count(), 0) << "the command waits for the release";
    QTest::mouseRelease(control.get(), Qt::LeftButton, {}, QPoint(30, 30));
    EXPECT_FALSE(control->Captured());
    ASSERT_EQ(commands.count(), 1);
    EXPECT_EQ(commands.at(0).at(0).toString(), QStringLiteral("buttoncomand"));
    EXPECT_EQ(commands.at(0).at(1).toString(), QStringLiteral("6"));
    EXPECT_EQ(panel.presses, 0);

    // Released away from the button: no command.
    QTest::mousePress(control.get(), Qt::LeftButton, {}, QPoint(30, 30));
    QTest::mouseRelease(control.get(), Qt::LeftButton, {}, QPoint(80, 80));
    EXPECT_EQ(commands.count(), 1);
    QTest::mouseMove(control.get(), QPoint(80, 80));
    EXPECT_EQ(control->cursor().shape(), Qt::ArrowCursor);
}

TEST_F(SkinControl, AMovedButtonIsHitWhereItIsDrawn)
{
    // The button and its looks in one group, which the test moves.
    QFile movie(moviePath);
    ASSERT_TRUE(movie.open(QIODevice::WriteOnly | QIODevice::Truncate));
    movie.write(R"(<svg xmlns="http://www.w3.org/2000/svg" xmlns:mrv="urn:mirava:movie" width="200" height="100">
  <g id="panel">
    <rect id="button" x="10" y="10" width="40" height="40" fill="#00FF00"
          mrv:command="buttoncomand" mrv:args="6" mrv:over="over" mrv:down="down"/>
    <rect id="over" x="10" y="10" width="40" height="40" fill="#0000FF"/>
    <rect id="down" x="10" y="10" width="40" height="40" fill="#FFFF00"/>
  </g>
</svg>)");
    movie.close();
    TPanel panel;
    auto control = Hosted(panel);
    QSignalSpy commands(control.get(), &TTransparentMoviePlayerControl::OnMovieCommand);
    control->TSetPropertyNum(QStringLiteral("/panel"), 0, 100); // 100 to the right: 110..150
    EXPECT_EQ(PixelAt(panel, 150, 40), qRgb(0, 255, 0) & 0xFFFFFF) << "drawn at its new place";
    QTest::mouseMove(control.get(), QPoint(130, 30));
    EXPECT_EQ(control->cursor().shape(), Qt::PointingHandCursor);
    EXPECT_EQ(PixelAt(panel, 150, 40), qRgb(0, 0, 255) & 0xFFFFFF) << "the over look, moved with it";
    QTest::mouseMove(control.get(), QPoint(131, 31));
    EXPECT_EQ(control->cursor().shape(), Qt::PointingHandCursor) << "still over it while its look is shown";
    QTest::mouseClick(control.get(), Qt::LeftButton, {}, QPoint(131, 31));
    ASSERT_EQ(commands.count(), 1);
    EXPECT_EQ(commands.at(0).at(1).toString(), QStringLiteral("6"));
    QTest::mouseClick(control.get(), Qt::LeftButton, {}, QPoint(30, 30));
    EXPECT_EQ(commands.count(), 1) << "nothing where it was";
    EXPECT_EQ(panel.presses, 1) << "the click where it was reaches the panel";
}

TEST_F(SkinControl, RightClicksOnTheMovieAreDropped)
{
    TPanel panel;
    auto control = Hosted(panel);
    QSignalSpy commands(control.get(), &TTransparentMoviePlayerControl::OnMovieCommand);
    QTest::mouseClick(control.get(), Qt::RightButton, {}, QPoint(30, 30));
    QTest::mouseClick(control.get(), Qt::RightButton, {}, QPoint(5, 90));
    EXPECT_EQ(commands.count(), 0);
    EXPECT_EQ(panel.presses, 0) << "neither the player nor the panel hears of them";
    EXPECT_FALSE(control->Captured());
    EXPECT_NE(PixelAt(panel, 50, 40), qRgb(255, 255, 0) & 0xFFFFFF) << "the button never looked pressed";
    EXPECT_FALSE(control->Focused()) << "a press the player sees gives it the focus";

    control->SetStandartMenu(true);
    QTest::mouseClick(control.get(), Qt::RightButton, {}, QPoint(5, 90));
    EXPECT_TRUE(control->Focused()) << "with the standard menu the player hears right clicks";
    EXPECT_EQ(commands.count(), 0);
}

TEST_F(SkinControl, OnlyOpaquePixelsAreHitAndTheRestReachesThePanel)
{
    TPanel panel;
    auto control = Hosted(panel);
    QTest::mouseClick(control.get(), Qt::LeftButton, {}, QPoint(5, 90)); // opaque red
    EXPECT_EQ(panel.presses, 0);
    QTest::mouseClick(control.get(), Qt::LeftButton, {}, QPoint(120, 50)); // nothing drawn
    EXPECT_EQ(panel.presses, 1);
    QTest::mouseClick(control.get(), Qt::LeftButton, {}, QPoint(175, 50)); // faint strip
    EXPECT_EQ(panel.presses, 2);
    QTest::mouseClick(control.get(), Qt::RightButton, {}, QPoint(120, 50));
    EXPECT_EQ(panel.presses, 3) << "a right click on a transparent part is the panel's";
}

TEST_F(SkinControl, AMoveBetweenParentsKeepsThePlayer)
{
    TPanel first;
    TPanel second;
    auto control = Hosted(first);
    control->SetVariable(QStringLiteral("marker"), QStringLiteral("same player"));
    control->setParent(&second);
    ASSERT_TRUE(control->HasPlayer());
    EXPECT_EQ(control->GetVariable(QStringLiteral("marker")), QStringLiteral("same player"));
    control->show();
    second.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&second));
    EXPECT_EQ(PixelAt(second, 50, 40), qRgb(0, 255, 0) & 0xFFFFFF);

    control->setParent(nullptr);
    control->setParent(&first);
    EXPECT_EQ(control->GetVariable(QStringLiteral("marker")), QStringLiteral("same player"));
}

TEST_F(SkinControl, WithoutAPlayerLibraryThePanelShowsOnlyItsBackground)
{
    TSkinSubsystem::SetPlayerCodeProvider(std::make_unique<TPlayerCodeProvider>());
    TPanel panel;
    auto control = Hosted(panel);
    EXPECT_FALSE(control->HasPlayer());
    EXPECT_EQ(control->PlayerVersion(), -1);
    const QImage image = panel.grab().toImage();
    for (const QPoint& p : { QPoint(50, 40), QPoint(25, 100), QPoint(200, 60) })
        EXPECT_EQ(image.pixel(p) & 0xFFFFFF, Sky.rgb() & 0xFFFFFF);
    QTest::mouseClick(control.get(), Qt::LeftButton, {}, QPoint(30, 30));
    EXPECT_EQ(panel.presses, 1);
    control->SetMakeParentTransparent(true);
    EXPECT_FALSE(control->MakeParentTransparent()) << "refused without a player library";
}

TEST_F(SkinControl, TheSkinShowsOverTheSkyBlueWindow)
{
    TPanel panel;
    panel.resize(953, 190);
    auto control = std::make_unique<TTransparentMoviePlayerControl>(&panel);
    control->setGeometry(0, 0, 953, 190);
    control->LoadMovie(0, QStringLiteral(MIRAVA_SKIN_MOVIE));
    panel.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&panel));
    const QImage image = panel.grab().toImage();
    EXPECT_EQ(image.pixel(5, 188) & 0xFFFFFF, Sky.rgb() & 0xFFFFFF) << "transparent below the panels";
    EXPECT_NE(image.pixel(96, 100) & 0xFFFFFF, Sky.rgb() & 0xFFFFFF) << "the set-up button is drawn";

    QSignalSpy commands(control.get(), &TTransparentMoviePlayerControl::OnMovieCommand);
    const std::vector<std::pair<QPoint, QString>> buttons = { { { 96, 106 }, "3" }, { { 246, 106 }, "8" },
        { { 384, 106 }, "6" }, { { 57, 154 }, "1" }, { { 135, 154 }, "2" }, { { 213, 154 }, "0" } };
    for (const auto& [point, code] : buttons)
        QTest::mouseClick(control.get(), Qt::LeftButton, {}, point);
    ASSERT_EQ(commands.count(), 6);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(commands.at(i).at(0).toString(), QStringLiteral("buttoncomand"));
        EXPECT_EQ(commands.at(i).at(1).toString(), buttons[i].second);
    }
    // The name field's place is left to the edit that lies over it, clicks beside the panels to the window.
    QTest::mouseClick(control.get(), Qt::LeftButton, {}, QPoint(463, 120));
    EXPECT_EQ(panel.presses, 1);
}

TEST_F(SkinControl, ResourcesOfAMovieFromAStreamComeFromTheControlsHandlerOnce)
{
    TPanel panel;
    auto control = Hosted(panel, false);
    QBuffer stream;
    stream.setData(TestMovie);
    stream.open(QIODevice::ReadOnly);
    control->LoadMovieFromStream(0, stream);
    int number = 0;
    ASSERT_TRUE(TContentManager::ParseGeneratedUrl(control->Movie(), &number))
        << control->Movie().toStdString();
    const QString resource = QStringLiteral("Z:\\FromMemory\\%1\\%2\\pics\\face.png")
                                 .arg(QLatin1String(TContentManager::Marker))
                                 .arg(number);
    QStringList asked;
    QObject::connect(control.get(), &TTransparentMoviePlayerControl::OnLoadExternalResource,
        [&asked](const QString& url, QIODevice* out) {
            asked << url;
            out->write("picture");
        });
    TRecordingConsumer consumer;
    EXPECT_EQ(TSkinSubsystem::ContentManager()->BindToStorage(resource, &consumer), BindHandled);
    EXPECT_EQ(asked, QStringList { QStringLiteral("pics/face.png") });
    EXPECT_EQ(consumer.data, QByteArray("picture"));
    EXPECT_EQ(consumer.stops, 1);
}

namespace {

QString MoviePath(const char* name)
{
    return QStringLiteral(MIRAVA_TEST_MOVIES "/") + QLatin1String(name);
}

// A shown 200 x 100 panel with a control covering it that plays one of the test movies.
std::unique_ptr<TTransparentMoviePlayerControl> Playing(TPanel& panel, const char* movie)
{
    panel.resize(200, 100);
    auto control = std::make_unique<TTransparentMoviePlayerControl>(&panel);
    control->setGeometry(0, 0, 200, 100);
    control->LoadMovie(0, MoviePath(movie));
    panel.show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&panel));
    return control;
}

QImage Drawn(QWidget& panel)
{
    return panel.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

} // namespace

TEST_F(SkinControl, AStoppedMovieStaysExactlyWhereItIsAlsoAcrossAHover)
{
    TPanel panel;
    auto control = Playing(panel, "clock.mrv");
    EXPECT_EQ(control->TotalFrames(), 40);
    ASSERT_TRUE(control->IsPlaying());
    EXPECT_TRUE(QTest::qWaitFor([&] { return control->CurrentFrame() >= 3; }, 5000));
    control->Stop();
    EXPECT_FALSE(control->IsPlaying());
    const int frame = control->CurrentFrame();
    const QImage before = Drawn(panel);
    QTest::qWait(300);
    QTest::mouseMove(control.get(), QPoint(40, 70));
    EXPECT_EQ(Drawn(panel).pixel(40, 70), qRgb(255, 255, 0)) << "the over look shows";
    QTest::mouseMove(control.get(), QPoint(120, 60));
    const QImage after = Drawn(panel);
    EXPECT_EQ(control->CurrentFrame(), frame);
    EXPECT_TRUE(before == after) << "the stopped movie moved";

    // Play goes on from the same frame.
    control->Play();
    EXPECT_TRUE(QTest::qWaitFor([&] { return control->CurrentFrame() != frame; }, 5000));
    EXPECT_GT(control->CurrentFrame(), frame);
}

TEST_F(SkinControl, GoingToAFrameDrawsItAsPlayingThereDoes)
{
    TPanel panel;
    auto control = Playing(panel, "clock.mrv");
    control->Rewind();
    const QImage first = Drawn(panel);
    control->Play();
    EXPECT_TRUE(QTest::qWaitFor([&] { return control->CurrentFrame() >= 5; }, 5000));
    control->Stop();
    const int reached = control->CurrentFrame();
    const QImage played = Drawn(panel);
    EXPECT_FALSE(played == first) << "the movie did not move while playing";

    control->GotoFrame(0);
    EXPECT_TRUE(Drawn(panel) == first);
    control->GotoFrame(reached);
    EXPECT_EQ(control->CurrentFrame(), reached);
    EXPECT_TRUE(Drawn(panel) == played) << "frame " << reached << " drawn differently after seeking";
    // The FrameNum property seeks as well, and reads the frame shown.
    control->SetFrameNum(0);
    EXPECT_EQ(control->FrameNum(), 0);
    EXPECT_TRUE(Drawn(panel) == first);
    // Past the end shows the last frame; below 0 is refused.
    control->GotoFrame(1000);
    EXPECT_EQ(control->CurrentFrame(), 39);
    EXPECT_THROW(control->GotoFrame(-1), TMoviePlayerError);
    EXPECT_EQ(control->CurrentFrame(), 39);
}

TEST_F(SkinControl, BackForwardAndRewindStepAndStop)
{
    TPanel panel;
    auto control = Playing(panel, "clock.mrv");
    control->GotoFrame(10);
    control->Forward();
    EXPECT_EQ(control->CurrentFrame(), 11);
    EXPECT_FALSE(control->IsPlaying());
    control->Back();
    control->Back();
    EXPECT_EQ(control->CurrentFrame(), 9);
    control->Play();
    EXPECT_TRUE(control->IsPlaying());
    control->Rewind();
    EXPECT_EQ(control->CurrentFrame(), 0);
    EXPECT_FALSE(control->IsPlaying());
    control->Back();
    EXPECT_EQ(control->CurrentFrame(), 0);
    control->GotoFrame(39);
    control->Forward();
    EXPECT_EQ(control->CurrentFrame(), 39);
    QTest::qWait(200);
    EXPECT_EQ(control->CurrentFrame(), 39) << "stepping stopped the movie";
}

TEST_F(SkinControl, WithoutLoopTheMovieStopsOnItsLastFrame)
{
    TPanel panel;
    auto control = Playing(panel, "clock.mrv");
    control->SetLoop(false);
    control->GotoFrame(36);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !control->IsPlaying(); }, 5000));
    EXPECT_EQ(control->CurrentFrame(), 39);
    control->SetLoop(true);
    control->StopPlay();
    EXPECT_FALSE(control->IsPlaying());
    control->Play();
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return control->CurrentFrame() < 39; }, 5000)); // a looping movie starts again
}

TEST_F(SkinControl, ADoubleClickOnAButtonRaisesItsCommandOnce)
{
    TPanel panel;
    auto control = Playing(panel, "clock.mrv");
    QSignalSpy commands(control.get(), &TTransparentMoviePlayerControl::OnMovieCommand);
    QSignalSpy clicks(control.get(), &TTransparentMoviePlayerControl::OnClick);
    QSignalSpy doubleClicks(control.get(), &TTransparentMoviePlayerControl::OnDblClick);
    // What the toolkit delivers for a double click: press, release, double click, release.
    const QPointF at(40, 70);
    for (QEvent::Type type : { QEvent::MouseButtonPress, QEvent::MouseButtonRelease,
             QEvent::MouseButtonDblClick, QEvent::MouseButtonRelease }) {
        const bool down = type != QEvent::MouseButtonRelease;
        QMouseEvent event(type, at, control->mapToGlobal(at), Qt::LeftButton,
            down ? Qt::MouseButtons(Qt::LeftButton) : Qt::MouseButtons(), Qt::NoModifier);
        QApplication::sendEvent(control.get(), &event);
    }
    EXPECT_EQ(commands.count(), 1);
    EXPECT_EQ(doubleClicks.count(), 1);
    EXPECT_EQ(clicks.count(), 2);
    QTest::mouseClick(control.get(), Qt::LeftButton, {}, QPoint(40, 70));
    EXPECT_EQ(commands.count(), 2) << "a plain click after it still counts";
}

namespace {

// Dark pixels of a part of the panel: where a text was drawn.
int DarkPixels(const QImage& image, const QRect& area)
{
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            count += qGray(image.pixel(x, y)) < 80;
    return count;
}

} // namespace

TEST_F(SkinControl, NestedTargetsHaveTimelinesAndLabelsOfTheirOwn)
{
    TPanel panel;
    auto control = Playing(panel, "targets.mrv");
    control->StopPlay();
    EXPECT_EQ(control->TCurrentLabel(QStringLiteral("/")), QStringLiteral("start"));
    control->TGotoLabel(QStringLiteral("/outer/inner"), QStringLiteral("shut"));
    EXPECT_EQ(control->TCurrentFrame(QStringLiteral("/outer/inner")), 5);
    EXPECT_EQ(control->TCurrentLabel(QStringLiteral("/outer/inner")), QStringLiteral("shut"));
    EXPECT_EQ(control->CurrentFrame(), 0) << "the movie's own timeline did not move";
    EXPECT_EQ(PixelAt(panel, 125, 25), 0xFFFFFF & qRgb(0, 255, 0));
    control->TGotoFrame(QStringLiteral("/outer/inner"), 2);
    EXPECT_EQ(control->TCurrentLabel(QStringLiteral("/outer/inner")), QStringLiteral("open"));
    EXPECT_EQ(PixelAt(panel, 125, 25), 0xFFFFFF & qRgb(0, 0, 255));
    control->TGotoLabel(QStringLiteral("/"), QStringLiteral("middle"));
    EXPECT_EQ(control->CurrentFrame(), 20);
    EXPECT_EQ(control->TGetPropertyNum(QStringLiteral("/outer/inner"), 10), 10) << "total frames";

    // The nested timeline plays while the movie is stopped.
    control->TPlay(QStringLiteral("/outer/inner"));
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return control->TCurrentFrame(QStringLiteral("/outer/inner")) != 2; }, 5000));
    EXPECT_EQ(control->CurrentFrame(), 20);
    control->TStopPlay(QStringLiteral("/outer/inner"));

    // Unknown targets, labels and properties are errors, never crashes.
    for (const auto& call : std::vector<std::function<void()>> {
             [&] { control->TGotoLabel(QStringLiteral("/outer"), QStringLiteral("shut")); },
             [&] { control->TGotoLabel(QStringLiteral("/outer/inner"), QStringLiteral("nowhere")); },
             [&] { control->TGotoFrame(QStringLiteral("/inner"), 1); },
             [&] { control->TCurrentFrame(QStringLiteral("nothing")); },
             [&] { control->TSetProperty(QStringLiteral("/box"), 99, QStringLiteral("1")); },
             [&] { control->TSetProperty(QStringLiteral("/box"), 11, QStringLiteral("other")); },
             [&] { control->TGetPropertyNum(QStringLiteral("/missing"), 1); },
             [&] { control->TCallLabel(QStringLiteral("/"), QStringLiteral("nowhere")); },
             [&] { control->SetVariable(QStringLiteral("/missing:score"), QStringLiteral("1")); } }) {
        try {
            call();
            ADD_FAILURE() << "no error";
        } catch (const TMoviePlayerError& error) {
            EXPECT_EQ(error.Result(), ResultInvalidArg);
        }
    }
}

TEST_F(SkinControl, TargetPropertiesChangeTheDrawing)
{
    TPanel panel;
    auto control = Playing(panel, "targets.mrv");
    EXPECT_EQ(PixelAt(panel, 25, 25), 0xFFFFFF & qRgb(255, 0, 0));
    EXPECT_EQ(control->TGetProperty(QStringLiteral("/box"), 11), QStringLiteral("box"));
    EXPECT_EQ(control->TGetProperty(QStringLiteral("/outer/inner"), 12), QStringLiteral("/outer/inner"));
    EXPECT_EQ(control->TGetPropertyNum(QStringLiteral("/box"), 7), 50);
    control->TSetProperty(QStringLiteral("/box"), 5, QStringLiteral("0"));
    EXPECT_EQ(PixelAt(panel, 25, 25), Sky.rgb() & 0xFFFFFF) << "opacity 0";
    control->TSetPropertyNum(QStringLiteral("/box"), 5, 100);
    control->TSetPropertyNum(QStringLiteral("/box"), 6, 0);
    EXPECT_EQ(PixelAt(panel, 25, 25), Sky.rgb() & 0xFFFFFF) << "hidden";
    EXPECT_EQ(control->TGetPropertyAsNumber(QStringLiteral("/box"), 6), 0);
    control->TSetPropertyNum(QStringLiteral("/box"), 6, 1);
    control->TSetPropertyNum(QStringLiteral("/box"), 0, 60); // moved right
    EXPECT_EQ(PixelAt(panel, 25, 25), Sky.rgb() & 0xFFFFFF);
    EXPECT_EQ(PixelAt(panel, 85, 25), 0xFFFFFF & qRgb(255, 0, 0));
    EXPECT_EQ(control->TGetProperty(QStringLiteral("/box"), 0), QStringLiteral("60"));
    // A hidden button raises nothing.
    QSignalSpy commands(control.get(), &TTransparentMoviePlayerControl::OnMovieCommand);
    control->TSetPropertyNum(QStringLiteral("/corner"), 6, 0);
    QTest::mouseClick(control.get(), Qt::LeftButton, {}, QPoint(170, 75));
    EXPECT_EQ(commands.count(), 0);
}

TEST_F(SkinControl, VariablesReachTheMovieAndItsFunctionsAnswer)
{
    TPanel panel;
    auto control = std::make_unique<TTransparentMoviePlayerControl>(&panel);
    control->SetMovieVars(QStringLiteral("greeting=Hello%20there&other=1"));
    control->setGeometry(0, 0, 200, 100);
    control->LoadMovie(0, MoviePath("targets.mrv"));
    panel.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&panel));
    control->StopPlay();
    const QRect textArea(0, 70, 140, 25);
    EXPECT_EQ(control->GetVariable(QStringLiteral("greeting")), QStringLiteral("Hello there"));
    EXPECT_GT(DarkPixels(Drawn(panel), textArea), 30) << "the variable's text is drawn";
    control->SetVariable(QStringLiteral("/:greeting"), QString());
    EXPECT_EQ(DarkPixels(Drawn(panel), textArea), 0);
    control->SetVariable(QStringLiteral("/outer/inner:mood"), QStringLiteral("calm"));
    EXPECT_EQ(control->GetVariable(QStringLiteral("/outer/inner:mood")), QStringLiteral("calm"));
    EXPECT_TRUE(control->GetVariable(QStringLiteral("mood")).isEmpty()) << "a target's variable is its own";

    // Calling a frame runs its actions without going there.
    QSignalSpy commands(control.get(), &TTransparentMoviePlayerControl::OnMovieCommand);
    control->TCallFrame(QStringLiteral("/"), 10);
    ASSERT_EQ(commands.count(), 1);
    EXPECT_EQ(commands.at(0).at(0).toString(), QStringLiteral("reached"));
    EXPECT_EQ(commands.at(0).at(1).toString(), QStringLiteral("ten"));
    EXPECT_EQ(control->GetVariable(QStringLiteral("score")), QStringLiteral("10"));
    EXPECT_EQ(control->CurrentFrame(), 0);

    control->SetVariable(QStringLiteral("score"), QStringLiteral("3"));
    QSignalSpy external(control.get(), &TTransparentMoviePlayerControl::OnExternalCall);
    EXPECT_EQ(control->CallFunction(
                  QStringLiteral(R"(<invoke name="getScore" returntype="xml"><arguments/></invoke>)")),
        QStringLiteral("score=10"));
    EXPECT_EQ(commands.count(), 2);
    EXPECT_EQ(external.count(), 0);
    QObject::connect(control.get(), &TTransparentMoviePlayerControl::OnExternalCall,
        [&control](const QString&) { control->SetReturnValue(QStringLiteral("host")); });
    EXPECT_EQ(control->CallFunction(QStringLiteral("<invoke name=\"elsewhere\"/>")), QStringLiteral("host"));
    EXPECT_EQ(external.count(), 1);
}

TEST_F(SkinControl, ZoomAndPanMoveDrawingAndHitTestingTogether)
{
    TPanel panel;
    auto control = Playing(panel, "targets.mrv");
    control->StopPlay();
    QSignalSpy commands(control.get(), &TTransparentMoviePlayerControl::OnMovieCommand);
    EXPECT_EQ(PixelAt(panel, 140, 50), Sky.rgb() & 0xFFFFFF);
    QTest::mouseClick(control.get(), Qt::LeftButton, {}, QPoint(140, 50));
    EXPECT_EQ(commands.count(), 0);
    EXPECT_EQ(panel.presses, 1) << "nothing of the movie there";

    // The lower right quarter fills the panel: the button lies at (100, 20) to (180, 80).
    control->SetZoomRect(100, 50, 200, 100);
    EXPECT_EQ(PixelAt(panel, 140, 50), 0xFFFFFF & qRgb(255, 255, 0));
    QTest::mouseClick(control.get(), Qt::LeftButton, {}, QPoint(140, 50));
    EXPECT_EQ(commands.count(), 1);
    EXPECT_EQ(panel.presses, 1);
    QTest::mouseClick(control.get(), Qt::LeftButton, {}, QPoint(190, 90));
    EXPECT_EQ(commands.count(), 1) << "outside the zoomed button";

    control->Zoom(0);
    EXPECT_EQ(PixelAt(panel, 140, 50), Sky.rgb() & 0xFFFFFF);
    EXPECT_EQ(PixelAt(panel, 170, 75), 0xFFFFFF & qRgb(255, 255, 0));

    // Half the size about the centre: (50, 25) to (150, 75) fills the panel; then half a view to the left.
    control->Zoom(50);
    EXPECT_NE(PixelAt(panel, 150, 10), Sky.rgb() & 0xFFFFFF) << "the nested rectangle from (100, 25)";
    EXPECT_EQ(PixelAt(panel, 10, 10), Sky.rgb() & 0xFFFFFF);
    control->Pan(-50, 0, 1);
    EXPECT_EQ(PixelAt(panel, 10, 10), 0xFFFFFF & qRgb(255, 0, 0)) << "the box from (0, 25)";
    EXPECT_EQ(PixelAt(panel, 150, 10), Sky.rgb() & 0xFFFFFF);
    EXPECT_THROW(control->Pan(1, 1, 7), TMoviePlayerError);
    EXPECT_THROW(control->Zoom(-1), TMoviePlayerError);
}

namespace {

QByteArray Png(const QColor& colour)
{
    QImage image(40, 40, QImage::Format_RGB32);
    image.fill(colour);
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return buffer.data();
}

QByteArray FileBytes(const QString& path)
{
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    return file.readAll();
}

// A bounded web server on 127.0.0.1 for one test: answers GET of the paths it knows, 404 otherwise, and
// stops listening after a few connections.
class TLocalWebServer : public QTcpServer
{
public:
    explicit TLocalWebServer(QHash<QString, QByteArray> files)
        : files(std::move(files))
    {
        EXPECT_TRUE(listen(QHostAddress::LocalHost, 0));
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = nextPendingConnection()) {
                if (++connections >= 32)
                    close();
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { Answer(socket); });
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }
    QString Url(const QString& path) const
    {
        return QStringLiteral("http://127.0.0.1:%1/%2").arg(serverPort()).arg(path);
    }
    QStringList asked;

private:
    void Answer(QTcpSocket* socket)
    {
        request += socket->readAll();
        if (!request.contains("\r\n\r\n"))
            return;
        const QString path = QString::fromLatin1(request.split(' ').value(1)).mid(1);
        request.clear();
        asked << path;
        const auto found = files.find(path);
        const QByteArray body = found == files.end() ? QByteArray("missing") : found.value();
        socket->write(QByteArray(found == files.end() ? "HTTP/1.1 404 Not Found\r\n" : "HTTP/1.1 200 OK\r\n")
            + "Content-Length: " + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
        socket->disconnectFromHost();
    }
    QHash<QString, QByteArray> files;
    QByteArray request;
    int connections = 0;
};

} // namespace

TEST_F(SkinControl, APictureInAMovieFromAStreamComesFromTheHandlerOnceAndIsDrawn)
{
    TPanel panel;
    auto control = Playing(panel, "clock.mrv");
    int asked = 0;
    QString askedFor;
    QObject::connect(control.get(), &TTransparentMoviePlayerControl::OnLoadExternalResource,
        [&](const QString& url, QIODevice* out) {
            ++asked;
            askedFor = url;
            out->write(Png(Qt::red));
        });
    QBuffer stream;
    stream.setData(FileBytes(MoviePath("picture.mrv")));
    stream.open(QIODevice::ReadOnly);
    control->LoadMovieFromStream(0, stream);
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(askedFor, QStringLiteral("face.png"));
    EXPECT_EQ(PixelAt(panel, 20, 20), 0xFFFFFF & qRgb(255, 0, 0));
    EXPECT_EQ(PixelAt(panel, 100, 70), 0xFFFFFF & qRgb(128, 128, 128));
    EXPECT_EQ(TSkinSubsystem::ContentManager()->PendingUrlCount(), 0);
    QTest::qWait(100);
    EXPECT_EQ(asked, 1) << "drawing again does not ask again";
}

TEST_F(SkinControl, PicturesOfAMovieFileComeFromItsFolderOrFromBase)
{
    const QString movie = dir.filePath(QStringLiteral("picture.mrv"));
    ASSERT_TRUE(QFile::copy(MoviePath("picture.mrv"), movie));
    QFile face(dir.filePath(QStringLiteral("face.png")));
    ASSERT_TRUE(face.open(QIODevice::WriteOnly));
    face.write(Png(Qt::blue));
    face.close();
    QTemporaryDir other;
    QFile otherFace(other.filePath(QStringLiteral("face.png")));
    ASSERT_TRUE(otherFace.open(QIODevice::WriteOnly));
    otherFace.write(Png(Qt::green));
    otherFace.close();

    TPanel panel;
    panel.resize(200, 100);
    auto control = std::make_unique<TTransparentMoviePlayerControl>(&panel);
    control->setGeometry(0, 0, 200, 100);
    panel.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&panel));
    control->LoadMovie(0, movie);
    EXPECT_EQ(PixelAt(panel, 20, 20), 0xFFFFFF & qRgb(0, 0, 255));
    control->SetBase(other.path());
    control->LoadMovie(0, movie);
    EXPECT_EQ(PixelAt(panel, 20, 20), 0xFFFFFF & qRgb(0, 255, 0));
}

TEST_F(SkinControl, AMovieAndItsPicturesComeOverHttpAndAFailedLoadKeepsTheMovie)
{
    TLocalWebServer server({ { QStringLiteral("movies/picture.mrv"), FileBytes(MoviePath("picture.mrv")) },
        { QStringLiteral("movies/face.png"), Png(Qt::blue) } });
    TPanel panel;
    auto control = Playing(panel, "clock.mrv");
    QSignalSpy progress(control.get(), &TTransparentMoviePlayerControl::OnProgress);
    control->LoadMovie(0, server.Url(QStringLiteral("movies/picture.mrv")));
    EXPECT_EQ(control->Movie(), MoviePath("clock.mrv")) << "the old movie shows while the new one comes";
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return PixelAt(panel, 20, 20) == (0xFFFFFF & qRgb(0, 0, 255)); }, 10000));
    EXPECT_EQ(control->Movie(), server.Url(QStringLiteral("movies/picture.mrv")));
    ASSERT_GE(progress.count(), 1);
    EXPECT_EQ(progress.last().at(0).toInt(), 100);
    EXPECT_EQ(server.asked, QStringList({ "movies/picture.mrv", "movies/face.png" }));

    // A page that is not there keeps the movie that was showing.
    control->LoadMovie(0, server.Url(QStringLiteral("movies/gone.mrv")));
    EXPECT_TRUE(QTest::qWaitFor([&] { return server.asked.size() == 3; }, 10000));
    QTest::qWait(100);
    EXPECT_EQ(PixelAt(panel, 20, 20), 0xFFFFFF & qRgb(0, 0, 255));
    EXPECT_EQ(control->Movie(), server.Url(QStringLiteral("movies/picture.mrv")));
    EXPECT_EQ(control->ReadyState(), 4);
}

TEST_F(SkinControl, AMovieInLayerOneIsDrawnAndHitAboveLayerZeroAndUnloadedAgain)
{
    TPanel panel;
    auto control = Playing(panel, "targets.mrv");
    control->StopPlay();
    QSignalSpy commands(control.get(), &TTransparentMoviePlayerControl::OnMovieCommand);
    EXPECT_EQ(PixelAt(panel, 25, 25), 0xFFFFFF & qRgb(255, 0, 0));
    control->LoadMovie(1, MoviePath("layer.mrv"));
    EXPECT_EQ(PixelAt(panel, 25, 45), 0xFFFFFF & qRgb(255, 0, 255)) << "drawn above the box";
    EXPECT_EQ(PixelAt(panel, 25, 25), 0xFFFFFF & qRgb(255, 0, 0))
        << "layer 0 shows where layer 1 has nothing";
    QTest::mouseClick(control.get(), Qt::LeftButton, {}, QPoint(25, 45));
    ASSERT_EQ(commands.count(), 1);
    EXPECT_EQ(commands.at(0).at(0).toString(), QStringLiteral("layer"));
    QTest::mouseClick(control.get(), Qt::LeftButton, {}, QPoint(170, 75));
    EXPECT_EQ(commands.count(), 2) << "layer 0's button beside it still works";

    control->LoadMovie(1, QString());
    EXPECT_EQ(PixelAt(panel, 25, 45), 0xFFFFFF & qRgb(255, 0, 0));

    // A layer from a stream: its generated URL is served and forgotten.
    QBuffer stream;
    stream.setData(FileBytes(MoviePath("layer.mrv")));
    stream.open(QIODevice::ReadOnly);
    control->LoadMovieFromStream(2, stream);
    EXPECT_EQ(PixelAt(panel, 25, 45), 0xFFFFFF & qRgb(255, 0, 255));
    EXPECT_EQ(TSkinSubsystem::ContentManager()->PendingUrlCount(), 0);
}

TEST_F(SkinControl, AMovieInAnUpperLayerRunsItsFrameActions)
{
    TPanel panel;
    auto control = Playing(panel, "targets.mrv");
    const QString layerMovie = dir.filePath(QStringLiteral("actions.mrv"));
    QFile movie(layerMovie);
    ASSERT_TRUE(movie.open(QIODevice::WriteOnly));
    movie.write(R"(<svg xmlns="http://www.w3.org/2000/svg" xmlns:mrv="urn:mirava:movie" width="200" height="100"
     mrv:fps="20" mrv:frames="4">
  <mrv:action frame="0" command="layer" args="start"/>
  <mrv:action frame="3" variable="seen" value="three"/>
  <mrv:action frame="3" command="layer" args="three"/>
  <rect x="0" y="40" width="100" height="60" fill="#FF00FF"/>
</svg>)");
    movie.close();
    QSignalSpy commands(control.get(), &TTransparentMoviePlayerControl::OnMovieCommand);
    // The layer's commands, by argument (the main movie raises one of its own while playing).
    const auto fromLayer = [&] {
        QStringList raised;
        for (const QList<QVariant>& command : commands)
            if (command.at(0).toString() == QStringLiteral("layer"))
                raised << command.at(1).toString();
        return raised;
    };
    control->LoadMovie(1, layerMovie);
    EXPECT_EQ(fromLayer(), QStringList { "start" }) << "the first frame's command, as the movie arrives";
    ASSERT_TRUE(QTest::qWaitFor([&] { return fromLayer().size() >= 2; }, 5000));
    EXPECT_EQ(fromLayer().at(1), QStringLiteral("three"));
    EXPECT_EQ(control->GetVariable(QStringLiteral("seen")), QString()) << "the layer's variables are its own";

    // Unloaded, it raises nothing more.
    control->LoadMovie(1, QString());
    const qsizetype raised = fromLayer().size();
    QTest::qWait(400); // two rounds of its four frames
    EXPECT_EQ(fromLayer().size(), raised);

    // A command that unloads the layer drops the rest of its frame's commands.
    ASSERT_TRUE(movie.open(QIODevice::WriteOnly | QIODevice::Truncate));
    movie.write(R"(<svg xmlns="http://www.w3.org/2000/svg" xmlns:mrv="urn:mirava:movie" width="200" height="100">
  <mrv:action frame="0" command="layer" args="unload"/>
  <mrv:action frame="0" command="layer" args="after"/>
</svg>)");
    movie.close();
    const auto unloader = QObject::connect(control.get(), &TTransparentMoviePlayerControl::OnMovieCommand,
        [&](const QString&, const QString& args) {
            if (args == QStringLiteral("unload"))
                control->LoadMovie(1, QString());
        });
    control->LoadMovie(1, layerMovie);
    QObject::disconnect(unloader);
    EXPECT_EQ(fromLayer().mid(raised), QStringList { "unload" });
}

namespace {

// A short 16-bit mono WAVE file whose samples are all 1000.
QByteArray Wave(QByteArray* samples)
{
    QByteArray data;
    for (int i = 0; i < 400; ++i)
        data.append("\xE8\x03", 2);
    *samples = data;
    auto le32 = [](quint32 v) { return QByteArray(reinterpret_cast<const char*>(&v), 4); };
    auto le16 = [](quint16 v) { return QByteArray(reinterpret_cast<const char*>(&v), 2); };
    return "RIFF" + le32(36 + data.size()) + "WAVE" + "fmt " + le32(16) + le16(1) + le16(1) + le32(8000)
        + le32(16000) + le16(2) + le16(16) + "data" + le32(data.size()) + data;
}

} // namespace

TEST_F(SkinControl, AButtonLooksSoundReachesTheOutputAndIsSilencedWhenSoundIsOff)
{
    QByteArray samples;
    QFile wave(dir.filePath(QStringLiteral("click.wav")));
    ASSERT_TRUE(wave.open(QIODevice::WriteOnly));
    wave.write(Wave(&samples));
    wave.close();
    QFile movie(moviePath);
    ASSERT_TRUE(movie.open(QIODevice::WriteOnly | QIODevice::Truncate));
    movie.write(
        QByteArray(TestMovie).replace(R"(<rect id="over" )", R"(<rect id="over" mrv:sound="click.wav" )"));
    movie.close();
    QList<QByteArray> played;
    TSkinSubsystem::SetSoundOutput([&played](const void* data, std::size_t size) {
        played << QByteArray(static_cast<const char*>(data), static_cast<qsizetype>(size));
        return static_cast<int>(size);
    });
    TPanel panel;
    auto control = Hosted(panel);
    QTest::mouseMove(control.get(), QPoint(30, 30));
    ASSERT_EQ(played.size(), 1) << "the over look appeared";
    EXPECT_EQ(played.at(0), samples);
    QTest::mouseMove(control.get(), QPoint(35, 35));
    EXPECT_EQ(played.size(), 1) << "it was already there";

    QTest::mouseMove(control.get(), QPoint(120, 50));
    TSkinSubsystem::SetSoundOn(false);
    QTest::mouseMove(control.get(), QPoint(30, 30));
    ASSERT_EQ(played.size(), 2);
    EXPECT_EQ(played.at(1), QByteArray(samples.size(), '\0')) << "sound off plays silence";
    TSkinSubsystem::SetSoundOn(true);
    TSkinSubsystem::SetSoundOutput({});
}

#include "skin/PlayerCodeProvider.h"
#include "skin/SkinSubsystem.h"
#include "skin/SkinTestSupport.h"
#include "skin/TransparentMoviePlayerControl.h"

#include <QBuffer>
#include <QFile>
#include <QMouseEvent>
#include <QSignalSpy>
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
        QFile library(QStringLiteral(MIRAVA_PLAYER_LIBRARY));
        ASSERT_TRUE(library.open(QIODevice::ReadOnly));
        TSkinSubsystem::SetPlayerCodeProvider(std::make_unique<TPlayerCodeProviderBasedOnStream>(library));
        TSkinSubsystem::Start();
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
        control->GotoFrame(5); // this player can only go back to the first frame
        ADD_FAILURE() << "the failure was dropped";
    } catch (const TMoviePlayerError& error) {
        EXPECT_EQ(error.Result(), ResultNotImpl);
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

    // A missing file leaves the control empty and quiet.
    control->LoadMovie(0, dir.filePath(QStringLiteral("missing.mrv")));
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
    image.save(QStringLiteral("skin-over-window.png"));
    EXPECT_EQ(image.pixel(5, 188) & 0xFFFFFF, Sky.rgb() & 0xFFFFFF) << "transparent below the panels";
    EXPECT_NE(image.pixel(96, 100) & 0xFFFFFF, Sky.rgb() & 0xFFFFFF) << "the set-up button is drawn";

    QSignalSpy commands(control.get(), &TTransparentMoviePlayerControl::OnMovieCommand);
    const std::vector<std::pair<QPoint, QString>> buttons = { { { 96, 106 }, "3" }, { { 246, 106 }, "8" },
        { { 384, 106 }, "6" }, { { 70, 154 }, "1" }, { { 176, 154 }, "0" } };
    for (const auto& [point, code] : buttons)
        QTest::mouseClick(control.get(), Qt::LeftButton, {}, point);
    ASSERT_EQ(commands.count(), 5);
    for (int i = 0; i < 5; ++i) {
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

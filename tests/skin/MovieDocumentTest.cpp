#include "MovieDocument.h"

#include <QFile>
#include <QImage>
#include <QPainter>
#include <QXmlStreamAttributes>
#include <gtest/gtest.h>

using namespace Mrv;

namespace {

// A 200 x 100 movie: an opaque red left half with one button whose looks are green (normal), blue (over)
// and yellow (down), a faint strip on the right, and nothing between.
const QByteArray TestMovie = R"(<?xml version="1.0" encoding="UTF-8"?>
<svg xmlns="http://www.w3.org/2000/svg" xmlns:mrv="urn:mirava:movie" width="200" height="100">
  <rect x="0" y="0" width="100" height="100" fill="#FF0000"/>
  <rect id="button" x="10" y="10" width="40" height="40" fill="#00FF00"
        mrv:command="buttoncomand" mrv:args="6" mrv:over="over" mrv:down="down"/>
  <rect id="over" x="10" y="10" width="40" height="40" fill="#0000FF" display="inline"/>
  <rect id="down" x="10" y="10" width="40" height="40" fill="#FFFF00"/>
  <rect id="plain" x="60" y="10" width="30" height="30" fill="#FF00FF" mrv:command="other"/>
  <rect x="150" y="0" width="50" height="100" fill="#000000" fill-opacity="0.2"/>
</svg>
)";

QImage Draw(TMovieDocument& doc, int button = -1, TButtonLook look = TButtonLook::Normal, bool kept = false)
{
    QImage image(200, 100, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    if (kept) {
        doc.RenderFrame(image, QRectF(0, 0, 200, 100), true, button, look);
    } else {
        QPainter painter(&image);
        doc.Render(painter, QRectF(0, 0, 200, 100), button, look);
    }
    return image;
}

QByteArray SkinBytes()
{
    QFile file(QStringLiteral(MIRAVA_SKIN_MOVIE));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    return file.readAll();
}

} // namespace

TEST(MovieDocument, ButtonsAreReadWithCommandArgumentAndLooks)
{
    auto doc = TMovieDocument::Parse(TestMovie);
    ASSERT_TRUE(doc);
    ASSERT_EQ(doc->Buttons().size(), 2u);
    const TMovieButton& button = doc->Buttons()[0];
    EXPECT_EQ(button.id, QStringLiteral("button"));
    EXPECT_EQ(button.command, QStringLiteral("buttoncomand"));
    EXPECT_EQ(button.args, QStringLiteral("6"));
    EXPECT_EQ(button.overId, QStringLiteral("over"));
    EXPECT_EQ(button.downId, QStringLiteral("down"));
    EXPECT_TRUE(doc->Buttons()[1].args.isEmpty());
    EXPECT_EQ(doc->ViewBox(), QRectF(0, 0, 200, 100));
    EXPECT_EQ(doc->ButtonAt(QPointF(30, 30)), 0);
    EXPECT_EQ(doc->ButtonAt(QPointF(70, 20)), 1);
    EXPECT_EQ(doc->ButtonAt(QPointF(30, 80)), -1);
    EXPECT_FALSE(doc->Animated());
}

TEST(MovieDocument, AButtonIsHitWhereItWasLastDrawn)
{
    auto doc = TMovieDocument::Parse(TestMovie);
    ASSERT_TRUE(doc);
    const int element = doc->TargetElement(QStringLiteral("/button"));
    ASSERT_GT(element, 0);
    TMovieState state = doc->InitialState();
    state.overrides[element].x = 100; // from 10..50 to 110..150
    state.overrides[element].y = 40; // from 10..50 to 50..90
    QImage frame(200, 100, QImage::Format_ARGB32_Premultiplied);
    for (const TButtonLook look : { TButtonLook::Normal, TButtonLook::Over, TButtonLook::Down }) {
        frame.fill(Qt::transparent);
        doc->RenderFrame(frame, QRectF(0, 0, 200, 100), true, 0, look, &state);
        EXPECT_EQ(doc->ButtonBounds(0), QRectF(110, 50, 40, 40)) << int(look);
        EXPECT_EQ(doc->ButtonAt(QPointF(130, 70), &state), 0) << int(look);
        EXPECT_EQ(doc->ButtonAt(QPointF(30, 30), &state), -1) << int(look);
    }
    EXPECT_EQ(doc->ButtonBounds(1), QRectF(60, 10, 30, 30));

    // Back where it started once a frame draws it there.
    frame.fill(Qt::transparent);
    doc->RenderFrame(frame, QRectF(0, 0, 200, 100), true);
    EXPECT_EQ(doc->ButtonAt(QPointF(30, 30)), 0);
    EXPECT_EQ(doc->ButtonAt(QPointF(130, 70)), -1);
}

TEST(MovieDocument, EachLookReplacesTheButtonAndOtherLooksStayHidden)
{
    auto doc = TMovieDocument::Parse(TestMovie);
    ASSERT_TRUE(doc);
    for (bool kept : { false, true }) {
        EXPECT_EQ(Draw(*doc, -1, TButtonLook::Normal, kept).pixel(30, 30), qRgb(0, 255, 0));
        EXPECT_EQ(Draw(*doc, 0, TButtonLook::Over, kept).pixel(30, 30), qRgb(0, 0, 255));
        EXPECT_EQ(Draw(*doc, 0, TButtonLook::Down, kept).pixel(30, 30), qRgb(255, 255, 0));
        // A button without looks keeps its normal look.
        EXPECT_EQ(Draw(*doc, 1, TButtonLook::Over, kept).pixel(70, 20), qRgb(255, 0, 255));
        const QImage image = Draw(*doc, -1, TButtonLook::Normal, kept);
        EXPECT_EQ(qAlpha(image.pixel(5, 90)), 255);
        EXPECT_EQ(qAlpha(image.pixel(120, 50)), 0);
        EXPECT_NEAR(qAlpha(image.pixel(175, 50)), 51, 2);
    }
}

// Very many buttons with looks, or very many runs, do not make loading parse the text once per look and run.
TEST(MovieDocument, ManyButtonsAndRunsKeepTheWorkOfLoadingBounded)
{
    QByteArray buttons
        = R"(<svg xmlns="http://www.w3.org/2000/svg" xmlns:mrv="urn:mirava:movie" width="200" height="100">)";
    const int count = 600;
    for (int i = 0; i < count; ++i)
        buttons += QStringLiteral(R"(<rect id="b%1" x="%2" y="%3" width="4" height="4" fill="#00FF00" )"
                                  R"(mrv:command="c" mrv:args="%1" mrv:over="o%1" mrv:down="d%1"/>)"
                                  R"(<rect id="o%1" x="%2" y="%3" width="4" height="4" fill="#0000FF"/>)"
                                  R"(<rect id="d%1" x="%2" y="%3" width="4" height="4" fill="#FFFF00"/>)")
                       .arg(i)
                       .arg(i % 40 * 5)
                       .arg(i / 40 * 5)
                       .toUtf8();
    buttons += "</svg>";
    auto doc = TMovieDocument::Parse(buttons);
    ASSERT_TRUE(doc);
    ASSERT_EQ(doc->Buttons().size(), static_cast<std::size_t>(count));
    EXPECT_LE(doc->ParsedBytes(), TMovieDocument::MaxParsedBytes);
    EXPECT_TRUE(doc->Buttons().front().looksShown);
    EXPECT_FALSE(doc->Buttons().back().looksShown);
    // A button that keeps its looks shows them; one that lost them keeps its normal look and the looks stay
    // hidden.
    EXPECT_EQ(Draw(*doc, 0, TButtonLook::Over).pixel(1, 1), qRgb(0, 0, 255));
    const int last = count - 1;
    const QPoint lastPixel(last % 40 * 5 + 1, last / 40 * 5 + 1);
    for (TButtonLook look : { TButtonLook::Normal, TButtonLook::Over, TButtonLook::Down }) {
        EXPECT_EQ(Draw(*doc, last, look).pixel(lastPixel), qRgb(0, 255, 0));
        EXPECT_EQ(Draw(*doc, last, look, true).pixel(lastPixel), qRgb(0, 255, 0));
    }
    EXPECT_EQ(doc->ButtonAt(QPointF(lastPixel)), last);

    QByteArray runs = R"(<svg xmlns="http://www.w3.org/2000/svg" width="200" height="100">)";
    for (int i = 0; i < 300; ++i)
        runs += QStringLiteral(R"(<rect x="%1" y="0" width="1" height="10" fill="#FF0000"/>)"
                               R"(<rect x="%1" y="20" width="1" height="10" fill="#0000FF">)"
                               R"(<animate attributeName="opacity" values="1;0.9;1" dur="2s" )"
                               R"(repeatCount="indefinite"/></rect>)")
                    .arg(i % 200)
                    .toUtf8();
    runs += "</svg>";
    doc = TMovieDocument::Parse(runs);
    ASSERT_TRUE(doc);
    EXPECT_LE(doc->ParsedBytes(), TMovieDocument::MaxParsedBytes);
    const QImage frame = Draw(*doc, -1, TButtonLook::Normal, true);
    EXPECT_EQ(frame.pixel(150, 5), qRgb(255, 0, 0));
    EXPECT_EQ(qAlpha(frame.pixel(150, 25)), 255);

    // A few runs of a large movie.
    QByteArray large = R"(<svg xmlns="http://www.w3.org/2000/svg" width="200" height="100">)";
    for (int i = 0; i < 4; ++i)
        large += QStringLiteral(R"(<!-- %1 --><rect x="%2" y="0" width="10" height="10" fill="#FF0000"/>)"
                                R"(<rect x="%2" y="20" width="10" height="10" fill="#0000FF">)"
                                R"(<animate attributeName="opacity" values="1;0.9;1" dur="2s" )"
                                R"(repeatCount="indefinite"/></rect>)")
                     .arg(QString(1024 * 1024, QLatin1Char('x')))
                     .arg(i * 20)
                     .toUtf8();
    large += "</svg>";
    doc = TMovieDocument::Parse(large);
    ASSERT_TRUE(doc);
    EXPECT_LE(doc->ParsedBytes(), TMovieDocument::MaxParsedBytes);
    EXPECT_EQ(Draw(*doc, -1, TButtonLook::Normal, true).pixel(65, 5), qRgb(255, 0, 0));
}

TEST(MovieDocument, WhatIsNotAMovieIsRefusedWithAReason)
{
    for (const QByteArray& bytes : { QByteArray(), QByteArray("<svg"), QByteArray("<html/>"),
             QByteArray("<svg xmlns=\"urn:other\"/>"), QByteArray("plain text"),
             QByteArray("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"0\" height=\"0\"/>") }) {
        QString error;
        EXPECT_FALSE(TMovieDocument::Parse(bytes, &error)) << bytes.toStdString();
        EXPECT_FALSE(error.isEmpty());
    }
    // Looks naming missing elements are dropped, not fatal.
    QByteArray missing = TestMovie;
    missing.replace("mrv:over=\"over\"", "mrv:over=\"nowhere\"");
    auto doc = TMovieDocument::Parse(missing);
    ASSERT_TRUE(doc);
    EXPECT_TRUE(doc->Buttons()[0].overId.isEmpty());
    EXPECT_EQ(Draw(*doc, 0, TButtonLook::Over).pixel(30, 30), Draw(*doc).pixel(30, 30));
}

TEST(MovieDocument, ScaleModesPlaceTheViewBox)
{
    auto doc = TMovieDocument::Parse(TestMovie);
    ASSERT_TRUE(doc);
    const QRectF area(0, 0, 400, 100);
    EXPECT_EQ(doc->TargetRect(area, TScaleMode::ShowAll), QRectF(100, 0, 200, 100));
    EXPECT_EQ(doc->TargetRect(area, TScaleMode::ExactFit), area);
    EXPECT_EQ(doc->TargetRect(area, TScaleMode::NoBorder), QRectF(0, -50, 400, 200));
    EXPECT_EQ(doc->ToDocument(QPointF(150, 50), QRectF(100, 0, 200, 100)), QPointF(50, 50));
}

TEST(MovieDocument, TheSkinHasItsCommandButtonsAndDrawsTheSameWithKeptRuns)
{
    auto doc = TMovieDocument::Parse(SkinBytes());
    ASSERT_TRUE(doc);
    EXPECT_EQ(doc->ViewBox(), QRectF(0, 0, 953, 190));
    EXPECT_TRUE(doc->Animated());
    QStringList codes;
    for (const TMovieButton& button : doc->Buttons()) {
        EXPECT_EQ(button.command, QStringLiteral("buttoncomand"));
        EXPECT_FALSE(button.overId.isEmpty());
        EXPECT_FALSE(button.downId.isEmpty());
        codes << button.args;
    }
    codes.sort();
    EXPECT_EQ(codes, QStringList({ "0", "1", "2", "3", "4", "6", "8" }));

    QImage direct(953, 190, QImage::Format_ARGB32_Premultiplied);
    direct.fill(Qt::transparent);
    QImage kept = direct;
    {
        QPainter painter(&direct);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::TextAntialiasing);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        doc->Render(painter, QRectF(0, 0, 953, 190), 2, TButtonLook::Over);
    }
    doc->RenderFrame(kept, QRectF(0, 0, 953, 190), true, 2, TButtonLook::Over);
    // Animated parts may have moved on between the two drawings; everything else must match.
    int differing = 0;
    for (int y = 0; y < 190; ++y)
        for (int x = 0; x < 953; ++x)
            differing += direct.pixel(x, y) != kept.pixel(x, y);
    EXPECT_LT(differing, 953 * 190 / 50);

    // Every button is opaque at its centre; the band below the panels lets the window show through.
    for (const TMovieButton& button : doc->Buttons())
        EXPECT_EQ(qAlpha(kept.pixel(button.bounds.center().toPoint())), 255) << button.id.toStdString();
    EXPECT_EQ(qAlpha(kept.pixel(5, 188)), 0);
    EXPECT_EQ(qAlpha(kept.pixel(463, 120)), 0);
}

namespace {

std::optional<QString> ValueAt(const char* element, const QXmlStreamAttributes& attributes, double ms)
{
    const std::optional<TMovieAnimation> animation
        = TMovieAnimation::Read(QString::fromLatin1(element), attributes);
    EXPECT_TRUE(animation.has_value());
    return animation ? animation->ValueAt(ms) : std::nullopt;
}

QXmlStreamAttributes Attributes(std::initializer_list<std::pair<const char*, const char*>> pairs)
{
    QXmlStreamAttributes attributes;
    for (const auto& [name, value] : pairs)
        attributes.append(QLatin1String(name), QLatin1String(value));
    return attributes;
}

} // namespace

TEST(MovieAnimation, ValuesFollowTheTimelineWithBeginRepeatAndFreeze)
{
    const auto slide = Attributes({ { "type", "translate" }, { "from", "0 0" }, { "to", "100 10" },
        { "dur", "2s" }, { "begin", "1s" } });
    EXPECT_FALSE(ValueAt("animateTransform", slide, 500)) << "not begun";
    EXPECT_EQ(ValueAt("animateTransform", slide, 2000), QStringLiteral("translate(50 5)"));
    EXPECT_FALSE(ValueAt("animateTransform", slide, 3500)) << "ended without freeze";

    auto frozen = slide;
    frozen.append(QLatin1String("fill"), QLatin1String("freeze"));
    EXPECT_EQ(ValueAt("animateTransform", frozen, 9000), QStringLiteral("translate(100 10)"));

    const auto colours = Attributes({ { "attributeName", "fill" }, { "values", "#000000;#FF0000;#000000" },
        { "dur", "2s" }, { "repeatCount", "indefinite" } });
    EXPECT_EQ(ValueAt("animateColor", colours, 1000), QStringLiteral("#ff0000"));
    EXPECT_EQ(ValueAt("animateColor", colours, 5000), QStringLiteral("#ff0000")) << "third run";
    const auto twice = Attributes({ { "attributeName", "opacity" }, { "from", "0" }, { "to", "1" },
        { "dur", "1s" }, { "repeatCount", "2" }, { "fill", "freeze" } });
    EXPECT_EQ(ValueAt("animate", twice, 1250), QStringLiteral("0.25"));
    EXPECT_EQ(ValueAt("animate", twice, 5000), QStringLiteral("1"));

    EXPECT_FALSE(TMovieAnimation::Read(u"animate", Attributes({ { "attributeName", "x" }, { "to", "5" } })))
        << "no duration";
    EXPECT_EQ(ParseClockValue(u"00:01:02.5"), 62500.0);
    EXPECT_EQ(ParseClockValue(u"150ms"), 150.0);
    EXPECT_FALSE(ParseClockValue(u"soon"));
}

TEST(MovieDocument, TheMovieLengthIsItsLongestAnimationOrWhatItSays)
{
    auto doc
        = TMovieDocument::Parse(QByteArray(R"(<svg xmlns="http://www.w3.org/2000/svg" width="10" height="10">
      <rect width="5" height="5"><animate attributeName="x" from="0" to="5" dur="2s" begin="0.5s"/></rect></svg>)"));
    ASSERT_TRUE(doc);
    EXPECT_EQ(doc->TotalFrames(), 50); // 2.5 s at 20 frames a second
    EXPECT_EQ(TMovieDocument::Parse(TestMovie)->TotalFrames(), 1);
    doc = TMovieDocument::Parse(SkinBytes());
    ASSERT_TRUE(doc);
    EXPECT_EQ(doc->TotalFrames(), 2520);
}

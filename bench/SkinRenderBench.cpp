// The skin's drawing cost per frame at its full size, and the processor share of an idle window whose skin
// animation runs.
#include "MovieDocument.h"
#include "skin/PlayerCodeProvider.h"
#include "skin/SkinSubsystem.h"
#include "skin/TransparentMoviePlayerControl.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QPainter>
#include <QTimer>
#include <benchmark/benchmark.h>
#include <cstdlib>
#include <sys/resource.h>

namespace {

const QColor Sky(166, 202, 240);
const QRectF SkinArea(0, 0, 953, 190);

std::unique_ptr<Mrv::TMovieDocument> LoadSkin()
{
    QFile file(QStringLiteral(MIRAVA_SKIN_MOVIE));
    if (!file.open(QIODevice::ReadOnly))
        return nullptr;
    return Mrv::TMovieDocument::Parse(file.readAll());
}

// One frame as the player makes it: the movie's frame (still runs kept, animated runs drawn), then laid over
// the sky-blue panel.
void BM_SkinFrame(benchmark::State& state)
{
    auto doc = LoadSkin();
    if (!doc) {
        state.SkipWithError("skin.mrv could not be read");
        return;
    }
    QImage frame(953, 190, QImage::Format_ARGB32_Premultiplied);
    QImage panel(953, 190, QImage::Format_ARGB32_Premultiplied);
    const int hovered = static_cast<int>(state.range(0));
    Mrv::TMovieState movie = doc->InitialState();
    int frameNumber = 0;
    for (auto _ : state) {
        // Every drawing shows the next frame, so the animated parts are drawn anew each time.
        movie.frames[0] = frameNumber++ % doc->TotalFrames();
        frame.fill(Qt::transparent);
        doc->RenderFrame(frame, SkinArea, true, hovered, Mrv::TButtonLook::Over, &movie);
        panel.fill(Sky);
        QPainter painter(&panel);
        painter.drawImage(0, 0, frame);
        painter.end();
        benchmark::DoNotOptimize(panel.constBits());
    }
}
BENCHMARK(BM_SkinFrame)->Arg(-1)->Arg(2)->Unit(benchmark::kMillisecond);

// The same frame drawn whole every time, without kept runs: what a frame would cost without them.
void BM_SkinFrameDrawnWhole(benchmark::State& state)
{
    auto doc = LoadSkin();
    if (!doc) {
        state.SkipWithError("skin.mrv could not be read");
        return;
    }
    QImage frame(953, 190, QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        frame.fill(Qt::transparent);
        QPainter painter(&frame);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::TextAntialiasing);
        doc->Render(painter, SkinArea);
        painter.end();
        benchmark::DoNotOptimize(frame.constBits());
    }
}
BENCHMARK(BM_SkinFrameDrawnWhole)->Unit(benchmark::kMillisecond);

// Makes the real player library the one the skin control uses; false when it is missing.
bool UseRealPlayer(benchmark::State& state)
{
    QFile library(QStringLiteral(MIRAVA_PLAYER_LIBRARY));
    if (!library.open(QIODevice::ReadOnly)) {
        state.SkipWithError("the player library is missing");
        return false;
    }
    Mrv::TSkinSubsystem::SetPlayerCodeProvider(
        std::make_unique<Mrv::TPlayerCodeProviderBasedOnStream>(library));
    Mrv::TSkinSubsystem::Start();
    return true;
}

double ProcessorSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec
        + usage.ru_stime.tv_usec / 1e6;
}

// A shown 953 x 190 panel with the real player playing skin.mrv (argument 1: stopped), left alone for a few
// seconds: the share of one core the process used, and the frames it painted per second.
void BM_SkinIdleWindow(benchmark::State& state)
{
    if (!UseRealPlayer(state))
        return;
    {
        QWidget panel;
        panel.resize(953, 190);
        panel.setAutoFillBackground(true);
        QPalette palette;
        palette.setColor(QPalette::Window, Sky);
        panel.setPalette(palette);
        TTransparentMoviePlayerControl control(&panel);
        control.setGeometry(0, 0, 953, 190);
        control.LoadMovie(0, QStringLiteral(MIRAVA_SKIN_MOVIE));
        if (state.range(1) != 0)
            control.Stop();
        int frames = 0;
        QObject::connect(
            &control, &TTransparentMoviePlayerControl::OnDrawBackground, [&frames] { ++frames; });
        panel.show();
        const int seconds = static_cast<int>(state.range(0));
        for (auto _ : state) {
            frames = 0;
            const double cpuBefore = ProcessorSeconds();
            QElapsedTimer wall;
            wall.start();
            QEventLoop loop;
            QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
            loop.exec();
            const double elapsed = wall.elapsed() / 1000.0;
            state.counters["cpu_percent"] = 100.0 * (ProcessorSeconds() - cpuBefore) / elapsed;
            state.counters["frames_per_second"] = frames / elapsed;
        }
    }
    Mrv::TSkinSubsystem::Stop();
}
BENCHMARK(BM_SkinIdleWindow)->Args({ 4, 0 })->Args({ 4, 1 })->Iterations(1)->Unit(benchmark::kMillisecond);

// GotoFrame on the real player to frames spread over the whole skin, each followed by the repaint that
// shows it.
void BM_SkinGotoFrame(benchmark::State& state)
{
    if (!UseRealPlayer(state))
        return;
    {
        QWidget panel;
        panel.resize(953, 190);
        TTransparentMoviePlayerControl control(&panel);
        control.setGeometry(0, 0, 953, 190);
        control.LoadMovie(0, QStringLiteral(MIRAVA_SKIN_MOVIE));
        control.Stop();
        int painted = 0;
        QObject::connect(
            &control, &TTransparentMoviePlayerControl::OnDrawBackground, [&painted] { ++painted; });
        panel.show();
        QElapsedTimer waited;
        waited.start();
        while (painted == 0 && waited.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        const int total = control.TotalFrames();
        painted = 0;
        int step = 0;
        for (auto _ : state) {
            control.GotoFrame(static_cast<int>((step++ * 977L) % total));
            panel.repaint();
        }
        state.counters["total_frames"] = total;
        if (painted < static_cast<int>(state.iterations()))
            state.SkipWithError("a repaint did not draw the movie");
    }
    Mrv::TSkinSubsystem::Stop();
}
BENCHMARK(BM_SkinGotoFrame)->Unit(benchmark::kMillisecond);

} // namespace

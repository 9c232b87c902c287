// A folder of 200 six-megapixel JPEG photos in the picture list: the time from Clear to a laid-out
// list whose first screen of thumbnails is drawn, and the longest single step of the GUI thread
// until every thumbnail is in.

#include "pictures/PicturList.h"
#include "pictures/PictureFiles.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>

QImage PhotoLikePicture(int width, int height, int seed, int grain);

namespace {

constexpr int FolderSize = 200;
constexpr int Variants = 8;

const QStringList& PhotoFolder()
{
    static QTemporaryDir dir;
    static QStringList paths;
    if (paths.isEmpty()) {
        QStringList variants;
        for (int v = 0; v < Variants; ++v)
            variants << WriteFile(dir, QStringLiteral("variant%1.jpg").arg(v),
                EncodeJpeg(PhotoLikePicture(3000, 2000, v + 10, 8),
                    TJpegOptions { 88, TJpegColours::Rgb, false, false }));
        for (int i = 0; i < FolderSize; ++i) {
            const QString path = dir.filePath(QStringLiteral("photo%1.jpg").arg(i, 3, 10, QLatin1Char('0')));
            QFile::copy(variants[i % Variants], path);
            paths << path;
        }
    }
    return paths;
}

bool FirstScreenPending(const TPicturList& list)
{
    for (int i = 0; i < list.Count(); ++i) {
        const TBild* item = list.Items(i);
        if (item->ThumbnailPending() && item->Picture->geometry().intersects(list.rect()))
            return true;
    }
    return false;
}

void BM_FolderOf200Photos(benchmark::State& state)
{
    const QStringList& paths = PhotoFolder();
    TPicturList list;
    list.resize(int(state.range(0)), int(state.range(1)));
    list.show();
    // A first fill, so that every measured run starts by clearing a full list as a folder change does.
    for (const QString& path : paths)
        list.Add(path);
    list.Arrange();
    list.FinishThumbnails();
    double firstScreenWorst = 0, addStepWorst = 0, longestStepWorst = 0, allInWorst = 0;
    for (auto _ : state) {
        QElapsedTimer total;
        total.start();
        // One step of the GUI thread: what the folder change does synchronously.
        list.Clear();
        for (const QString& path : paths)
            list.Add(path);
        list.Arrange();
        const double addStep = double(total.nsecsElapsed()) / 1e6;
        double longestStep = addStep;
        auto spin = [&] {
            QElapsedTimer step;
            step.start();
            QApplication::processEvents();
            longestStep = std::max(longestStep, double(step.nsecsElapsed()) / 1e6);
        };
        while (FirstScreenPending(list))
            spin();
        list.repaint();
        const double firstScreen = double(total.nsecsElapsed()) / 1e6;
        while (list.PendingThumbnails() > 0)
            spin();
        const double allIn = double(total.nsecsElapsed()) / 1e6;
        firstScreenWorst = std::max(firstScreenWorst, firstScreen);
        addStepWorst = std::max(addStepWorst, addStep);
        longestStepWorst = std::max(longestStepWorst, longestStep);
        allInWorst = std::max(allInWorst, allIn);
        state.SetIterationTime(firstScreen / 1e3);
    }
    state.counters["first_screen_ms"] = firstScreenWorst;
    state.counters["clear_add_arrange_ms"] = addStepWorst;
    state.counters["longest_step_ms"] = longestStepWorst;
    state.counters["all_thumbnails_ms"] = allInWorst;
    std::printf("200 six-megapixel JPEGs, list %dx%d (worst of %lld runs): first screen drawn after %.0f ms "
                "(Clear+Add+Arrange %.0f ms), longest GUI step %.0f ms, all thumbnails after %.0f ms\n",
        list.width(), list.height(), static_cast<long long>(state.iterations()), firstScreenWorst,
        addStepWorst, longestStepWorst, allInWorst);
}
// The application's picture column (about 313 x 480) and a larger list.
BENCHMARK(BM_FolderOf200Photos)
    ->Args({ 313, 480 })
    ->Args({ 500, 600 })
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(3);

} // namespace

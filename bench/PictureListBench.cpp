// Folders in the picture list, each figure beside what QImageReader with setScaledSize, the way viewers
// built on Qt ask for thumbnails, takes for the same files in the same run:
// - 200 twelve-megapixel JPEG photos, shared thumbnail cache empty: the time until every thumbnail is in,
//   against making them one after another on one thread, and the longest step of the GUI thread;
// - the same folder again, the thumbnails now in the cache;
// - 10,000 small JPEGs: the first screen, the longest GUI step and the peak resident memory, for the list
//   alone and for the window's change of folder (the folder's listing included).

#include "app/FolderListing.h"
#include "app/MainForm.h"
#include "pictures/PicturList.h"
#include "pictures/PictureDecoder.h"
#include "pictures/PictureFiles.h"
#include "pictures/ThumbnailCache.h"
#include "pictures/ThumbnailLoader.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QImageReader>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <fstream>
#include <string>

QImage PhotoLikePicture(int width, int height, int seed, int grain);

namespace {

constexpr int Variants = 8;

// `count` files named photoNNNNN.jpg, copies of `Variants` pictures made by `make`.
QStringList Folder(QTemporaryDir& dir, int count, const std::function<QByteArray(int)>& make)
{
    QStringList variants, paths;
    for (int v = 0; v < Variants; ++v)
        variants << WriteFile(dir, QStringLiteral("variant%1.jpg.src").arg(v), make(v));
    for (int i = 0; i < count; ++i) {
        const QString path = dir.filePath(QStringLiteral("photo%1.jpg").arg(i, 5, 10, QLatin1Char('0')));
        QFile::copy(variants[i % Variants], path);
        paths << path;
    }
    return paths;
}

const QStringList& TwelveMegapixelFolder()
{
    static QTemporaryDir dir;
    static const QStringList paths = Folder(dir, 200, [](int v) {
        return EncodeJpeg(
            PhotoLikePicture(4000, 3000, v + 10, 8), TJpegOptions { 88, TJpegColours::Rgb, false, false });
    });
    return paths;
}

const QStringList& SmallPhotoFolder()
{
    static QTemporaryDir dir;
    static const QStringList paths = Folder(dir, 10'000, [](int v) {
        return EncodeJpeg(
            PhotoLikePicture(320, 240, v + 30, 4), TJpegOptions { 85, TJpegColours::Rgb, false, false });
    });
    return paths;
}

void EmptyCache()
{
    QDir(TThumbnailCache::DefaultRoot()).removeRecursively();
}

double Ms(const QElapsedTimer& timer)
{
    return double(timer.nsecsElapsed()) / 1e6;
}

// The longest step of the GUI thread: one pass of its event loop, from the first event it handles after
// waiting (or from the end of the pass before, when it did not wait) to the end of the pass. The event
// dispatchers tell the end of a pass (awake) and the start of a wait (aboutToBlock) differently: the glib
// one says "awake" after it has dispatched, the plain one before; the first event handled marks the start
// of the work in both.
class TStepMeter : public QObject
{
public:
    TStepMeter()
    {
        QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
        connect(dispatcher, &QAbstractEventDispatcher::awake, this, [this] {
            Close();
            step.start();
        });
        connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, [this] {
            Close();
            step.invalidate();
        });
        QCoreApplication::instance()->installEventFilter(this);
    }
    void Note(double ms) { longest = std::max(longest, ms); }
    double longest = 0;

protected:
    bool eventFilter(QObject*, QEvent*) override
    {
        if (!step.isValid())
            step.start();
        return false;
    }

private:
    void Close()
    {
        if (step.isValid())
            Note(Ms(step));
    }
    QElapsedTimer step;
};

bool FirstScreenPending(const TPicturList& list)
{
    for (int i = 0; i < list.Count(); ++i) {
        const TBild* item = list.Items(i);
        if (item->PictureGeometry().intersects(list.rect()) && item->ThumbnailPending())
            return true;
        if (item->PictureGeometry().y() > list.height())
            break;
    }
    return false;
}

struct TOpening
{
    double folderChange = 0; // Clear, Add for every file, Arrange: one step of the GUI thread
    double firstScreen = 0;
    double allIn = 0;
    double longestStep = 0;
};

// Fills the list alone with the folder's files in one step (Clear, Add for every file, Arrange; the window
// lists the folder first and fills in slices, see OpenInWindow) and runs the event loop until every
// thumbnail is in.
TOpening OpenFolder(TPicturList& list, const QStringList& paths)
{
    TOpening opening;
    TStepMeter meter;
    QElapsedTimer total;
    total.start();
    list.Clear();
    for (const QString& path : paths)
        list.Add(path);
    list.Arrange();
    opening.folderChange = Ms(total);
    meter.Note(opening.folderChange);
    while (FirstScreenPending(list))
        QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    list.repaint();
    opening.firstScreen = Ms(total);
    while (list.PendingThumbnails() > 0)
        QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    opening.allIn = Ms(total);
    opening.longestStep = meter.longest;
    return opening;
}

// QImageReader with setScaledSize, one file after another: the time in ms.
double ReaderThumbnails(const QStringList& paths, const QSize& box)
{
    QElapsedTimer timer;
    timer.start();
    for (const QString& path : paths) {
        QImageReader reader(path);
        reader.setScaledSize(FitProportional(reader.size(), box, false));
        benchmark::DoNotOptimize(reader.read());
    }
    return Ms(timer);
}

// The list's own way on one thread: the same jobs, one after another, into an empty cache.
double OneThreadThumbnails(const QStringList& paths, const QSize& box)
{
    EmptyCache();
    const TThumbnailCache cache;
    QElapsedTimer timer;
    timer.start();
    for (const QString& path : paths) {
        TThumbnailJob job;
        job.Path = path;
        job.Box = box;
        benchmark::DoNotOptimize(MakeThumbnail(job, &cache));
    }
    const double ms = Ms(timer);
    EmptyCache();
    return ms;
}

void BM_Folder200TwelveMegapixelPhotos(benchmark::State& state)
{
    const QStringList& paths = TwelveMegapixelFolder();
    const QSize box(100, 75);
    TPicturList list;
    list.resize(500, 600);
    list.show();
    TOpening empty, cached;
    double oneThread = 0, reader = 0;
    for (auto _ : state) {
        oneThread = OneThreadThumbnails(paths, box);
        reader = ReaderThumbnails(paths, box);
        EmptyCache();
        empty = OpenFolder(list, paths);
        list.Clear();
        cached = OpenFolder(list, paths);
        list.Clear();
        state.SetIterationTime(empty.allIn / 1e3);
    }
    state.counters["all_in_ms"] = empty.allIn;
    state.counters["one_thread_ms"] = oneThread;
    state.counters["reader_ms"] = reader;
    state.counters["ratio_to_one_thread"] = empty.allIn / oneThread;
    state.counters["longest_step_ms"] = empty.longestStep;
    state.counters["cached_all_in_ms"] = cached.allIn;
    std::printf(
        "200 twelve-megapixel JPEGs, empty cache: all thumbnails in after %.0f ms (%.2f of the %.0f ms "
        "on one thread; QImageReader + setScaledSize one after another %.0f ms), longest GUI step "
        "%.1f ms\n",
        empty.allIn, empty.allIn / oneThread, oneThread, reader, empty.longestStep);
    std::printf(
        "200 twelve-megapixel JPEGs, thumbnails in the shared cache: all in after %.0f ms (QImageReader + "
        "setScaledSize %.0f ms), longest GUI step %.1f ms\n",
        cached.allIn, reader, cached.longestStep);
}
BENCHMARK(BM_Folder200TwelveMegapixelPhotos)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1);

// Peak resident memory of the process since the last reset, in MB.
double PeakResidentMb()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stod(line.substr(6)) / 1024;
    return 0;
}

void ResetPeakResident()
{
    std::ofstream("/proc/self/clear_refs") << "5";
}

void BM_Folder10000SmallPhotos(benchmark::State& state)
{
    const QStringList& paths = SmallPhotoFolder();
    TOpening opening;
    double peak = 0, reader = 0, scrolled = 0;
    int firstScreenCount = 0;
    for (auto _ : state) {
        EmptyCache();
        ResetPeakResident();
        {
            TPicturList list;
            list.resize(313, 480); // the application's picture column
            list.show();
            opening = OpenFolder(list, paths);
            firstScreenCount = 0;
            for (int i = 0; i < list.Count() && list.Items(i)->PictureGeometry().y() < list.height(); ++i)
                ++firstScreenCount;
            // Down the whole folder a screen at a time, as far as the kept thumbnails reach each time.
            TStepMeter meter;
            QElapsedTimer timer;
            timer.start();
            for (int position = 0; position <= list.ScrollBar->maximum(); position += list.height() * 20) {
                list.ScrollBar->setValue(position);
                while (FirstScreenPending(list))
                    QApplication::processEvents(QEventLoop::WaitForMoreEvents);
            }
            scrolled = meter.longest;
            peak = PeakResidentMb();
            list.Clear();
        }
        reader = ReaderThumbnails(paths.mid(0, firstScreenCount), QSize(100, 75));
        state.SetIterationTime(opening.firstScreen / 1e3);
    }
    state.counters["first_screen_ms"] = opening.firstScreen;
    state.counters["folder_change_ms"] = opening.folderChange;
    state.counters["longest_step_ms"] = opening.longestStep;
    state.counters["peak_rss_mb"] = peak;
    std::printf(
        "10,000 small JPEGs: first screen (%d pictures) drawn after %.0f ms (Clear+Add+Arrange %.0f ms; "
        "QImageReader + setScaledSize for the same pictures %.0f ms), longest GUI step %.1f ms "
        "(%.1f ms while scrolling through), peak resident memory %.0f MB\n",
        firstScreenCount, opening.firstScreen, opening.folderChange, reader, opening.longestStep, scrolled,
        peak);
}
BENCHMARK(BM_Folder10000SmallPhotos)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1);

// The window's change of folder: the tree's current folder moves to the 10,000 photos, as a click in the
// tree does, from an event of the GUI thread; the folder is listed and the list filled as the window does
// it. Measured until the first screen of thumbnails is drawn and the list holds every picture; GUI steps
// until half a second after that.
struct TWindowOpening
{
    double listed = 0; // until the window shows the first of the folder's pictures
    double filled = 0; // until the list holds them all
    double firstScreen = 0;
    double longestStep = 0;
};

TWindowOpening OpenInWindow(TMainForm& window, const QString& folder)
{
    TWindowOpening opening;
    const QString listed = FolderPathWithSeparator(folder);
    TStepMeter meter;
    QElapsedTimer total;
    // From a timer, so that the event loop waits first and the step meter sees the change as a step.
    QTimer::singleShot(10, &window, [&window, &total, folder] {
        total.start();
        window.SelectFolder(folder);
    });
    const QMetaObject::Connection filled
        = QObject::connect(&window, &TMainForm::FolderListed, &window, [&] { opening.filled = Ms(total); });
    while (!total.isValid())
        QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    while (window.CurrentFolder != listed || window.PicturList->Count() == 0)
        QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    opening.listed = Ms(total);
    while (FirstScreenPending(*window.PicturList))
        QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    window.PicturList->repaint();
    opening.firstScreen = Ms(total);
    while (window.FolderListingPending())
        QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    QObject::disconnect(filled);
    // What comes in right after (the rest of the thumbnails near the view, the tree's rows) counts as well.
    QEventLoop settle;
    QTimer::singleShot(500, &settle, &QEventLoop::quit);
    settle.exec();
    opening.longestStep = meter.longest;
    return opening;
}

void BM_WindowOpens10000SmallPhotos(benchmark::State& state)
{
    const QStringList& paths = SmallPhotoFolder();
    const QString folder = QFileInfo(paths.first()).absolutePath();
    // The window keeps its slot files in the current folder: a temporary one, as for the program's folder.
    QTemporaryDir appFolder, workFolder;
    const QString previousFolder = QDir::currentPath();
    QDir::setCurrent(workFolder.path());
    TMainForm window(appFolder.path());
    window.show();
    TWindowOpening opening;
    for (auto _ : state) {
        EmptyCache();
        window.SelectFolder(appFolder.path());
        while (window.FolderListingPending())
            QApplication::processEvents(QEventLoop::WaitForMoreEvents);
        opening = OpenInWindow(window, folder);
        state.SetIterationTime(opening.firstScreen / 1e3);
    }
    window.close();
    QDir::setCurrent(previousFolder);
    // The listing by itself, as the worker thread makes it.
    QElapsedTimer listing;
    listing.start();
    TFolderListing listed = ListPictureFolder(folder);
    const double listingMs = Ms(listing);
    // The headers of the first pictures, read on the same worker after the listing.
    QElapsedTimer headers;
    headers.start();
    ReadListedSizes(listed, TPicturList::HeadersReadUpTo);
    benchmark::DoNotOptimize(listed);
    const double headersMs = Ms(headers);
    state.counters["listing_ms"] = listingMs;
    state.counters["headers_ms"] = headersMs;
    state.counters["listed_ms"] = opening.listed;
    state.counters["filled_ms"] = opening.filled;
    state.counters["first_screen_ms"] = opening.firstScreen;
    state.counters["longest_step_ms"] = opening.longestStep;
    std::printf("10,000 small JPEGs, the window's change of folder: first pictures listed after %.0f ms, all "
                "%lld after %.0f ms, first screen drawn after %.0f ms, longest GUI step %.1f ms (the listing "
                "itself, on a worker thread: %.0f ms, then the first headers: %.0f ms)\n",
        opening.listed, static_cast<long long>(paths.size()), opening.filled, opening.firstScreen,
        opening.longestStep, listingMs, headersMs);
}
BENCHMARK(BM_WindowOpens10000SmallPhotos)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1);

} // namespace

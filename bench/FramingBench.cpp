// The "face" framing's cost. A 12-megapixel photo is made at start: a real face (faces94, scaled up six
// times) in a 4000 x 3000 scene of smooth shapes and grain, written as a JPEG of quality 90. Figures:
//   BM_FaceAgainstFullDecode12MP  FrameFile with "face" against LoadPicture (the full libjpeg-turbo decode)
//                                 of the same file in the same loop; the target is a ratio of at most 2
//   BM_FaceAgainstFit100          "face" against "fit" on a 100 x 100 picture; the target is at most 30 ms
//                                 more
//   BM_Detect, BM_Landmarks       dlib's scan alone at 640 x 480 and at the 12-megapixel photo's scan size,
//                                 and the 68 landmarks of one face
// Before the benchmarks, main loads the landmark model once and prints the time and the resident memory
// (VmRSS) it adds.

#include "input/FaceDetector.h"
#include "input/Framing.h"
#include "pictures/PictureDecoder.h"
#include "pictures/PictureFiles.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPainter>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

QString FacesFolder()
{
    const char* root = std::getenv("MIRAVA_TESTDATA");
    return QString::fromLocal8Bit(root && *root ? root : MIRAVA_BENCH_TESTDATA)
        + QStringLiteral("/faces-real/faces94");
}

QImage Face()
{
    static const QImage face = LoadPicture(FacesFolder() + QStringLiteral("/anpage_1.jpg"));
    return face;
}

// Smooth coloured waves, hard-edged blocks and a grain of +-6 levels.
QImage Scene(int width, int height)
{
    QImage scene(width, height, QImage::Format_RGB888);
    quint32 state = 2463534242u;
    for (int y = 0; y < height; ++y) {
        uchar* line = scene.scanLine(y);
        for (int x = 0; x < width; ++x) {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            const int grain = int(state % 13) - 6;
            const bool block = ((x / 230 + y / 170) % 5) == 0;
            for (int c = 0; c < 3; ++c) {
                const double wave = 50 * std::sin(x * 0.0021 * (c + 1)) + 40 * std::cos(y * 0.0033 * (3 - c));
                line[3 * x + c] = uchar(std::clamp(int(120 + wave + grain + (block ? 45 : 0)), 0, 255));
            }
        }
    }
    return scene;
}

const QTemporaryDir& Folder()
{
    static const QTemporaryDir folder;
    return folder;
}

const QString& TwelveMegapixelPhoto()
{
    static const QString path = [] {
        QImage photo = Scene(4000, 3000);
        QPainter painter(&photo);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(QRect(1500, 800, Face().width() * 6, Face().height() * 6), Face());
        painter.end();
        return WriteFile(Folder(), QStringLiteral("photo12mp.jpg"), EncodeJpeg(photo, TJpegOptions { 90 }));
    }();
    return path;
}

QImage Grey(const QImage& picture)
{
    return picture.convertToFormat(QImage::Format_Grayscale8);
}

void BM_FaceAgainstFullDecode12MP(benchmark::State& state)
{
    const TFramer framer;
    const QString& path = TwelveMegapixelPhoto();
    if (!framer.FrameFile(path, TFraming::Face).FaceFound)
        state.SkipWithError("no face found in the 12-megapixel photo");
    qint64 decode = 0, face = 0;
    QElapsedTimer timer;
    for (auto _ : state) {
        timer.start();
        benchmark::DoNotOptimize(LoadPicture(path));
        decode += timer.nsecsElapsed();
        timer.start();
        benchmark::DoNotOptimize(framer.FrameFile(path, TFraming::Face));
        face += timer.nsecsElapsed();
    }
    const double n = double(state.iterations());
    state.counters["decode_ms"] = decode / n / 1e6;
    state.counters["face_ms"] = face / n / 1e6;
    state.counters["ratio"] = double(face) / double(decode);
    state.counters["file_MB"] = QFileInfo(path).size() / 1e6;
}
BENCHMARK(BM_FaceAgainstFullDecode12MP)->Unit(benchmark::kMillisecond)->Iterations(10);

void BM_FaceAgainstFit100(benchmark::State& state)
{
    const TFramer framer;
    const QImage picture = Face().scaled(100, 100, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    if (!framer.Frame(picture, TFraming::Face).FaceFound)
        state.SkipWithError("no face found in the 100 x 100 picture");
    qint64 fit = 0, face = 0;
    QElapsedTimer timer;
    for (auto _ : state) {
        timer.start();
        benchmark::DoNotOptimize(framer.Frame(picture, TFraming::Fit));
        fit += timer.nsecsElapsed();
        timer.start();
        benchmark::DoNotOptimize(framer.Frame(picture, TFraming::Face));
        face += timer.nsecsElapsed();
    }
    const double n = double(state.iterations());
    state.counters["fit_ms"] = fit / n / 1e6;
    state.counters["face_ms"] = face / n / 1e6;
    state.counters["extra_ms"] = (face - fit) / n / 1e6;
}
BENCHMARK(BM_FaceAgainstFit100)->Unit(benchmark::kMillisecond)->Iterations(50);

// The scan alone: 640 x 480 (the face placed in a scene of that size) and the 12-megapixel photo's copy
// of 1000 x 750.
void BM_Detect(benchmark::State& state)
{
    QImage picture;
    if (state.range(0) == 640) {
        picture = Scene(640, 480);
        QPainter(&picture).drawImage(QPoint(230, 140), Face());
    } else {
        picture = DecodeJpeg(
            *[] {
                QFile file(TwelveMegapixelPhoto());
                file.open(QIODevice::ReadOnly);
                static QByteArray data = file.readAll();
                return &data;
            }(),
            QStringLiteral("photo12mp.jpg"), QSize(FaceScanSide, FaceScanSide));
    }
    const QImage grey = Grey(picture);
    const auto detector = SharedFaceDetector();
    if (detector->Detect(grey).empty())
        state.SkipWithError("no face found");
    for (auto _ : state)
        benchmark::DoNotOptimize(detector->Detect(grey));
    state.SetLabel(QStringLiteral("%1 x %2").arg(grey.width()).arg(grey.height()).toStdString());
}
BENCHMARK(BM_Detect)->Arg(640)->Arg(1000)->Unit(benchmark::kMillisecond)->Iterations(10);

void BM_Landmarks(benchmark::State& state)
{
    const QImage grey = Grey(Face());
    const auto detector = SharedFaceDetector();
    const std::vector<TFaceBox> faces = detector->Detect(grey);
    if (faces.empty())
        return state.SkipWithError("no face found");
    for (auto _ : state)
        benchmark::DoNotOptimize(detector->Shape(grey, faces.front().Box));
}
BENCHMARK(BM_Landmarks)->Unit(benchmark::kMillisecond)->Iterations(50);

long ResidentKilobytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').front().toLong();
    }
    return -1;
}

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    if (!QFile::exists(FacesFolder() + QStringLiteral("/anpage_1.jpg"))) {
        std::fprintf(
            stderr, "The faces of %s are missing (set MIRAVA_TESTDATA)\n", qPrintable(FacesFolder()));
        return 1;
    }
    Face();
    const long before = ResidentKilobytes();
    QElapsedTimer timer;
    timer.start();
    SharedFaceDetector()->Prepare();
    const qint64 loadMs = timer.elapsed();
    const long after = ResidentKilobytes();
    std::printf("Face detector and landmark model: loaded in %lld ms; VmRSS %.1f MB before, %.1f MB after "
                "(+%.1f MB)\n",
        static_cast<long long>(loadMs), before / 1024.0, after / 1024.0, (after - before) / 1024.0);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

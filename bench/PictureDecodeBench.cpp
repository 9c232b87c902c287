// Thumbnail decode of one 12-megapixel JPEG against a full decode with QImageReader followed by
// a smooth scale, as a thumbnail view without reduced decoding would do it.

#include "pictures/PictureDecoder.h"
#include "pictures/PictureFiles.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QImageReader>
#include <QTemporaryDir>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <cmath>
#include <cstdio>
#include <map>
#include <vector>

// A photo-like picture: smooth shapes and gradients, a few hard edges and a grain of +-`grain`
// levels in every pixel. The grain decides the file size: with 8 a 12-megapixel picture takes
// about 2.6 MB at quality 88 (a typical camera file), with 2 about 1.1 MB (a smooth portrait).
QImage PhotoLikePicture(int width, int height, int seed, int grain)
{
    QImage image(width, height, QImage::Format_RGB888);
    std::vector<float> waveX(size_t(width) * 3), waveY(size_t(height) * 3);
    for (int c = 0; c < 3; ++c) {
        const double fx = 0.002 * (c + 1 + seed % 5), fy = 0.003 * (3 - c + seed % 3);
        for (int x = 0; x < width; ++x)
            waveX[size_t(x) * 3 + c] = float(50 * std::sin(x * fx + seed) + 20 * std::sin(x * fx * 7.3 + c));
        for (int y = 0; y < height; ++y)
            waveY[size_t(y) * 3 + c]
                = float(45 * std::sin(y * fy + 2 * seed) + 15 * std::sin(y * fy * 5.1 + c));
    }
    quint32 state = quint32(seed) * 2654435761u + 1;
    for (int y = 0; y < height; ++y) {
        uchar* line = image.scanLine(y);
        for (int x = 0; x < width; ++x) {
            state = state * 1664525u + 1013904223u;
            const int noise = int((state >> 16) % quint32(2 * grain + 1)) - grain; // the same in all channels
            const bool block = ((x / 250 + y / 180 + seed) % 7) == 0; // hard-edged objects
            for (int c = 0; c < 3; ++c) {
                const float value
                    = 128 + waveX[size_t(x) * 3 + c] + waveY[size_t(y) * 3 + c] + noise + (block ? 40 : 0);
                line[3 * x + c] = uchar(std::clamp(int(value), 0, 255));
            }
        }
    }
    return image;
}

namespace {

const QTemporaryDir& BenchFolder()
{
    static QTemporaryDir dir;
    return dir;
}

// The 12-megapixel test file for a grain level (see PhotoLikePicture), made once per run.
const QString& TwelveMegapixelJpeg(int grain)
{
    static std::map<int, QString> paths;
    QString& path = paths[grain];
    if (path.isEmpty())
        path = WriteFile(BenchFolder(), QStringLiteral("photo12mp-grain%1.jpg").arg(grain),
            EncodeJpeg(PhotoLikePicture(4000, 3000, 1, grain),
                TJpegOptions { 88, TJpegColours::Rgb, false, false }));
    return path;
}

const QSize ThumbnailBox(100, 100);

QImage ReaderThumbnail(const QString& path)
{
    QImageReader reader(path);
    QImage full = reader.read();
    return full.scaled(
        FitProportional(full.size(), ThumbnailBox, false), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

void BM_ThumbnailDecode12MP(benchmark::State& state)
{
    const QString& path = TwelveMegapixelJpeg(int(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(LoadThumbnail(path, ThumbnailBox));
}
BENCHMARK(BM_ThumbnailDecode12MP)->Arg(8)->Arg(2)->Unit(benchmark::kMillisecond);

void BM_ReaderDecodeAndScale12MP(benchmark::State& state)
{
    const QString& path = TwelveMegapixelJpeg(int(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(ReaderThumbnail(path));
}
BENCHMARK(BM_ReaderDecodeAndScale12MP)->Arg(8)->Arg(2)->Unit(benchmark::kMillisecond);

void BM_FullDecode12MP(benchmark::State& state)
{
    const QString& path = TwelveMegapixelJpeg(int(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(LoadPicture(path));
}
BENCHMARK(BM_FullDecode12MP)->Arg(8)->Arg(2)->Unit(benchmark::kMillisecond);

void BM_HeaderSize12MP(benchmark::State& state)
{
    const QString& path = TwelveMegapixelJpeg(int(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(ReadPictureSize(path));
}
BENCHMARK(BM_HeaderSize12MP)->Arg(8)->Unit(benchmark::kMicrosecond);

// Both ways measured alternately in one run; the counter is how many times faster the
// thumbnail decode is (the target is at least 4).
void BM_ThumbnailSpeedup12MP(benchmark::State& state)
{
    const QString& path = TwelveMegapixelJpeg(int(state.range(0)));
    double thumbnailTotal = 0, readerTotal = 0;
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        benchmark::DoNotOptimize(LoadThumbnail(path, ThumbnailBox));
        thumbnailTotal += double(timer.nsecsElapsed());
        timer.restart();
        benchmark::DoNotOptimize(ReaderThumbnail(path));
        readerTotal += double(timer.nsecsElapsed());
    }
    const double iterations = double(state.iterations());
    state.counters["thumbnail_ms"] = thumbnailTotal / iterations / 1e6;
    state.counters["reader_ms"] = readerTotal / iterations / 1e6;
    state.counters["speedup"] = readerTotal / thumbnailTotal;
    state.counters["file_mb"] = double(QFileInfo(path).size()) / 1e6;
    std::printf("12-megapixel JPEG, grain %d (%.1f MB): thumbnail decode %.1f ms, QImageReader decode and "
                "scale %.1f ms, %.1fx faster\n",
        int(state.range(0)), double(QFileInfo(path).size()) / 1e6, thumbnailTotal / iterations / 1e6,
        readerTotal / iterations / 1e6, readerTotal / thumbnailTotal);
}
BENCHMARK(BM_ThumbnailSpeedup12MP)->Arg(8)->Arg(4)->Arg(2)->Unit(benchmark::kMillisecond)->Iterations(8);

} // namespace

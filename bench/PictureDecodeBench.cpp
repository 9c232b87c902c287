// Thumbnail decode of one 12-megapixel JPEG, with and without an embedded EXIF thumbnail, against
// QImageReader with setScaledSize (how viewers built on Qt ask for a thumbnail) on the same file, and
// against a full decode followed by a smooth scale.

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

// The same photo with a 160 x 120 EXIF thumbnail, as cameras write it.
const QString& TwelveMegapixelCameraJpeg()
{
    static QString path;
    if (path.isEmpty()) {
        const QByteArray photo = EncodeJpeg(
            PhotoLikePicture(4000, 3000, 1, 8), TJpegOptions { 88, TJpegColours::Rgb, false, false });
        const QByteArray thumbnail = EncodeJpeg(PhotoLikePicture(160, 120, 1, 2), TJpegOptions { 80 });
        path
            = WriteFile(BenchFolder(), QStringLiteral("camera12mp.jpg"), WithExifThumbnail(photo, thumbnail));
    }
    return path;
}

const QSize ThumbnailBox(100, 100);

// The peer: QImageReader asked for the thumbnail's size (its JPEG reader scales while decoding).
QImage ScaledReaderThumbnail(const QString& path)
{
    QImageReader reader(path);
    reader.setScaledSize(FitProportional(reader.size(), ThumbnailBox, false));
    return reader.read();
}

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

// Both ways measured alternately in one run, each against QImageReader with setScaledSize on the same
// file. `ours` is the list's thumbnail decode.
void CompareWithScaledReader(benchmark::State& state, const QString& path, const char* title)
{
    double thumbnailTotal = 0, readerTotal = 0;
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        benchmark::DoNotOptimize(LoadThumbnail(path, ThumbnailBox));
        thumbnailTotal += double(timer.nsecsElapsed());
        timer.restart();
        benchmark::DoNotOptimize(ScaledReaderThumbnail(path));
        readerTotal += double(timer.nsecsElapsed());
    }
    const double iterations = double(state.iterations());
    state.counters["thumbnail_ms"] = thumbnailTotal / iterations / 1e6;
    state.counters["reader_ms"] = readerTotal / iterations / 1e6;
    state.counters["speedup"] = readerTotal / thumbnailTotal;
    std::printf("%s (%.1f MB): thumbnail %.2f ms, QImageReader + setScaledSize %.2f ms, %.1fx faster\n",
        title, double(QFileInfo(path).size()) / 1e6, thumbnailTotal / iterations / 1e6,
        readerTotal / iterations / 1e6, readerTotal / thumbnailTotal);
}

void BM_ThumbnailVsScaledReader12MP(benchmark::State& state)
{
    CompareWithScaledReader(state, TwelveMegapixelJpeg(int(state.range(0))),
        qPrintable(QStringLiteral("12-megapixel JPEG without EXIF thumbnail, grain %1").arg(state.range(0))));
}
BENCHMARK(BM_ThumbnailVsScaledReader12MP)->Arg(8)->Arg(2)->Unit(benchmark::kMillisecond)->Iterations(10);

void BM_ExifThumbnailVsScaledReader12MP(benchmark::State& state)
{
    CompareWithScaledReader(
        state, TwelveMegapixelCameraJpeg(), "12-megapixel JPEG with a 160 x 120 EXIF thumbnail");
}
BENCHMARK(BM_ExifThumbnailVsScaledReader12MP)->Unit(benchmark::kMillisecond)->Iterations(20);

} // namespace

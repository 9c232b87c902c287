#include "input/Lighting.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <vector>

namespace {

using THistogram = std::array<int, 256>;
using TMapping = std::array<uint8_t, 256>;

bool Counts(const QImage& inside, int x, int y)
{
    return inside.isNull() || inside.constScanLine(y)[x] != 0;
}

THistogram HistogramOf(const QImage& grey, const QImage& inside, const QRect& area)
{
    THistogram histogram {};
    for (int y = area.top(); y <= area.bottom(); ++y) {
        const uchar* line = grey.constScanLine(y);
        for (int x = area.left(); x <= area.right(); ++x) {
            if (Counts(inside, x, y))
                ++histogram[line[x]];
        }
    }
    return histogram;
}

// Maps each grey level to its place in the cumulative histogram, the darkest present level to 0 and the
// brightest to 255. Without any value, or with one level only, every level keeps its value.
TMapping EqualisingMapping(const THistogram& histogram)
{
    TMapping mapping;
    for (int level = 0; level < 256; ++level)
        mapping[size_t(level)] = uint8_t(level);
    int total = 0;
    for (const int count : histogram)
        total += count;
    const int first = int(
        std::find_if(histogram.begin(), histogram.end(), [](int c) { return c > 0; }) - histogram.begin());
    if (total == 0 || histogram[size_t(first)] == total)
        return mapping;
    const int below = histogram[size_t(first)];
    int cumulative = 0;
    for (int level = 0; level < 256; ++level) {
        cumulative += histogram[size_t(level)];
        const double share = std::max(0, cumulative - below) / double(total - below);
        mapping[size_t(level)] = uint8_t(std::lround(255 * share));
    }
    return mapping;
}

void Apply(QImage& grey, const QImage& inside, const TMapping& mapping)
{
    for (int y = 0; y < grey.height(); ++y) {
        uchar* line = grey.scanLine(y);
        for (int x = 0; x < grey.width(); ++x) {
            if (Counts(inside, x, y))
                line[x] = mapping[line[x]];
        }
    }
}

// The level below which `share` of the counted values lie.
int Percentile(const THistogram& histogram, int total, double share)
{
    const double wanted = share * total;
    int cumulative = 0;
    for (int level = 0; level < 256; ++level) {
        cumulative += histogram[size_t(level)];
        if (cumulative > wanted)
            return level;
    }
    return 255;
}

TMapping StretchingMapping(const THistogram& histogram)
{
    TMapping mapping;
    int total = 0;
    for (const int count : histogram)
        total += count;
    const int low = Percentile(histogram, total, 0.01);
    const int high = Percentile(histogram, total, 0.99);
    for (int level = 0; level < 256; ++level) {
        mapping[size_t(level)] = high <= low
            ? uint8_t(level)
            : uint8_t(std::clamp<long>(std::lround(255.0 * (level - low) / (high - low)), 0, 255));
    }
    return mapping;
}

constexpr int ClaheTiles = 8; // per side
constexpr double ClaheClipLimit = 4.0; // a level may hold at most this many times its even share

// The tile's histogram clipped at ClaheClipLimit times an even spread, the clipped counts shared out evenly
// over all levels, then equalised.
TMapping ClaheMapping(THistogram histogram)
{
    int total = 0;
    for (const int count : histogram)
        total += count;
    if (total == 0)
        return EqualisingMapping(histogram);
    const int limit = std::max(1, int(ClaheClipLimit * total / 256));
    int excess = 0;
    for (int& count : histogram) {
        excess += std::max(0, count - limit);
        count = std::min(count, limit);
    }
    for (int level = 0; level < 256; ++level)
        histogram[size_t(level)] += excess / 256 + (level < excess % 256 ? 1 : 0);
    TMapping mapping;
    int cumulative = 0;
    for (int level = 0; level < 256; ++level) {
        cumulative += histogram[size_t(level)];
        mapping[size_t(level)] = uint8_t(std::lround(255.0 * cumulative / total));
    }
    return mapping;
}

void Clahe(QImage& grey, const QImage& inside)
{
    const int width = grey.width(), height = grey.height();
    if (width < ClaheTiles || height < ClaheTiles)
        return Apply(grey, inside, EqualisingMapping(HistogramOf(grey, inside, grey.rect())));
    std::array<TMapping, ClaheTiles * ClaheTiles> mappings;
    const auto tileLeft = [&](int column) { return column * width / ClaheTiles; };
    const auto tileTop = [&](int row) { return row * height / ClaheTiles; };
    for (int row = 0; row < ClaheTiles; ++row) {
        for (int column = 0; column < ClaheTiles; ++column) {
            const QRect tile(QPoint(tileLeft(column), tileTop(row)),
                QPoint(tileLeft(column + 1) - 1, tileTop(row + 1) - 1));
            mappings[size_t(row * ClaheTiles + column)] = ClaheMapping(HistogramOf(grey, inside, tile));
        }
    }
    // Each pixel blends the mappings of the four tiles whose centres surround it.
    const auto place = [](double position, double tileSize, int& first, double& weight) {
        const double t = std::clamp(position / tileSize - 0.5, 0.0, ClaheTiles - 1.0);
        first = std::min(int(t), ClaheTiles - 2);
        weight = t - first;
    };
    const QImage original = grey.copy();
    for (int y = 0; y < height; ++y) {
        int row;
        double wy;
        place(y + 0.5, double(height) / ClaheTiles, row, wy);
        const uchar* in = original.constScanLine(y);
        uchar* out = grey.scanLine(y);
        for (int x = 0; x < width; ++x) {
            if (!Counts(inside, x, y))
                continue;
            int column;
            double wx;
            place(x + 0.5, double(width) / ClaheTiles, column, wx);
            const auto at = [&](int r, int c) { return double(mappings[size_t(r * ClaheTiles + c)][in[x]]); };
            const double top = at(row, column) * (1 - wx) + at(row, column + 1) * wx;
            const double bottom = at(row + 1, column) * (1 - wx) + at(row + 1, column + 1) * wx;
            out[x] = uint8_t(std::lround(top * (1 - wy) + bottom * wy));
        }
    }
}

// The band-pass lighting, on the counted pixels; the others are filled with the counted ones' mean first, so
// that the edge of the picture is no feature.
constexpr double BandGamma = 0.2;
constexpr double BandInnerBlur = 1.0; // sigma of the two blurs, in pixels
constexpr double BandOuterBlur = 2.0;
constexpr double BandEqualisingPower = 0.1;
constexpr double BandLimit = 10.0; // values beyond this many times the typical one are squashed
constexpr double BandSpread = 6.0;

std::vector<double> Blurred(const std::vector<double>& values, int width, int height, double sigma)
{
    const int radius = int(std::ceil(3 * sigma));
    std::vector<double> kernel(size_t(2 * radius + 1));
    double sum = 0;
    for (int i = -radius; i <= radius; ++i)
        sum += kernel[size_t(i + radius)] = std::exp(-i * i / (2 * sigma * sigma));
    for (double& weight : kernel)
        weight /= sum;
    std::vector<double> across(values.size()), result(values.size());
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            double value = 0;
            for (int i = -radius; i <= radius; ++i)
                value += kernel[size_t(i + radius)]
                    * values[size_t(y * width + std::clamp(x + i, 0, width - 1))];
            across[size_t(y * width + x)] = value;
        }
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            double value = 0;
            for (int i = -radius; i <= radius; ++i)
                value += kernel[size_t(i + radius)]
                    * across[size_t(std::clamp(y + i, 0, height - 1) * width + x)];
            result[size_t(y * width + x)] = value;
        }
    return result;
}

// Divides the values by their typical size, measured robustly (a mean of small powers), leaving out values
// larger than `limit` times it when a limit is given.
void EqualiseContrast(std::vector<double>& values, const std::vector<uint8_t>& counted, double limit)
{
    double sum = 0;
    int count = 0;
    for (size_t i = 0; i < values.size(); ++i) {
        if (!counted[i])
            continue;
        const double size = std::abs(values[i]);
        sum += std::pow(limit > 0 ? std::min(limit, size) : size, BandEqualisingPower);
        ++count;
    }
    const double typical = count == 0 ? 0.0 : std::pow(sum / count, 1 / BandEqualisingPower);
    if (!(typical > 1e-12))
        return;
    for (double& value : values)
        value /= typical;
}

void Bandpass(QImage& grey, const QImage& inside)
{
    const int width = grey.width(), height = grey.height();
    std::vector<double> values(size_t(width) * size_t(height));
    std::vector<uint8_t> counted(values.size());
    double sum = 0;
    int count = 0;
    for (int y = 0; y < height; ++y) {
        const uchar* line = grey.constScanLine(y);
        for (int x = 0; x < width; ++x) {
            const size_t i = size_t(y * width + x);
            counted[i] = Counts(inside, x, y);
            values[i] = std::pow(line[x] / 255.0 + 1e-3, BandGamma);
            if (counted[i]) {
                sum += values[i];
                ++count;
            }
        }
    }
    if (count == 0)
        return;
    for (size_t i = 0; i < values.size(); ++i) {
        if (!counted[i])
            values[i] = sum / count;
    }
    const std::vector<double> fine = Blurred(values, width, height, BandInnerBlur);
    const std::vector<double> coarse = Blurred(values, width, height, BandOuterBlur);
    for (size_t i = 0; i < values.size(); ++i)
        values[i] = fine[i] - coarse[i];
    EqualiseContrast(values, counted, 0.0);
    EqualiseContrast(values, counted, BandLimit);
    for (int y = 0; y < height; ++y) {
        uchar* line = grey.scanLine(y);
        for (int x = 0; x < width; ++x) {
            const size_t i = size_t(y * width + x);
            if (counted[i])
                line[x] = uint8_t(std::clamp<long>(
                    std::lround(128 + 127 * std::tanh(values[i] / BandLimit * BandSpread)), 0, 255));
        }
    }
}

} // namespace

QString LightingName(TLighting lighting)
{
    switch (lighting) {
    case TLighting::None:
        return QStringLiteral("none");
    case TLighting::Equalise:
        return QStringLiteral("equalise");
    case TLighting::Clahe:
        return QStringLiteral("clahe");
    case TLighting::Contrast:
        return QStringLiteral("contrast");
    case TLighting::Bandpass:
        return QStringLiteral("bandpass");
    }
    return QStringLiteral("none");
}

std::optional<TLighting> LightingFromName(QStringView name)
{
    const QStringView trimmed = name.trimmed();
    for (const TLighting lighting : { TLighting::None, TLighting::Equalise, TLighting::Clahe,
             TLighting::Contrast, TLighting::Bandpass }) {
        if (trimmed.compare(LightingName(lighting), Qt::CaseInsensitive) == 0)
            return lighting;
    }
    return std::nullopt;
}

void NormaliseLighting(QImage& grey, TLighting lighting, const QImage& inside)
{
    if (grey.isNull() || lighting == TLighting::None)
        return;
    if (grey.format() != QImage::Format_Grayscale8)
        grey = grey.convertToFormat(QImage::Format_Grayscale8);
    const QImage mask
        = inside.size() == grey.size() && inside.format() == QImage::Format_Grayscale8 ? inside : QImage();
    switch (lighting) {
    case TLighting::None:
        break;
    case TLighting::Equalise:
        Apply(grey, mask, EqualisingMapping(HistogramOf(grey, mask, grey.rect())));
        break;
    case TLighting::Clahe:
        Clahe(grey, mask);
        break;
    case TLighting::Contrast:
        Apply(grey, mask, StretchingMapping(HistogramOf(grey, mask, grey.rect())));
        break;
    case TLighting::Bandpass:
        Bandpass(grey, mask);
        break;
    }
}

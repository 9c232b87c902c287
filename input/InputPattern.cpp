#include "input/InputPattern.h"

#include <algorithm>
#include <cmath>

TInputPattern SampleCorner(const QImage& picture)
{
    TInputPattern pattern(size_t(SampleSize) * SampleSize, 255.0f);
    if (picture.isNull())
        return pattern;
    const QImage rgb = picture.format() == QImage::Format_RGB888
        ? picture
        : picture.convertToFormat(QImage::Format_RGB888);
    const int width = std::min(rgb.width(), SampleSize);
    const int height = std::min(rgb.height(), SampleSize);
    for (int y = 0; y < height; ++y) {
        const uchar* line = rgb.constScanLine(y);
        float* out = pattern.data() + size_t(y) * SampleSize;
        for (int x = 0; x < width; ++x) {
            const uchar* pixel = line + 3 * x;
            out[x] = float((int(pixel[0]) + int(pixel[1]) + int(pixel[2])) / 3);
        }
    }
    return pattern;
}

namespace {
uint8_t ByteOf(float value)
{
    if (!(value > 0.0f)) // NaN too
        return 0;
    return value >= 255.0f ? uint8_t(255) : uint8_t(std::lround(value));
}
} // namespace

TPatternBytes PatternBytes(const TInputPattern& pattern)
{
    TPatternBytes bytes(pattern.size());
    std::transform(pattern.begin(), pattern.end(), bytes.begin(), ByteOf);
    return bytes;
}

TInputPattern PatternValues(const TPatternBytes& bytes)
{
    return TInputPattern(bytes.begin(), bytes.end());
}

QImage PatternImage(const TInputPattern& pattern)
{
    QImage image(SampleSize, SampleSize, QImage::Format_Grayscale8);
    for (int y = 0; y < SampleSize; ++y) {
        uchar* line = image.scanLine(y);
        for (int x = 0; x < SampleSize; ++x) {
            const size_t i = size_t(y) * SampleSize + size_t(x);
            line[x] = i < pattern.size() ? ByteOf(pattern[i]) : uint8_t(255);
        }
    }
    return image;
}

#pragma once

// What the network is given for a picture: SampleSize x SampleSize grey values 0..255 in row order, each a
// whole number. How a picture becomes those values is its framing (Framing.h).

#include <QImage>
#include <cstdint>
#include <vector>

constexpr int SampleSize = 100; // the sampled window is SampleSize x SampleSize
using TInputPattern = std::vector<float>; // SampleSize*SampleSize grey values, row order
// The network cuts the values 0..255 into this many equal intervals; a value counts only by its interval.
constexpr int PatternLevels = 26;
// The middle of the interval that holds mid-grey (128).
constexpr double MidGreyIntervalCentre = (int(128 * PatternLevels / 255.0) + 0.5) * 255.0 / PatternLevels;
// The same values as bytes, as a memory keeps them beside its slots.
using TPatternBytes = std::vector<uint8_t>;

// Grey value (R+G+B) div 3 of the top-left SampleSize x SampleSize pixels in row order; a position outside
// the picture reads as 255. Works for any picture format.
TInputPattern SampleCorner(const QImage& picture);

// A pattern's values as bytes (each clamped to 0..255 and rounded) and back.
TPatternBytes PatternBytes(const TInputPattern& pattern);
TInputPattern PatternValues(const TPatternBytes& bytes);

// The window as the network receives it: a SampleSize x SampleSize grey picture of the pattern (values
// outside 0..255 clamped).
QImage PatternImage(const TInputPattern& pattern);

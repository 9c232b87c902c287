#pragma once

// Lighting normalisation of a framed face, so that the same face under brighter, dimmer or flatter light
// gives closer grey values.
//   none      the grey values as sampled
//   equalise  histogram equalisation: the values spread so that each grey level is about equally common
//   clahe     the same in each of 8 x 8 tiles, each tile's histogram clipped (contrast-limited adaptive
//             equalisation), the tiles' mappings blended smoothly from tile to tile
//   contrast  a linear stretch: the darkest and the brightest 1 % of the values become 0 and 255
//   bandpass  what a face shows rather than how it is lit: the values' gamma lowered (shadows lifted), a band
//             of detail kept (a difference of two blurs, which drops the slow change of light across the
//             face), its contrast equalised robustly and squashed around mid-grey

#include <QImage>
#include <QString>
#include <QStringView>
#include <optional>

enum class TLighting { None, Equalise, Clahe, Contrast, Bandpass };

// "none", "equalise", "clahe", "contrast", "bandpass".
QString LightingName(TLighting lighting);
// The lighting of a name as LightingName gives it (letter case and white space around it ignored).
std::optional<TLighting> LightingFromName(QStringView name);

// Normalises the lighting of a grey picture (QImage::Format_Grayscale8) in place. Only the pixels where
// `inside` (Format_Grayscale8 of the same size, when given) is not 0 count and change; the others stay.
void NormaliseLighting(QImage& grey, TLighting lighting, const QImage& inside = QImage());

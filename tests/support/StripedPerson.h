#pragma once

#include <QColor>
#include <QImage>

// A 100 x 100 picture of its own for each person: stripes of a person-specific width and brightness,
// far enough apart that the network tells up to seven such persons apart.
inline QImage StripedPerson(int person)
{
    QImage image(100, 100, QImage::Format_RGB888);
    for (int y = 0; y < 100; ++y) {
        for (int x = 0; x < 100; ++x) {
            const bool stripe = ((x + y * (person % 3)) / (3 + person)) % 2 == 0;
            const int grey = stripe ? 20 + 45 * person : 250 - 30 * person;
            image.setPixelColor(x, y, QColor(grey, grey, grey));
        }
    }
    return image;
}

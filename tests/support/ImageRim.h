#pragma once

// Pictures drawn at a size rather than enlarged from a smaller one.
#include <QImage>

namespace kelvora::test {

// Pixels of neither of two colours: the antialiased rim of ink drawn on a
// flat ground. Drawn at k times the size the rim is about k times as long
// and as narrow as at 100 %, about k times as many pixels; a picture
// enlarged from 100 % has a rim k times as wide too, k squared times as many.
inline int rimPixels(const QImage& image, QRgb ground, QRgb ink) {
    int rim = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = image.pixel(x, y) & 0xFFFFFF;
            rim += pixel != (ground & 0xFFFFFF) && pixel != (ink & 0xFFFFFF) ? 1 : 0;
        }
    }
    return rim;
}

} // namespace kelvora::test

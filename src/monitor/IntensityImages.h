#pragma once

#include <QColor>
#include <QIcon>
#include <QImage>
#include <QSize>
#include <QString>

namespace kelvora {

// The twenty class images, bitmaps 130 to 149: 130 + class on the JMA scale,
// 140 + class on the Mercalli scale, the same in every language. Each is a
// flat background with the class's label large, bold and centred.
inline constexpr int kFirstJmaImage = 130;
inline constexpr int kFirstMercalliImage = 140;
inline constexpr int kLastIntensityImage = 149;
inline constexpr QSize kIntensityImageSize{96, 80};

struct IntensityImageStyle {
    QString label; // "0" ... "7", "I" ... "X+"
    QColor background;
    QColor labelColour;
};
// The look of bitmap `bitmapId`; an empty label for an id outside 130..149.
IntensityImageStyle intensityImageStyle(int bitmapId);

// 96 x 80 times `percent` / 100 (the face's size: 100, 150, 200, 300), the
// label drawn at that size, Format_RGB32 (opaque, 24 bits of colour); a null
// image for an id outside 130..149. Needs a QGuiApplication for its font.
QImage intensityImage(int bitmapId, int percent = 100);

// Icon 128, the program's own: a seismogram on the instrument's blue, in
// 16, 32, 48, 64, 128 and 256 pixels.
QIcon applicationIcon();

} // namespace kelvora

#pragma once

#include <QColor>
#include <QImage>
#include <QRect>
#include <QSize>
#include <QString>

#include <array>

namespace kelvora {

// The instrument face behind the main window's controls, 410 x 172 pixels:
// on the base colour, white rounded boxes with captions in the interface
// language. The class image and the ten read-outs are drawn by the window
// on top, over blank white spots of these boxes.
inline constexpr QSize kBackgroundSize{410, 172};
inline constexpr QRgb kBackgroundBase = 0x9FC3F4; // the default backgroundColour

// Where the window puts its controls, in client pixels: the class image
// (control 1000) and the read-outs 1001 to 1010. The background leaves
// each of them blank white.
struct FaceSpots {
    QRect image;
    std::array<QRect, 10> fields; // 1001 ... 1010
};
const FaceSpots& faceSpots();

// Bitmap 129 of the language, drawn by the program (captions from
// res/strings.json, "background"). Format_RGB32. Needs a QGuiApplication
// for its fonts.
QImage builtInBackground(int languageIndex);

// Where the language's background file lies: string 40001
// (".\Images\Language\<folder>\kelvora_bg.bmp") made native, below
// workingFolder.
QString backgroundPath(int languageIndex, const QString& workingFolder);

// The background the window shows: the file of backgroundPath when it loads
// as an image (any format Qt reads; one of another size is scaled to 410 x
// 172, transparency goes onto the base colour), else builtInBackground.
// Always 410 x 172, Format_RGB32.
QImage loadBackground(int languageIndex, const QString& workingFolder);

} // namespace kelvora

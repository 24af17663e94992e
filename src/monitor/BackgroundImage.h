#pragma once

#include <QColor>
#include <QFontMetricsF>
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

// The face's size in percent (100, 150, 200, 300): a rectangle of the 100 %
// face scaled, its top-left corner rounded down and its size up. A control
// never loses a part of its rectangle, rectangles that touch at 100 % still
// meet, and a rectangle's size does not depend on where it lies: the class
// image made for a size fills its frame.
QRect scaledFaceRect(const QRect& rect, int percent);
QSize scaledFaceSize(const QSize& size, int percent);

// What a read-out's font needs for its line: its line box, and the ink of
// its digits above the baseline and of "g" below, from the glyphs' outlines.
struct ReadoutInk {
    qreal lineHeight = 0;
    qreal ascent = 0;
    qreal digitHeight = 0;
    qreal descenderDepth = 0;
};
ReadoutInk readoutInk(const QFont& font);

// Where a read-out's text sits (its baseline, in the coordinates of
// `field`): the line box centred, as a static text centres it. When the line
// box is taller than the read-out, the baseline moves only as far as needed
// to keep the digits and, for a text with descenders (the "g" of "gal"), the
// descenders inside. Row labels and units beside a read-out use the same
// line.
qreal readoutBaseline(const QRectF& field, const ReadoutInk& ink, bool descenders);
bool hasDescenders(const QString& text);

// Bitmap 129 of the language, drawn by the program (captions from
// res/strings.json, "background") at `percent` of 410 x 172: boxes and
// captions drawn at that size, not enlarged. Format_RGB32. Needs a
// QGuiApplication for its fonts.
QImage builtInBackground(int languageIndex, int percent = 100);

// Where the language's background file lies: string 40001
// (".\Images\Language\<folder>\kelvora_bg.bmp") made native, below
// workingFolder.
QString backgroundPath(int languageIndex, const QString& workingFolder);

// The background the window shows at `percent`: the file of backgroundPath
// when it loads as an image (any format Qt reads; one of another size is
// resampled smoothly to the face's size, transparency goes onto the base
// colour), else builtInBackground. A file that is the built-in picture at
// 100 % (the runtime folder's own) gives the built-in one drawn at the size.
// Always 410 x 172 times the scale, Format_RGB32.
QImage loadBackground(int languageIndex, const QString& workingFolder, int percent = 100);

} // namespace kelvora

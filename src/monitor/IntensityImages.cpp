#include "monitor/IntensityImages.h"

#include "monitor/BackgroundImage.h"

#include <QFont>
#include <QPainter>
#include <QPainterPath>

#include <array>

namespace kelvora {

namespace {

struct Entry {
    const char* label;
    QRgb background;
    bool whiteLabel;
};

// Bitmaps 130 to 149 in order: JMA classes 0 to 9, then Mercalli classes 0 to 9.
constexpr std::array<Entry, 20> kImages = {{
    {"0", 0xFFFFFF, false},   {"1", 0xE6E6E6, false},   {"2", 0xA0E6FF, false},
    {"3", 0xA0FF96, false},   {"4", 0xFAE696, false},   {"5-", 0xF5AA28, true},
    {"5+", 0xF5693C, true},   {"6-", 0xFF3C3C, true},   {"6+", 0xC80032, true},
    {"7", 0x862DB0, true},    {"I", 0xFFFFFF, false},   {"II", 0xBFCCFF, false},
    {"III", 0x9999FF, false}, {"IV", 0x88FFFF, false},  {"V", 0x7DF894, false},
    {"VI", 0xFFFF00, false},  {"VII", 0xFFDD00, false}, {"VIII", 0xFF9100, false},
    {"IX", 0xFF0000, true},   {"X+", 0xBE0000, true},
}};

// The label may fill this much of the 100 % image; the rest is margin.
constexpr int kLabelWidth = 84;
constexpr int kLabelHeight = 62;
constexpr int kLargestLabelPixels = 72;

QFont labelFont(int pixelSize) {
    QFont font;
    font.setFamilies({QStringLiteral("Liberation Sans"), QStringLiteral("Arial"),
                      QStringLiteral("DejaVu Sans")});
    font.setBold(true);
    font.setPixelSize(pixelSize);
    return font;
}

QPainterPath labelPath(const QString& label, int pixelSize) {
    QPainterPath path;
    path.addText(0, 0, labelFont(pixelSize), label);
    return path;
}

// One size for the whole scale, the largest at which its widest label
// fits: the labels of one scale then look alike. Searched at the image's
// own size, so a large face gets a label made for it.
int scalePixelSize(std::size_t first, int percent) {
    const auto scaled = [percent](int pixels) { return (pixels * percent + 50) / 100; };
    for (int size = scaled(kLargestLabelPixels); size > 12; size -= 2) {
        bool fits = true;
        for (std::size_t i = first; i < first + 10 && fits; ++i) {
            const QRectF ink =
                labelPath(QString::fromLatin1(kImages[i].label), size).boundingRect();
            fits = ink.width() <= scaled(kLabelWidth) && ink.height() <= scaled(kLabelHeight);
        }
        if (fits) {
            return size;
        }
    }
    return 12;
}

} // namespace

IntensityImageStyle intensityImageStyle(int bitmapId) {
    if (bitmapId < kFirstJmaImage || bitmapId > kLastIntensityImage) {
        return {};
    }
    const Entry& e = kImages[static_cast<std::size_t>(bitmapId - kFirstJmaImage)];
    return {QString::fromLatin1(e.label), QColor::fromRgb(e.background),
            e.whiteLabel ? QColor(Qt::white) : QColor(Qt::black)};
}

QImage intensityImage(int bitmapId, int percent) {
    const IntensityImageStyle style = intensityImageStyle(bitmapId);
    if (style.label.isEmpty()) {
        return {};
    }
    const QSize size = scaledFaceSize(kIntensityImageSize, percent);
    QImage image(size, QImage::Format_RGB32);
    image.fill(style.background);
    const std::size_t first = bitmapId < kFirstMercalliImage ? 0 : 10;
    const QPainterPath path = labelPath(style.label, scalePixelSize(first, percent));
    // Centre the ink itself, not the text's line box: digits and numerals
    // have no descenders, and "5-" would otherwise sit high.
    const QRectF ink = path.boundingRect();
    const QPointF shift = QRectF(QPointF(0, 0), QSizeF(size)).center() - ink.center();
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(shift);
    painter.fillPath(path, style.labelColour);
    return image;
}

QIcon applicationIcon() {
    QIcon icon;
    for (int size : {16, 32, 48, 64, 128, 256}) {
        icon.addFile(QStringLiteral(":/kelvora/icons/kelvora-%1.png").arg(size), QSize(size, size));
    }
    return icon;
}

} // namespace kelvora

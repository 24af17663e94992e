#include "monitor/BackgroundImage.h"

#include "core/NativePath.h"
#include "monitor/Fonts.h"
#include "output/RegularFile.h"
#include "settings/Resources.h"

#include <QDir>
#include <QFile>
#include <QFont>
#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <fcntl.h>
#include <unistd.h>

namespace kelvora {

namespace {

// The boxes. Each spot of faceSpots() lies inside a box, away from its edge;
// every caption lies where the window repaints the background, beside the
// spots, so no control ever covers one.
constexpr QRect kLeftBox(4, 4, 132, 165);  // title, class image, intensity
constexpr QRect kPgaBox(140, 4, 111, 53);  // PGA
constexpr QRect kPgvBox(140, 61, 111, 42); // PGV
constexpr QRect kAxesBox(255, 4, 152, 99); // the three axes
// Two pixels wider than the others' padding needs: "deg C" ends close to
// its right edge.
constexpr QRect kWeatherBox(140, 107, 118, 54); // temperature and humidity
constexpr QRect kPressureBox(260, 107, 147, 54);
constexpr qreal kBoxRadius = 6.0;
constexpr int kSmallestPixels = 8;

constexpr QRgb kBoxFill = 0xFFFFFF;
constexpr QRgb kBoxEdge = 0x7FA5D8;
constexpr QRgb kCaptionColour = 0x1E3250;
constexpr QRgb kUnitColour = 0x4A5870;

enum class Look { Title, BoxTitle, Label, Unit };

struct Caption {
    FaceCaption text;
    QRect rect;
    Qt::Alignment alignment;
    Look look;
    bool besideGal = false; // beside a read-out ending in " gal", with its descender
};

// The read-outs the window moves to pixel rectangles when it opens; the
// others stay where template 102 puts them.
struct MovedField {
    int control;
    QRect pixels;
};
// The pressures are two pixels wider than the template's: "1013.25" needs them.
constexpr MovedField kMovedFields[] = {
    {1003, QRect(302, 80, 83, 12)},  {1004, QRect(152, 39, 68, 12)},
    {1007, QRect(315, 116, 49, 18)}, {1008, QRect(315, 134, 49, 18)},
    {1009, QRect(152, 85, 68, 12)},  {1010, QRect(81, 125, 50, 28)}};

FaceSpots spotsOfTemplate() {
    const DialogTemplate window = resourceDialog(102, 0);
    FaceSpots spots;
    if (const DialogControl* image = window.control(1000)) {
        spots.image = window.pixelRect(*image);
    }
    for (int control = 1001; control <= 1010; ++control) {
        QRect& spot = spots.fields[static_cast<std::size_t>(control - 1001)];
        if (const DialogControl* c = window.control(control)) {
            spot = window.pixelRect(*c);
        }
        for (const MovedField& moved : kMovedFields) {
            if (moved.control == control) {
                spot = moved.pixels;
            }
        }
    }
    return spots;
}

QRect field(int control) {
    return faceSpots().fields[static_cast<std::size_t>(control - 1001)];
}

// A caption on the row of a read-out: the read-out's height, from x to x + width.
QRect beside(int control, int x, int width) {
    const QRect f = field(control);
    return {x, f.y(), width, f.height()};
}

std::vector<Caption> captions() {
    const auto left = Qt::AlignLeft | Qt::AlignVCenter;
    const auto right = Qt::AlignRight | Qt::AlignVCenter;
    const auto centre = Qt::AlignCenter;
    return {
        // Centred over the class image, above it.
        {FaceCaption::Title, QRect(24, 8, 104, 30), centre, Look::Title},
        // Under the intensity value, flush with its right edge.
        {FaceCaption::Intensity, QRect(28, 154, 103, 13), right, Look::BoxTitle},
        {FaceCaption::Pga, QRect(146, 10, 100, 22), left, Look::BoxTitle},
        {FaceCaption::UnitGal, beside(1004, 223, 26), left, Look::Unit},
        {FaceCaption::Pgv, QRect(146, 64, 100, 18), left, Look::BoxTitle},
        {FaceCaption::UnitVelocity, beside(1009, 223, 26), left, Look::Unit},
        {FaceCaption::Axes, QRect(261, 10, 141, 22), left, Look::BoxTitle},
        {FaceCaption::XAxis, beside(1001, 259, 40), right, Look::Label, true},
        {FaceCaption::YAxis, beside(1002, 259, 40), right, Look::Label, true},
        {FaceCaption::ZAxis, beside(1003, 259, 40), right, Look::Label, true},
        {FaceCaption::Temperature, beside(1005, 145, 45), left, Look::Label},
        {FaceCaption::Humidity, beside(1006, 145, 45), left, Look::Label},
        {FaceCaption::UnitTemperature, beside(1005, 228, 27), left, Look::Unit},
        {FaceCaption::UnitHumidity, beside(1006, 228, 27), left, Look::Unit},
        {FaceCaption::Pressure, beside(1007, 263, 51), left, Look::Label},
        {FaceCaption::SeaLevelPressure, beside(1008, 263, 51), left, Look::Label},
        {FaceCaption::UnitPressure, beside(1007, 366, 38), left, Look::Unit},
        {FaceCaption::UnitPressure, beside(1008, 366, 38), left, Look::Unit},
    };
}

// The language's own glyph forms: its Noto Sans CJK region, or Liberation
// Sans for English.
QFont captionFont(Look look, int languageIndex) {
    QFont font;
    if (languageVariant(languageIndex) == 1) {
        font.setFamilies({QStringLiteral("Liberation Sans"), QStringLiteral("Arial"),
                          cjkFontFamily(languageIndex)});
    } else {
        font.setFamilies({cjkFontFamily(languageIndex), QStringLiteral("Liberation Sans")});
    }
    switch (look) {
    case Look::Title:
        font.setPixelSize(18);
        font.setBold(true);
        break;
    case Look::BoxTitle:
        font.setPixelSize(13);
        font.setBold(true);
        break;
    case Look::Label:
        font.setPixelSize(11);
        break;
    case Look::Unit:
        font.setPixelSize(10);
        break;
    }
    return font;
}

// The captions of one look share one size: the largest at which each fits
// its place, so a long translation makes its whole group smaller rather than
// sticking out of it.
QFont fittedFont(Look look, const std::vector<Caption>& all, int languageIndex) {
    QFont font = captionFont(look, languageIndex);
    for (int size = font.pixelSize(); size > kSmallestPixels; --size) {
        font.setPixelSize(size);
        const QFontMetrics metrics(font);
        bool fits = true;
        for (const Caption& c : all) {
            if (c.look == look &&
                metrics.horizontalAdvance(faceCaption(c.text, languageIndex)) > c.rect.width()) {
                fits = false;
                break;
            }
        }
        if (fits) {
            break;
        }
    }
    return font;
}

// What the read-outs are written in: "MS UI Gothic" 9 pt at 96 dots per
// inch, which the program draws with Noto Sans CJK JP at 12 pixels.
QFont readoutFont() {
    QFont font;
    font.setFamilies({QStringLiteral("Noto Sans CJK JP"), QStringLiteral("Liberation Sans")});
    font.setPixelSize(12);
    return font;
}

// A row label or unit beside a read-out sits on the read-out's baseline,
// whatever its own size. The painter draws at 100 % scaled by `percent`;
// the line is found at the face's size, as the read-out finds it.
void drawOnReadoutLine(QPainter& painter, const Caption& c, const QString& text, int percent) {
    QFont valueFont = readoutFont();
    valueFont.setPixelSize(valueFont.pixelSize() * percent / 100);
    const qreal baseline = readoutBaseline(QRectF(scaledFaceRect(c.rect, percent)),
                                           readoutInk(valueFont), c.besideGal) *
                           100 / percent;
    qreal x = c.rect.left();
    if (c.alignment & Qt::AlignRight) {
        x = c.rect.left() + c.rect.width() - QFontMetricsF(painter.font()).horizontalAdvance(text);
    }
    painter.drawText(QPointF(x, baseline), text);
}

void drawBox(QPainter& painter, const QRect& box) {
    // Half-pixel inset: a crisp one-pixel edge along the box's own pixels.
    const QRectF edge = QRectF(box).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath path;
    path.addRoundedRect(edge, kBoxRadius, kBoxRadius);
    painter.fillPath(path, QColor::fromRgb(kBoxFill));
    painter.setPen(QPen(QColor::fromRgb(kBoxEdge), 1.0));
    painter.drawPath(path);
}

} // namespace

QRect scaledFaceRect(const QRect& rect, int percent) {
    const auto down = [percent](int pixels) { return pixels * percent / 100; };
    const auto up = [percent](int pixels) { return (pixels * percent + 99) / 100; };
    return {down(rect.left()), down(rect.top()), up(rect.width()), up(rect.height())};
}

QSize scaledFaceSize(const QSize& size, int percent) {
    return scaledFaceRect(QRect(QPoint(0, 0), size), percent).size();
}

ReadoutInk readoutInk(const QFont& font) {
    const QFontMetricsF metrics(font);
    QPainterPath digits;
    digits.addText(0, 0, font, QStringLiteral("0123456789"));
    QPainterPath descender;
    descender.addText(0, 0, font, QStringLiteral("g"));
    return {metrics.height(), metrics.ascent(), -digits.boundingRect().top(),
            descender.boundingRect().bottom()};
}

bool hasDescenders(const QString& text) {
    for (const QChar c : text) {
        if (c == u'g' || c == u'j' || c == u'p' || c == u'q' || c == u'y') {
            return true;
        }
    }
    return false;
}

qreal readoutBaseline(const QRectF& field, const ReadoutInk& ink, bool descenders) {
    const qreal centred =
        std::round(field.top() + (field.height() - ink.lineHeight) / 2 + ink.ascent);
    if (ink.lineHeight <= field.height()) {
        return centred;
    }
    const qreal highest = field.top() + ink.digitHeight;
    const qreal lowest = field.top() + field.height() - (descenders ? ink.descenderDepth : 0);
    if (std::ceil(highest) <= std::floor(lowest)) {
        return std::clamp(centred, std::ceil(highest), std::floor(lowest));
    }
    return std::round((highest + lowest) / 2); // no whole pixel fits both: the ink centred
}

const FaceSpots& faceSpots() {
    static const FaceSpots spots = spotsOfTemplate();
    return spots;
}

QImage builtInBackground(int languageIndex, int percent) {
    QImage image(scaledFaceSize(kBackgroundSize, percent), QImage::Format_RGB32);
    image.fill(QColor::fromRgb(kBackgroundBase));
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    // Boxes and text are drawn at the size, from their outlines.
    painter.scale(percent / 100.0, percent / 100.0);
    for (const QRect& box : {kLeftBox, kPgaBox, kPgvBox, kAxesBox, kWeatherBox, kPressureBox}) {
        drawBox(painter, box);
    }
    const std::vector<Caption> all = captions();
    for (Look look : {Look::Title, Look::BoxTitle, Look::Label, Look::Unit}) {
        painter.setFont(fittedFont(look, all, languageIndex));
        painter.setPen(QColor::fromRgb(look == Look::Unit ? kUnitColour : kCaptionColour));
        for (const Caption& c : all) {
            if (c.look != look) {
                continue;
            }
            const QString text = faceCaption(c.text, languageIndex);
            if (look == Look::Label || look == Look::Unit) {
                drawOnReadoutLine(painter, c, text, percent);
            } else {
                painter.drawText(c.rect, static_cast<int>(c.alignment) | Qt::TextSingleLine, text);
            }
        }
    }
    return image;
}

QString backgroundPath(int languageIndex, const QString& workingFolder) {
    const QString text = resourceString(40001, languageIndex);
    if (text.isEmpty()) {
        return {};
    }
    const QString relative = QString::fromStdString(nativePath(text.toStdString()));
    return QDir::cleanPath(QDir(workingFolder).filePath(relative));
}

namespace {

// Qt opens by path with a blocking open: a FIFO in the file's place would
// hold up the window for ever. Opened here instead, and only a regular file.
QImage readImageFile(const QString& path) {
    QImage image;
    if (path.isEmpty()) {
        return image;
    }
    const int fd = openRegularFile(QFile::encodeName(path).constData(), O_RDONLY);
    if (fd < 0) {
        return image;
    }
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        (void)::close(fd);
        return image;
    }
    (void)image.load(&file, nullptr);
    return image;
}

} // namespace

QImage loadBackground(int languageIndex, const QString& workingFolder, int percent) {
    const QImage file = readImageFile(backgroundPath(languageIndex, workingFolder));
    if (file.isNull()) {
        return builtInBackground(languageIndex, percent);
    }
    const QSize size = scaledFaceSize(kBackgroundSize, percent);
    if (file.size() == size && !file.hasAlphaChannel()) {
        return file.convertToFormat(QImage::Format_RGB32);
    }
    // The runtime folder's own pictures are this program's 100 % drawing:
    // a larger face gets that drawing made for its size instead.
    if (file.size() == kBackgroundSize && !file.hasAlphaChannel() &&
        file.convertToFormat(QImage::Format_RGB32) == builtInBackground(languageIndex)) {
        return builtInBackground(languageIndex, percent);
    }
    // A picture made at another size (say, twice as large, or the 100 %
    // picture on a larger face) is resampled smoothly to fill the face, so
    // the controls stay over the spots drawn for them; what is transparent
    // shows the base colour.
    QImage face(size, QImage::Format_RGB32);
    face.fill(QColor::fromRgb(kBackgroundBase));
    QPainter painter(&face);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(QRect(QPoint(0, 0), size), file);
    painter.end();
    return face;
}

} // namespace kelvora

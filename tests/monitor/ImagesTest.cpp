// The window's pictures off screen: the twenty class images, the built-in
// background of each language (nothing drawn where a control sits), the
// background file and what happens when it is broken or missing, the fonts
// they are drawn with, and the application icon.
#include "monitor/BackgroundImage.h"
#include "monitor/Fonts.h"
#include "monitor/IntensityImages.h"
#include "settings/Resources.h"
#include "support/ImageRim.h"
#include "support/NonRegularFiles.h"
#include "support/TemporaryFolder.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QFile>
#include <QFontDatabase>
#include <QFontInfo>
#include <QGuiApplication>
#include <QPainter>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

// Qt hands large image work to its own thread pool, which is not built for
// ThreadSanitizer, so the hand-offs look like races. This binary's own
// threads (a background load that must not wait on a FIFO) are joined before
// their results are read; only Qt's are let off.
extern "C" const char* __tsan_default_suppressions() {
    return "race:libQt6Core.so\nrace:libQt6Gui.so\n";
}

namespace kelvora::test {
namespace {

namespace fs = std::filesystem;

// One QGuiApplication for the whole binary, off screen: fonts need it.
class OffscreenGui : public ::testing::Environment {
public:
    void SetUp() override {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "kelvora-images-test";
        static char* argv[] = {name, nullptr};
        app_ = new QGuiApplication(argc, argv);
        installFontSubstitutions();
    }
    void TearDown() override { delete app_; }

private:
    QGuiApplication* app_ = nullptr;
};
const auto* const kGui = ::testing::AddGlobalTestEnvironment(new OffscreenGui);

std::string where(const QPoint& p) {
    return "(" + std::to_string(p.x()) + ", " + std::to_string(p.y()) + ")";
}

// The sixteen rectangles the window repaints from the background; the rest
// of the picture lies under the class image and the read-outs.
const std::vector<QRect> kRepainted = {
    {0, 0, 25, 172},   {25, 0, 103, 39},   {25, 118, 56, 54},  {81, 152, 47, 20},
    {152, 55, 70, 28}, {222, 35, 78, 63},  {128, 0, 24, 98},   {128, 98, 62, 74},
    {152, 0, 148, 35}, {190, 98, 110, 12}, {300, 0, 110, 38},  {300, 98, 110, 12},
    {388, 38, 22, 60}, {227, 110, 87, 44}, {363, 110, 47, 44}, {190, 154, 220, 18}};

bool repainted(const QPoint& p) {
    for (const QRect& r : kRepainted) {
        if (r.contains(p)) {
            return true;
        }
    }
    return false;
}

// ---------------------------------------------------------------- class images

struct ClassImageCase {
    int bitmap;
    const char* label;
    QRgb background;
    QRgb labelColour;
};

const ClassImageCase kClassImages[] = {
    {130, "0", 0xFFFFFF, 0x000000},   {131, "1", 0xE6E6E6, 0x000000},
    {132, "2", 0xA0E6FF, 0x000000},   {133, "3", 0xA0FF96, 0x000000},
    {134, "4", 0xFAE696, 0x000000},   {135, "5-", 0xF5AA28, 0xFFFFFF},
    {136, "5+", 0xF5693C, 0xFFFFFF},  {137, "6-", 0xFF3C3C, 0xFFFFFF},
    {138, "6+", 0xC80032, 0xFFFFFF},  {139, "7", 0x862DB0, 0xFFFFFF},
    {140, "I", 0xFFFFFF, 0x000000},   {141, "II", 0xBFCCFF, 0x000000},
    {142, "III", 0x9999FF, 0x000000}, {143, "IV", 0x88FFFF, 0x000000},
    {144, "V", 0x7DF894, 0x000000},   {145, "VI", 0xFFFF00, 0x000000},
    {146, "VII", 0xFFDD00, 0x000000}, {147, "VIII", 0xFF9100, 0x000000},
    {148, "IX", 0xFF0000, 0xFFFFFF},  {149, "X+", 0xBE0000, 0xFFFFFF},
};

class ClassImage : public ::testing::TestWithParam<ClassImageCase> {};

TEST_P(ClassImage, FlatBackgroundWithTheLabelLargeAndCentred) {
    const ClassImageCase& c = GetParam();
    const IntensityImageStyle style = intensityImageStyle(c.bitmap);
    EXPECT_EQ(style.label, QString::fromLatin1(c.label));
    const QImage image = intensityImage(c.bitmap);
    ASSERT_EQ(image.size(), QSize(96, 80));
    EXPECT_FALSE(image.hasAlphaChannel());
    for (const QPoint corner : {QPoint(0, 0), QPoint(95, 0), QPoint(0, 79), QPoint(95, 79)}) {
        EXPECT_EQ(image.pixel(corner) & 0xFFFFFF, c.background) << where(corner);
    }
    // Solid label pixels, their extent, and nothing but the two colours and
    // the blends between them.
    int solid = 0;
    QRect ink;
    const QColor from = QColor::fromRgb(c.background);
    const QColor to = QColor::fromRgb(c.labelColour);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb px = image.pixel(x, y) & 0xFFFFFF;
            if (px == c.labelColour) {
                ++solid;
                ink |= QRect(x, y, 1, 1);
                continue;
            }
            // On the straight line between background and label colour.
            const QColor p = QColor::fromRgb(px);
            const double t =
                (p.redF() + p.greenF() + p.blueF() - from.redF() - from.greenF() - from.blueF()) /
                (to.redF() + to.greenF() + to.blueF() - from.redF() - from.greenF() - from.blueF());
            const auto blend = [&](double a, double b) { return a + t * (b - a); };
            ASSERT_NEAR(p.redF(), blend(from.redF(), to.redF()), 0.02) << where(QPoint(x, y));
            ASSERT_NEAR(p.greenF(), blend(from.greenF(), to.greenF()), 0.02) << where(QPoint(x, y));
            ASSERT_NEAR(p.blueF(), blend(from.blueF(), to.blueF()), 0.02) << where(QPoint(x, y));
        }
    }
    EXPECT_GT(solid, 150) << "a large label";
    EXPECT_GE(ink.height(), 36) << "a large label";
    EXPECT_NEAR(ink.center().x(), 47.5, 2.5);
    EXPECT_NEAR(ink.center().y(), 39.5, 2.5);
    EXPECT_GE(ink.left(), 4);
    EXPECT_LE(ink.right(), 91);
    // The label covers the middle of the image.
    bool centre = false;
    for (int y = 30; y < 50 && !centre; ++y) {
        for (int x = 38; x < 58 && !centre; ++x) {
            centre = (image.pixel(x, y) & 0xFFFFFF) == c.labelColour;
        }
    }
    EXPECT_TRUE(centre);
}

INSTANTIATE_TEST_SUITE_P(All, ClassImage, ::testing::ValuesIn(kClassImages),
                         [](const auto& param) { return std::to_string(param.param.bitmap); });

// Half way between k and k squared times the rim at 100 %.
double drawnNotEnlargedLimit(int percent) {
    const double k = percent / 100.0;
    return (k + k * k) / 2;
}

class LargeClassImage : public ::testing::TestWithParam<int> {};

TEST_P(LargeClassImage, IsDrawnAtItsSizeNotEnlarged) {
    const int percent = GetParam();
    for (const ClassImageCase& c : kClassImages) {
        const QImage image = intensityImage(c.bitmap, percent);
        ASSERT_EQ(image.size(), QSize(96 * percent / 100, 80 * percent / 100)) << c.bitmap;
        EXPECT_EQ(image.format(), QImage::Format_RGB32);
        const int small = rimPixels(intensityImage(c.bitmap), c.background, c.labelColour);
        const QImage enlarged = intensityImage(c.bitmap).scaled(image.size());
        EXPECT_GT(rimPixels(enlarged, c.background, c.labelColour),
                  small * drawnNotEnlargedLimit(percent))
            << "the measure tells an enlarged picture";
        EXPECT_LT(rimPixels(image, c.background, c.labelColour),
                  small * drawnNotEnlargedLimit(percent))
            << c.bitmap;
        EXPECT_EQ(image.pixel(image.width() / 2 - 30 * percent / 100, 2) & 0xFFFFFF, c.background);
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, LargeClassImage, ::testing::Values(150, 200, 300),
                         [](const auto& param) { return std::to_string(param.param); });

TEST(ClassImages, EveryClassLooksDifferentAndOtherNumbersHaveNone) {
    std::vector<QImage> images;
    for (int id = 130; id <= 149; ++id) {
        images.push_back(intensityImage(id));
    }
    for (std::size_t i = 0; i < images.size(); ++i) {
        for (std::size_t j = i + 1; j < images.size(); ++j) {
            EXPECT_NE(images[i], images[j]) << 130 + i << " and " << 130 + j;
        }
    }
    for (int id : {0, 129, 150, -130}) {
        EXPECT_TRUE(intensityImage(id).isNull()) << id;
        EXPECT_TRUE(intensityImageStyle(id).label.isEmpty()) << id;
    }
}

// ---------------------------------------------------------------- background

TEST(FaceSpots, AreTheTemplatePlacesAndTheMovedReadouts) {
    const FaceSpots& spots = faceSpots();
    EXPECT_EQ(spots.image, QRect(28, 41, 96, 80));
    // The pressures two pixels wider than the template's 47: "1013.25" needs them.
    const std::vector<QRect> fields = {{301, 44, 84, 18},  {301, 62, 84, 18},  {302, 80, 83, 12},
                                       {152, 39, 68, 12},  {193, 116, 33, 18}, {193, 134, 33, 18},
                                       {315, 116, 49, 18}, {315, 134, 49, 18}, {152, 85, 68, 12},
                                       {81, 125, 50, 28}};
    for (std::size_t i = 0; i < fields.size(); ++i) {
        EXPECT_EQ(spots.fields[i], fields[i]) << "read-out " << 1001 + i;
    }
}

class Background : public ::testing::TestWithParam<int> {};

TEST_P(Background, SizeBaseColourAndBlankSpots) {
    const int language = GetParam();
    const QImage image = builtInBackground(language);
    ASSERT_EQ(image.size(), QSize(410, 172));
    EXPECT_FALSE(image.hasAlphaChannel());
    EXPECT_EQ(image.pixel(2, 2) & 0xFFFFFF, kBackgroundBase);
    // The bottom rows are the base colour across the width: the strip under
    // the picture, where the buttons sit, continues it.
    for (int y = 169; y < 172; ++y) {
        for (int x = 0; x < 410; ++x) {
            ASSERT_EQ(image.pixel(x, y) & 0xFFFFFF, kBackgroundBase) << where(QPoint(x, y));
        }
    }
    const FaceSpots& spots = faceSpots();
    std::vector<QRect> all(spots.fields.begin(), spots.fields.end());
    all.push_back(spots.image);
    for (const QRect& spot : all) {
        EXPECT_EQ(image.pixel(spot.center()) & 0xFFFFFF, 0xFFFFFFu) << where(spot.center());
        for (int y = spot.top(); y <= spot.bottom(); ++y) {
            for (int x = spot.left(); x <= spot.right(); ++x) {
                ASSERT_EQ(image.pixel(x, y) & 0xFFFFFF, 0xFFFFFFu)
                    << "caption or edge inside a control's spot at " << where(QPoint(x, y));
            }
        }
    }
    // Under the controls the window never repaints the background: nothing
    // may be drawn there but the white of the boxes.
    for (int y = 0; y < 172; ++y) {
        for (int x = 0; x < 410; ++x) {
            if (!repainted(QPoint(x, y))) {
                ASSERT_EQ(image.pixel(x, y) & 0xFFFFFF, 0xFFFFFFu)
                    << "drawn where a control sits, at " << where(QPoint(x, y));
            }
        }
    }
}

TEST_P(Background, CaptionsAreDrawn) {
    const int language = GetParam();
    const QImage image = builtInBackground(language);
    // Dark caption ink beside each group of read-outs: title, PGA, PGV, axes,
    // weather, pressure.
    const std::vector<QRect> areas = {{24, 8, 104, 30},   {146, 10, 100, 22}, {146, 64, 100, 18},
                                      {261, 10, 141, 22}, {259, 44, 40, 48},  {145, 116, 45, 36},
                                      {267, 116, 46, 36}, {28, 154, 103, 13}, {364, 116, 40, 36}};
    for (const QRect& area : areas) {
        int dark = 0;
        for (int y = area.top(); y <= area.bottom(); ++y) {
            for (int x = area.left(); x <= area.right(); ++x) {
                dark += qGray(image.pixel(x, y)) < 160 ? 1 : 0;
            }
        }
        EXPECT_GT(dark, 8) << "no caption in " << where(area.topLeft());
    }
}

// The boxes, whose straight edges are one pixel of the edge colour with the
// box's white inside them: no caption touches an edge ("deg C" once did).
const std::vector<QRect> kBoxes = {{4, 4, 132, 165},  {140, 4, 111, 53},   {140, 61, 111, 42},
                                   {255, 4, 152, 99}, {140, 107, 118, 54}, {260, 107, 147, 54}};

TEST_P(Background, NoCaptionTouchesTheEdgeOfItsBox) {
    const QImage image = builtInBackground(GetParam());
    constexpr QRgb kEdge = 0x7FA5D8;
    constexpr int kCorner = 8; // the rounded corners left out
    for (const QRect& box : kBoxes) {
        for (int y = box.top() + kCorner; y <= box.bottom() - kCorner; ++y) {
            for (const auto& [edge, inside] :
                 {std::pair{box.left(), box.left() + 1}, std::pair{box.right(), box.right() - 1}}) {
                ASSERT_EQ(image.pixel(edge, y) & 0xFFFFFF, kEdge) << where(QPoint(edge, y));
                ASSERT_EQ(image.pixel(inside, y) & 0xFFFFFF, 0xFFFFFFu) << where(QPoint(inside, y));
            }
        }
        for (int x = box.left() + kCorner; x <= box.right() - kCorner; ++x) {
            for (const auto& [edge, inside] :
                 {std::pair{box.top(), box.top() + 1}, std::pair{box.bottom(), box.bottom() - 1}}) {
                ASSERT_EQ(image.pixel(x, edge) & 0xFFFFFF, kEdge) << where(QPoint(x, edge));
                ASSERT_EQ(image.pixel(x, inside) & 0xFFFFFF, 0xFFFFFFu) << where(QPoint(x, inside));
            }
        }
    }
}

// At each larger size: the picture's size, and blank spots where the scaled
// controls sit; its captions are drawn at the size, not enlarged.
TEST_P(Background, AtEachLargerSizeIsDrawnForThatSize) {
    const int language = GetParam();
    const QImage small = builtInBackground(language);
    const QRect title(146, 10, 100, 22); // the PGA box's title: white ground, dark ink
    const int smallRim = rimPixels(small.copy(title), 0xFFFFFF, 0x1E3250);
    ASSERT_GT(smallRim, 0);
    for (const int percent : {150, 200, 300}) {
        const QImage image = builtInBackground(language, percent);
        ASSERT_EQ(image.size(), QSize(410, 172) * percent / 100);
        EXPECT_FALSE(image.hasAlphaChannel());
        EXPECT_EQ(image.pixel(2, 2) & 0xFFFFFF, kBackgroundBase);
        const FaceSpots& spots = faceSpots();
        std::vector<QRect> all(spots.fields.begin(), spots.fields.end());
        all.push_back(spots.image);
        for (const QRect& spot : all) {
            const QRect scaled = scaledFaceRect(spot, percent);
            for (int y = scaled.top(); y <= scaled.bottom(); ++y) {
                for (int x = scaled.left(); x <= scaled.right(); ++x) {
                    ASSERT_EQ(image.pixel(x, y) & 0xFFFFFF, 0xFFFFFFu)
                        << percent << " %: drawn inside a control's spot at " << where({x, y});
                }
            }
        }
        EXPECT_LT(rimPixels(image.copy(scaledFaceRect(title, percent)), 0xFFFFFF, 0x1E3250),
                  smallRim * drawnNotEnlargedLimit(percent))
            << percent << " %";
    }
}

INSTANTIATE_TEST_SUITE_P(Languages, Background, ::testing::Values(0, 1, 2, 3, 4),
                         [](const auto& param) {
                             return languageFolder(param.param).toStdString();
                         });

TEST(Backgrounds, CaptionsDifferBetweenLanguagesAndUnknownOnesAreEnglish) {
    std::vector<QImage> images;
    for (int language = 0; language < 5; ++language) {
        images.push_back(builtInBackground(language));
    }
    for (std::size_t i = 0; i < images.size(); ++i) {
        for (std::size_t j = i + 1; j < images.size(); ++j) {
            EXPECT_NE(images[i], images[j]) << i << " and " << j;
        }
    }
    EXPECT_EQ(builtInBackground(-1), images[1]);
    EXPECT_EQ(builtInBackground(5), images[1]);
}

// ---------------------------------------------------------------- background file

class BackgroundFile : public ::testing::Test {
protected:
    BackgroundFile() : folder_("kelvora-background") {}

    QString workingFolder() const { return QString::fromStdString(folder_.string()); }
    fs::path fileOf(int language) const {
        return folder_ / "Images" / "Language" / languageFolder(language).toStdString() /
               "kelvora_bg.bmp";
    }
    void write(int language, const QImage& image, const char* format = "BMP") const {
        fs::create_directories(fileOf(language).parent_path());
        ASSERT_TRUE(image.save(QString::fromStdString(fileOf(language).string()), format));
    }
    void writeBytes(int language, const std::string& bytes) const {
        fs::create_directories(fileOf(language).parent_path());
        std::ofstream(fileOf(language), std::ios::binary) << bytes;
    }

    TemporaryFolder folder_;
};

QImage solid(QSize size, QRgb colour) {
    QImage image(size, QImage::Format_RGB888);
    image.fill(QColor::fromRgb(colour));
    return image;
}

TEST_F(BackgroundFile, LiesWhereString40001Says) {
    EXPECT_EQ(backgroundPath(1, workingFolder()), QString::fromStdString(fileOf(1).string()));
    EXPECT_EQ(backgroundPath(3, workingFolder()),
              workingFolder() + "/Images/Language/chs/kelvora_bg.bmp");
    EXPECT_EQ(backgroundPath(-1, workingFolder()), backgroundPath(1, workingFolder()));
}

TEST_F(BackgroundFile, AFileOfTheLanguageReplacesTheBuiltInOne) {
    write(1, solid(kBackgroundSize, 0x336699));
    const QImage english = loadBackground(1, workingFolder());
    ASSERT_EQ(english.size(), kBackgroundSize);
    EXPECT_EQ(english.pixel(0, 0) & 0xFFFFFF, 0x336699u);
    EXPECT_EQ(english.pixel(409, 171) & 0xFFFFFF, 0x336699u);
    // Only its own language: Japanese has no file and draws its own.
    EXPECT_EQ(loadBackground(0, workingFolder()), builtInBackground(0));
    // An unknown language reads the English file.
    EXPECT_EQ(loadBackground(7, workingFolder()).pixel(5, 5) & 0xFFFFFF, 0x336699u);
}

TEST_F(BackgroundFile, MissingBrokenOrUnreadableGivesTheBuiltInOne) {
    for (int language = 0; language < 5; ++language) {
        EXPECT_EQ(loadBackground(language, workingFolder()), builtInBackground(language))
            << "no file, language " << language;
    }
    writeBytes(2, "BM this is not a bitmap at all");
    EXPECT_EQ(loadBackground(2, workingFolder()), builtInBackground(2)) << "broken file";
    writeBytes(3, "");
    EXPECT_EQ(loadBackground(3, workingFolder()), builtInBackground(3)) << "empty file";
    fs::create_directories(fileOf(4));
    EXPECT_EQ(loadBackground(4, workingFolder()), builtInBackground(4)) << "a folder";
    // A bitmap cut short loses its pixels.
    write(0, solid(kBackgroundSize, 0x112233));
    fs::resize_file(fileOf(0), 100);
    const QImage cut = loadBackground(0, workingFolder());
    EXPECT_EQ(cut.size(), kBackgroundSize);
    EXPECT_EQ(cut.format(), QImage::Format_RGB32);
}

// A FIFO in the file's place: the window neither waits on it (a plain open
// waits for a writer for ever) nor reads a picture through it.
class BackgroundNonRegularFile : public BackgroundFile,
                                 public ::testing::WithParamInterface<NonRegularFile> {};

TEST_P(BackgroundNonRegularFile, GivesTheBuiltInOneWithoutWaiting) {
    QByteArray bitmap;
    QBuffer buffer(&bitmap);
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(solid(QSize(40, 20), 0x445566).save(&buffer, "BMP"));
    fs::create_directories(fileOf(1).parent_path());
    NonRegularFileAt special(fileOf(1), GetParam(), bitmap.toStdString());
    QImage loaded;
    EXPECT_TRUE(returnsByItself([&] { loaded = loadBackground(1, workingFolder()); }, special));
    EXPECT_EQ(loaded, builtInBackground(1));
}

INSTANTIATE_TEST_SUITE_P(Kinds, BackgroundNonRegularFile,
                         ::testing::Values(NonRegularFile::Fifo, NonRegularFile::FifoWithOtherEnd),
                         NonRegularFileName());

TEST_F(BackgroundFile, AnotherSizeIsScaledToTheFace) {
    // Twice as large, left half red, right half green.
    QImage large(820, 344, QImage::Format_RGB888);
    large.fill(Qt::red);
    QPainter(&large).fillRect(410, 0, 410, 344, Qt::green);
    write(1, large);
    const QImage face = loadBackground(1, workingFolder());
    ASSERT_EQ(face.size(), kBackgroundSize);
    EXPECT_EQ(face.format(), QImage::Format_RGB32);
    EXPECT_EQ(face.pixel(100, 86) & 0xFFFFFF, 0xFF0000u);
    EXPECT_EQ(face.pixel(310, 86) & 0xFFFFFF, 0x00FF00u);
    write(4, solid(QSize(40, 20), 0x445566));
    EXPECT_EQ(loadBackground(4, workingFolder()).size(), kBackgroundSize);
}

// A file can only be resampled to a larger face: smoothly, not in blocks;
// one made for the face's size is shown as it is.
TEST_F(BackgroundFile, IsResampledSmoothlyForALargerFace) {
    QImage halves(kBackgroundSize, QImage::Format_RGB888);
    halves.fill(Qt::red);
    QPainter(&halves).fillRect(205, 0, 205, 172, Qt::green);
    write(1, halves);
    const QImage face = loadBackground(1, workingFolder(), 200);
    ASSERT_EQ(face.size(), QSize(820, 344));
    EXPECT_EQ(face.format(), QImage::Format_RGB32);
    EXPECT_EQ(face.pixel(200, 172) & 0xFFFFFF, 0xFF0000u);
    EXPECT_EQ(face.pixel(620, 172) & 0xFFFFFF, 0x00FF00u);
    std::set<QRgb> acrossTheBorder;
    for (int x = 405; x < 415; ++x) {
        acrossTheBorder.insert(face.pixel(x, 172) & 0xFFFFFF);
    }
    EXPECT_GT(acrossTheBorder.size(), 2u) << "blends between the halves";

    write(2, solid(QSize(615, 258), 0x336699));
    const QImage own = loadBackground(2, workingFolder(), 150);
    ASSERT_EQ(own.size(), QSize(615, 258));
    EXPECT_EQ(own.pixel(614, 257) & 0xFFFFFF, 0x336699u);
    EXPECT_EQ(loadBackground(3, workingFolder(), 300), builtInBackground(3, 300)) << "no file";
}

// The runtime folder holds the program's own pictures, as kelvora-assets
// writes them: a larger face draws them at its size rather than resampling.
TEST_F(BackgroundFile, TheProgramsOwnPictureIsDrawnAtTheSize) {
    write(4, builtInBackground(4));
    EXPECT_EQ(loadBackground(4, workingFolder(), 200), builtInBackground(4, 200));
    EXPECT_EQ(loadBackground(4, workingFolder()), builtInBackground(4));
}

TEST_F(BackgroundFile, AnyFormatQtReadsAndTransparencyShowsTheBase) {
    // A PNG under the .bmp name, half transparent.
    QImage png(kBackgroundSize, QImage::Format_ARGB32);
    png.fill(Qt::transparent);
    QPainter(&png).fillRect(0, 0, 205, 172, Qt::black);
    write(0, png, "PNG");
    const QImage face = loadBackground(0, workingFolder());
    ASSERT_EQ(face.size(), kBackgroundSize);
    EXPECT_FALSE(face.hasAlphaChannel());
    EXPECT_EQ(face.pixel(10, 10) & 0xFFFFFF, 0x000000u);
    EXPECT_EQ(face.pixel(400, 10) & 0xFFFFFF, kBackgroundBase);
}

// ---------------------------------------------------------------- fonts

TEST(Fonts, WindowsFamiliesResolveToInstalledFonts) {
    const std::vector<std::pair<QString, QString>> cases = {
        {"MS UI Gothic", "Noto Sans CJK JP"},
        {QString::fromUtf8("ＭＳ ゴシック"), "Noto Sans Mono CJK JP"},
        {"MS Shell Dlg", "Liberation Sans"},
        {"Arial", "Liberation Sans"},
        {"Courier New", "Liberation Mono"},
    };
    for (const auto& [asked, installed] : cases) {
        EXPECT_EQ(QFontInfo(QFont(asked, 9)).family(), installed) << asked.toStdString();
    }
    const QStringList before = QFont::substitutes("MS Shell Dlg");
    installFontSubstitutions();
    EXPECT_EQ(QFont::substitutes("MS Shell Dlg"), before) << "a second call adds nothing";
}

TEST(Fonts, EachLanguageHasItsRegionsCjkFontInstalled) {
    const QStringList families = QFontDatabase::families();
    const std::vector<std::pair<int, QString>> cases = {
        {0, "Noto Sans CJK JP"}, {1, "Noto Sans CJK JP"}, {2, "Noto Sans CJK TC"},
        {3, "Noto Sans CJK SC"}, {4, "Noto Sans CJK KR"}, {-1, "Noto Sans CJK JP"}};
    for (const auto& [language, family] : cases) {
        EXPECT_EQ(cjkFontFamily(language), family) << language;
        EXPECT_TRUE(families.contains(family)) << family.toStdString() << " is not installed";
    }
    EXPECT_TRUE(families.contains("Liberation Sans"));
    EXPECT_TRUE(families.contains("Liberation Mono"));
}

QImage rendered(const QFont& font, const QString& text) {
    QImage image(120, 48, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setFont(font);
    painter.setPen(Qt::black);
    painter.drawText(image.rect(), Qt::AlignCenter, text);
    return image;
}

// Han characters whose regional forms differ: a template's Latin font falls
// back to the language's own CJK font, not to the Japanese one.
TEST(Fonts, HanCharactersTakeTheLanguagesRegionalForms) {
    const QString text = QString::fromUtf8("骨直");
    QFont taiwan(QStringLiteral("Noto Sans CJK TC"));
    taiwan.setPointSizeF(20);
    QFont japan(QStringLiteral("Noto Sans CJK JP"));
    japan.setPointSizeF(20);
    ASSERT_NE(rendered(taiwan, text), rendered(japan, text)) << "the forms should differ";
    EXPECT_EQ(rendered(languageFont("MS Shell Dlg", 20, 2), text), rendered(taiwan, text));
    EXPECT_EQ(rendered(languageFont("MS Shell Dlg", 20, 0), text), rendered(japan, text));
}

// ---------------------------------------------------------------- icon

TEST(ApplicationIcon, HasEverySizeOfItsOwn) {
    const QIcon icon = applicationIcon();
    ASSERT_FALSE(icon.isNull());
    for (int size : {16, 32, 48, 64, 128, 256}) {
        EXPECT_TRUE(icon.availableSizes().contains(QSize(size, size))) << size;
        const QImage image = icon.pixmap(QSize(size, size)).toImage();
        EXPECT_EQ(image.size(), QSize(size, size));
        // Opaque in the middle, transparent in the corner.
        EXPECT_EQ(qAlpha(image.pixel(size / 2, size / 2)), 255) << size;
        EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0) << size;
    }
}

} // namespace
} // namespace kelvora::test

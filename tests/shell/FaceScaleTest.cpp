// The face at 100, 150, 200 and 300 %: every rectangle grows with it, every
// text stays inside its rectangle in every language, the pictures are drawn
// at the size rather than enlarged, the size follows the context menu, and
// the setting reads and writes.
#include "MonitorWindowFixture.h"

#include "monitor/BackgroundImage.h"
#include "monitor/IntensityImages.h"
#include "settings/Resources.h"
#include "shell/Commands.h"
#include "support/ImageRim.h"
#include "support/TestNames.h"

#include <QAction>
#include <QFontMetrics>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QStyle>
#include <QStyleOptionButton>

#include <optional>
#include <ostream>

namespace kelvora::test {
namespace {

std::string describe(const QRectF& r) {
    return "(" + std::to_string(r.left()) + ", " + std::to_string(r.top()) + ") to (" +
           std::to_string(r.right()) + ", " + std::to_string(r.bottom()) + ")";
}

// Each edge of `actual` lies within half a pixel of `percent` times the
// edge at 100 %: exactly there at 200 and 300 %.
void expectScaled(const QRect& at100, const QRect& actual, int percent, const std::string& what) {
    const double factor = percent / 100.0;
    const auto near = [&](int scaled, int original, const char* edge) {
        EXPECT_LE(std::abs(scaled - original * factor), 0.5)
            << what << ", " << edge << ": " << scaled << " for " << original;
    };
    near(actual.left(), at100.left(), "left");
    near(actual.top(), at100.top(), "top");
    near(actual.left() + actual.width(), at100.left() + at100.width(), "right");
    near(actual.top() + actual.height(), at100.top() + at100.height(), "bottom");
}

// The widest texts each read-out shows: placeholders, large and negative
// values, as the display tick formats them; for temperature and humidity the
// widest readings the air gives (the display would show up to "999.9", wider
// than the template's 33-pixel read-out).
const std::vector<std::vector<QString>> kWidestTexts = {
    {"0.000 gal", "-.--- gal", "-8888.888 gal", "-99999.99 gal", "  -12.345 gal"},
    {"0.000 gal", "-.--- gal", "-8888.888 gal", "-99999.99 gal", "  -12.345 gal"},
    {"0.000 gal", "-.--- gal", "-8888.888 gal", "-99999.99 gal", "  -12.345 gal"},
    {"0.000", "-.---", "-8888.888", "-99999.99"},
    {" ---.-", "-99.9", "100.0", "-40.0"},
    {" ---.-", "-99.9", "100.0", "-40.0"},
    {"----.--", "1099.99", " 870.00", "1013.25", "8888.88"},
    {"----.--", "1099.99", " 870.00", "1013.25", "8888.88"},
    {"0.000", "-.---", "-8888.888", "-99999.99"},
    {"-3.0", "---", "-8.8", "10.0", "88.8"},
};

struct FaceCase {
    std::string name;
    int percent;
    int language;
};

std::vector<FaceCase> everySizeAndLanguage() {
    std::vector<FaceCase> cases;
    for (const int percent : {100, 150, 200, 300}) {
        for (int language = 0; language < 5; ++language) {
            cases.push_back({std::to_string(percent) + "_" + languageFolder(language).toStdString(),
                             percent, language});
        }
    }
    return cases;
}

class FaceLayout : public MonitorWindow, public ::testing::WithParamInterface<FaceCase> {
protected:
    CKelvoraDlg& openAtSize() {
        store_.values["Display/Scale"] = GetParam().percent;
        return open(GetParam().language);
    }
};

TEST_P(FaceLayout, TheWindowAndEveryControlGrowWithTheSize) {
    const int percent = GetParam().percent;
    CKelvoraDlg& window = openAtSize();
    window.uiTick();
    window.uiTick(); // the second start-up step draws the class image
    MonitorFace& face = window.face();
    EXPECT_EQ(window.size(), QSize(410, 206) * percent / 100);
    EXPECT_EQ(face.size(), window.size());
    expectScaled(MonitorFace::imageRect(), face.imageFrame().geometry(), percent, "class image");
    for (int i = 0; i < MonitorFace::kFieldCount; ++i) {
        expectScaled(MonitorFace::fieldRect(i), face.field(i).geometry(), percent,
                     "read-out " + std::to_string(1001 + i));
    }
    expectScaled(MonitorFace::startButtonRect(), face.startButton().geometry(), percent, "start");
    expectScaled(MonitorFace::stopButtonRect(), face.stopButton().geometry(), percent, "stop");
    // The rectangles that touch at 100 % still touch: no seam of stale pixels.
    for (const QRect& r : MonitorFace::backgroundRectangles()) {
        expectScaled(r, MonitorFace::scaled(r, percent), percent, "background rectangle");
    }
    EXPECT_EQ(face.imageFrame().image().size(), face.imageFrame().size())
        << "the class image is made for the frame";
}

TEST_P(FaceLayout, EveryReadoutTextLiesInsideItsReadout) {
    CKelvoraDlg& window = openAtSize();
    for (int i = 0; i < MonitorFace::kFieldCount; ++i) {
        ReadoutField& field = window.face().field(i);
        for (const QString& text : kWidestTexts[static_cast<std::size_t>(i)]) {
            field.setText(text);
            // The ink itself, descenders included, from the glyphs' outlines.
            QPainterPath outline;
            outline.addText(field.textOrigin(), field.font(), text);
            const QRectF ink = outline.boundingRect();
            // A quarter of a pixel of antialiasing may fall outside.
            EXPECT_TRUE(QRectF(field.rect()).adjusted(-0.25, -0.25, 0.25, 0.25).contains(ink))
                << "read-out " << 1001 + i << " \"" << text.toStdString() << "\": ink "
                << describe(ink) << " in " << describe(QRectF(field.rect()));
        }
    }
}

TEST_P(FaceLayout, TheNoDataTileCaptionsAndTimeLieInsideTheTile) {
    CKelvoraDlg& window = openAtSize();
    IntensityImageFrame& frame = window.face().imageFrame();
    const QFontMetrics metrics(frame.font());
    for (const Message message : {Message::LineNoData, Message::LineDisconnected}) {
        const QString caption = messageText(message, GetParam().language);
        frame.showNoData(caption, QStringLiteral("00:00:00"));
        const QRect area = frame.captionRect();
        const QRect wrapped =
            metrics.boundingRect(area, Qt::AlignCenter | Qt::TextWordWrap, caption);
        EXPECT_TRUE(area.contains(wrapped))
            << caption.toStdString() << ": " << describe(wrapped) << " in " << describe(area);
        EXPECT_TRUE(frame.rect().contains(area));
        const QRect time = frame.timeRect();
        EXPECT_LE(metrics.horizontalAdvance(QStringLiteral("00:00:00")), time.width());
        EXPECT_TRUE(frame.rect().contains(time));
        EXPECT_LE(area.bottom(), time.top()) << "the caption stays above the time";
    }
}

TEST_P(FaceLayout, EveryButtonCaptionFitsItsButton) {
    CKelvoraDlg& window = openAtSize();
    for (QPushButton* button : {&window.face().startButton(), &window.face().stopButton()}) {
        QStyleOptionButton option;
        option.initFrom(button);
        option.text = button->text();
        const QRect contents =
            button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
        const QFontMetrics metrics(button->font());
        EXPECT_LE(metrics.horizontalAdvance(button->text()), contents.width())
            << button->text().toStdString();
        EXPECT_LE(metrics.height(), contents.height()) << button->text().toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(SizesAndLanguages, FaceLayout, ::testing::ValuesIn(everySizeAndLanguage()),
                         CaseName());

QImage enlarged(const QImage& image, Qt::TransformationMode mode) {
    return image.scaled(image.size() * 2, Qt::IgnoreAspectRatio, mode);
}

TEST_F(MonitorWindow, TheFaceAtTwiceTheSizeIsDrawnAtThatSizeNotEnlarged) {
    store_.values["Display/Scale"] = 200;
    CKelvoraDlg& window = open(1);
    window.instrument().alerts().intensityClass = 5;
    window.instrument().alerts().pendingImageRedraws = 1;
    window.uiTick();
    const QImage face = window.face().grab().toImage().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(face.size(), QSize(820, 412));

    const QImage image = face.copy(MonitorFace::imageRect(200));
    const IntensityImageStyle style = intensityImageStyle(135);
    const QImage small = intensityImage(135);
    const int rimSmall = rimPixels(small, style.background.rgb(), style.labelColour.rgb());
    ASSERT_GT(rimSmall, 0);
    // What a stretched bitmap would give, and what the face shows.
    EXPECT_GE(rimPixels(enlarged(small, Qt::FastTransformation), style.background.rgb(),
                        style.labelColour.rgb()),
              4 * rimSmall);
    EXPECT_LT(rimPixels(image, style.background.rgb(), style.labelColour.rgb()), 3 * rimSmall);

    // The background: the face shows the picture drawn for its size, whose
    // captions have rims as narrow as at 100 %.
    const QImage background = builtInBackground(1, 200);
    ASSERT_EQ(background.size(), QSize(820, 344));
    for (const QRect& r : MonitorFace::backgroundRectangles()) {
        const QRect at = MonitorFace::scaled(r, 200);
        for (int y = at.top(); y <= at.bottom(); ++y) {
            for (int x = at.left(); x <= at.right(); ++x) {
                if (window.face().childAt(x, y) == nullptr) { // the controls lie on top
                    ASSERT_EQ(face.pixel(x, y), background.pixel(x, y)) << "at " << x << ", " << y;
                }
            }
        }
    }
    const QRect pgaTitle(146, 10, 100, 22); // white box, dark caption
    const QImage title = builtInBackground(1).copy(pgaTitle);
    const QImage largeTitle = background.copy(MonitorFace::scaled(pgaTitle, 200));
    const int titleRim = rimPixels(title, 0xFFFFFF, 0x1E3250);
    ASSERT_GT(titleRim, 0);
    EXPECT_LT(rimPixels(largeTitle, 0xFFFFFF, 0x1E3250), 3 * titleRim);
    EXPECT_GE(rimPixels(enlarged(title, Qt::SmoothTransformation), 0xFFFFFF, 0x1E3250),
              4 * titleRim);
}

// At 100 % every read-out but the Z axis's draws its text where a
// right-aligned, vertically centred static text draws it: only the row whose
// "g" was cut moves.
TEST_F(MonitorWindow, AtFullSizeEveryReadoutButTheZAxisDrawsAsAStaticText) {
    CKelvoraDlg& window = open();
    for (int i = 0; i < MonitorFace::kFieldCount; ++i) {
        if (i == 2) {
            continue;
        }
        ReadoutField& field = window.face().field(i);
        for (const QString& text : kWidestTexts[static_cast<std::size_t>(i)]) {
            field.setText(text);
            QImage expected(field.size(), QImage::Format_RGB32);
            {
                QPainter painter(&expected);
                painter.fillRect(expected.rect(), field.palette().color(QPalette::Window));
                painter.setPen(field.palette().color(QPalette::WindowText));
                painter.setFont(field.font());
                painter.drawText(expected.rect(), Qt::AlignRight | Qt::AlignVCenter, text);
            }
            EXPECT_EQ(field.grab().toImage().convertToFormat(QImage::Format_RGB32), expected)
                << "read-out " << 1001 + i << " \"" << text.toStdString() << "\"";
        }
    }
}

TEST_F(MonitorWindow, TheSizeMenuResizesAtOnceFromTheCornerAndTheSizeIsSaved) {
    CKelvoraDlg& window = open(1);
    window.show();
    window.move(40, 30);
    const QPoint corner = window.pos();
    const auto sizes = [&] {
        const std::unique_ptr<QMenu> menu = window.makeContextMenu();
        std::vector<std::pair<std::string, bool>> items;
        for (const QAction* action : menu->actions()) {
            if (action->menu() != nullptr) {
                EXPECT_EQ(action->text(), "Size");
                for (const QAction* size : action->menu()->actions()) {
                    EXPECT_TRUE(size->isCheckable());
                    items.emplace_back(size->text().toStdString(), size->isChecked());
                }
            }
        }
        return items;
    };
    using Items = std::vector<std::pair<std::string, bool>>;
    EXPECT_EQ(sizes(), (Items{{"100%", true}, {"150%", false}, {"200%", false}, {"300%", false}}));

    window.runCommand(ID_CMD_SIZE_300);
    EXPECT_EQ(window.size(), QSize(1230, 618));
    EXPECT_EQ(window.pos(), corner);
    EXPECT_EQ(window.face().field(0).geometry(), MonitorFace::fieldRect(0, 300));
    EXPECT_EQ(sizes(), (Items{{"100%", false}, {"150%", false}, {"200%", false}, {"300%", true}}));

    window.runCommand(ID_CMD_SIZE_150);
    EXPECT_EQ(window.size(), QSize(615, 309));
    EXPECT_EQ(window.pos(), corner);
    window.close();
    EXPECT_EQ(store_.values["Display/Scale"], 150);
}

struct ScaleSettingCase {
    std::string name;
    std::optional<int> stored;
    int loaded;
};

class FaceScaleSetting : public ::testing::TestWithParam<ScaleSettingCase> {};

TEST_P(FaceScaleSetting, LoadsOneOfTheFourSizesAndWritesItBack) {
    MemorySettingsStore store;
    if (GetParam().stored) {
        store.values["Display/Scale"] = *GetParam().stored;
    }
    Settings settings;
    settings.loadWindowSettings(store, {1920, 1040});
    EXPECT_EQ(settings.faceScale, GetParam().loaded);
    MemorySettingsStore written;
    settings.saveAll(written);
    EXPECT_EQ(written.values["Display/Scale"], GetParam().loaded);
}

INSTANTIATE_TEST_SUITE_P(Values, FaceScaleSetting,
                         ::testing::Values(ScaleSettingCase{"Absent", std::nullopt, 100},
                                           ScaleSettingCase{"Full", 100, 100},
                                           ScaleSettingCase{"OneAndAHalf", 150, 150},
                                           ScaleSettingCase{"Twice", 200, 200},
                                           ScaleSettingCase{"ThreeTimes", 300, 300},
                                           ScaleSettingCase{"Zero", 0, 100},
                                           ScaleSettingCase{"NotOneOfTheFour", 125, 100},
                                           ScaleSettingCase{"Negative", -200, 100},
                                           ScaleSettingCase{"TooLarge", 400, 100}),
                         CaseName());

// Without a stored place the window opens centred in the work area, at each
// size for that size (the 100 % place is the one the window always had); a
// stored place is kept whatever the size.
struct CentredCase {
    const char* name;
    int scale;
    WindowRect expected; // top, left, bottom, right in a 1920 x 1040 work area
};
void PrintTo(const CentredCase& c, std::ostream* os) {
    *os << c.name;
}

class FirstPlace : public ::testing::TestWithParam<CentredCase> {};

TEST_P(FirstPlace, IsCentredForTheSizeAndAStoredPlaceIsKept) {
    MemorySettingsStore store;
    store.values["Display/Scale"] = GetParam().scale;
    Settings settings;
    settings.loadWindowSettings(store, {1920, 1040});
    EXPECT_EQ(settings.windowRect, GetParam().expected);

    MemorySettingsStore stored;
    stored.values["Display/Scale"] = GetParam().scale;
    stored.values["WinPos/top"] = 10;
    stored.values["WinPos/left"] = 20;
    stored.values["WinPos/bottom"] = 258;
    stored.values["WinPos/right"] = 442;
    Settings kept;
    kept.loadWindowSettings(stored, {1920, 1040});
    EXPECT_EQ(kept.windowRect, (WindowRect{10, 20, 258, 442}));
}

INSTANTIATE_TEST_SUITE_P(Sizes, FirstPlace,
                         ::testing::Values(CentredCase{"Full", 100, {396, 749, 644, 1171}},
                                           CentredCase{"OneAndAHalf", 150, {345, 647, 695, 1273}},
                                           CentredCase{"Twice", 200, {293, 544, 747, 1376}},
                                           CentredCase{"ThreeTimes", 300, {190, 339, 850, 1581}}),
                         CaseName());

} // namespace
} // namespace kelvora::test

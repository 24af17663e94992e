// Shaking the user should not miss, on the alerts' own: the tray icon's
// colour, label and tooltip while the class is above 0, one notification per
// event through the tray or the desktop's service, updated as the peak rises,
// none while the window is in sight or below the class set, the window
// brought to the front when asked for, and the texts in each language.
#include "shell/AlertNotifier.h"

#include "monitor/IntensityImages.h"
#include "settings/Language.h"
#include "settings/Settings.h"
#include "shell/DesktopNotifications.h"
#include "shell/TrayIcon.h"
#include "support/OffscreenApplication.h"
#include "support/TestNames.h"

#include <gtest/gtest.h>

#include <QImage>

#include <chrono>
#include <cstdlib>

#include <string>
#include <vector>

namespace kelvora::test {
namespace {

// The icon's picture at 32 pixels, to compare.
QImage pictureOf(const QIcon& icon) {
    return icon.pixmap(32, 32).toImage().convertToFormat(QImage::Format_RGB32);
}

class RecordingTray : public TrayIcon {
public:
    bool available() override { return hasTray; }
    void add(const QIcon&, const QString&, QMenu*) override {}
    void setTip(const QString&) override {}
    void setIcon(const QIcon& icon) override { icons.push_back(pictureOf(icon)); }
    void showMessage(const QString& title, const QString& text) override {
        messages.push_back((title + " | " + text).toStdString());
    }
    void remove() override {}

    bool hasTray = true;
    std::vector<QImage> icons;
    std::vector<std::string> messages;
};

class RecordingDesktop : public DesktopNotifications {
public:
    void show(const QString& title, const QString& text) override {
        calls.push_back("show " + (title + " | " + text).toStdString());
    }
    void update(const QString& title, const QString& text) override {
        calls.push_back("update " + (title + " | " + text).toStdString());
    }
    std::vector<std::string> calls;
};

class RecordingView : public AlertView {
public:
    bool windowInSight() const override { return inSight; }
    void bringToFront() override { ++broughtToFront; }
    void showShakingTip(const QString& tip) override { tips.push_back(tip.toStdString()); }
    DesktopNotifications& desktopNotifications() override { return desktop; }

    bool inSight = false;
    int broughtToFront = 0;
    std::vector<std::string> tips;
    RecordingDesktop desktop;
};

// Ticks at the window's steady pace: the quiet time is time, not a count.
constexpr std::chrono::milliseconds kTick{100};
constexpr int kQuietTicks = static_cast<int>(AlertNotifier::kQuietTime / kTick);

class Alerts : public ::testing::Test {
protected:
    void SetUp() override {
        offscreenApplication();
        applyLanguage(1); // English
    }
    void TearDown() override { applyLanguage(0); }

    // `count` ticks at one class and read-out.
    void ticks(int intensityClass, const char* reading, int count = 1) {
        for (int i = 0; i < count; ++i) {
            notifier_.tick(intensityClass, FieldText(reading), time_, kTick);
        }
    }

    Settings settings_;
    RecordingTray tray_;
    RecordingView view_;
    AlertNotifier notifier_{settings_, tray_, view_};
    LocalTime time_{2026, 3, 14, 12, 34, 56, 0};
};

constexpr const char* kTitle = "Shaking detected | ";

TEST_F(Alerts, AQuakeOutOfSightGivesOneNotificationUpdatedAsItsPeakRises) {
    ticks(0, "-0.4", 10);
    ticks(2, " 1.7", 10); // below NotifyClass 3
    EXPECT_TRUE(tray_.messages.empty());
    ticks(3, " 2.6", 10);
    time_.second = 58;
    ticks(4, " 3.6", 5);
    ticks(3, " 3.4", 5); // falling back: the peak stays
    ticks(5, " 4.5");
    EXPECT_EQ(tray_.messages, (std::vector<std::string>{
                                  std::string(kTitle) + "Intensity 3 (JMA 2.6) at 12:34:56",
                                  std::string(kTitle) + "Intensity 4 (JMA 3.6) at 12:34:58",
                                  std::string(kTitle) + "Intensity 5- (JMA 4.5) at 12:34:58",
                              }));
    EXPECT_TRUE(view_.desktop.calls.empty()) << "the tray has it";
    EXPECT_EQ(view_.broughtToFront, 0) << "RaiseWindow is off";
}

TEST_F(Alerts, AnEventEndsAfterItsQuietTimeAndTheNextGetsANotificationOfItsOwn) {
    ticks(4, " 3.7");
    ticks(0, "-0.2", kQuietTicks - 1);
    ticks(4, " 3.8"); // an aftershock within the quiet time: the same event
    EXPECT_EQ(tray_.messages.size(), 1u);
    ticks(0, "-0.2", kQuietTicks);
    ticks(3, " 2.9");
    ASSERT_EQ(tray_.messages.size(), 2u);
    EXPECT_EQ(tray_.messages[1], std::string(kTitle) + "Intensity 3 (JMA 2.9) at 12:34:56");
}

TEST_F(Alerts, NothingIsNotifiedWhileTheWindowIsInSightOrTheClassIsNeverReached) {
    view_.inSight = true;
    ticks(6, " 5.2", 10);
    EXPECT_TRUE(tray_.messages.empty());
    view_.inSight = false;
    ticks(6, " 5.2", 10);
    EXPECT_TRUE(tray_.messages.empty()) << "no rise of the event's peak";
    ticks(7, " 5.6"); // out of sight at a rise: the event's one notification
    EXPECT_EQ(tray_.messages.size(), 1u);

    ticks(0, "-1.0", kQuietTicks);
    tray_.messages.clear();
    settings_.notifyClass = 10; // never
    ticks(9, " 6.8", 10);
    EXPECT_TRUE(tray_.messages.empty());
    EXPECT_EQ(view_.broughtToFront, 0);
}

TEST_F(Alerts, WithoutATrayTheDesktopServiceShowsTheNotificationAndUpdatesIt) {
    tray_.hasTray = false;
    ticks(3, " 2.5");
    ticks(5, " 4.7");
    EXPECT_EQ(view_.desktop.calls,
              (std::vector<std::string>{
                  std::string("show ") + kTitle + "Intensity 3 (JMA 2.5) at 12:34:56",
                  std::string("update ") + kTitle + "Intensity 5- (JMA 4.7) at 12:34:56",
              }));
    EXPECT_TRUE(tray_.messages.empty());
}

TEST_F(Alerts, RaiseWindowBringsTheWindowToTheFrontAtTheEventsStartOnly) {
    settings_.raiseWindow = 1;
    ticks(3, " 2.5");
    ticks(5, " 4.6");
    EXPECT_EQ(view_.broughtToFront, 1);
    EXPECT_EQ(tray_.messages.size(), 2u) << "and the notification too";
}

TEST_F(Alerts, TheTrayShowsTheClassAndTheIntensityWhileShakingAndTheIconAgainAtZero) {
    ticks(0, "-0.6", 3);
    EXPECT_TRUE(tray_.icons.empty());
    EXPECT_TRUE(view_.tips.empty());

    ticks(2, " 1.6", 3);
    ticks(2, " 1.9");
    ticks(4, " 3.5");
    ASSERT_EQ(tray_.icons.size(), 2u) << "a new picture for each class only";
    EXPECT_TRUE(tray_.icons[0] == pictureOf(classIcon(kFirstJmaImage + 2)));
    EXPECT_TRUE(tray_.icons[1] == pictureOf(classIcon(kFirstJmaImage + 4)));
    const QColor classFour = intensityImageStyle(kFirstJmaImage + 4).background;
    EXPECT_EQ(tray_.icons[1].pixelColor(3, 3), classFour);
    EXPECT_EQ(view_.tips, (std::vector<std::string>{"Kelvora\nIntensity 2 (JMA 1.6)",
                                                    "Kelvora\nIntensity 2 (JMA 1.9)",
                                                    "Kelvora\nIntensity 4 (JMA 3.5)"}));

    ticks(0, "-0.6");
    ASSERT_EQ(tray_.icons.size(), 3u);
    EXPECT_TRUE(tray_.icons[2] == pictureOf(applicationIcon()));
    EXPECT_EQ(view_.tips.back(), "") << "the usual tooltip again";
}

TEST_F(Alerts, TheMercalliScaleShowsItsOwnClasses) {
    settings_.pipeline.intensityScale = 1;
    ticks(3, " 4.3"); // NotifyClass 3 is "IV" on this scale
    ASSERT_EQ(tray_.messages.size(), 1u);
    EXPECT_EQ(tray_.messages[0], std::string(kTitle) + "Intensity IV (MMI 4.3) at 12:34:56");
    ASSERT_EQ(tray_.icons.size(), 1u);
    EXPECT_TRUE(tray_.icons[0] == pictureOf(classIcon(kFirstMercalliImage + 3)));
}

TEST(AlertIcon, EachClassHasItsOwnPictureInEverySize) {
    offscreenApplication();
    for (int bitmap = kFirstJmaImage; bitmap <= kLastIntensityImage; ++bitmap) {
        const QIcon icon = classIcon(bitmap);
        for (const int size : {16, 32, 64}) {
            const QImage picture = icon.pixmap(size, size).toImage();
            ASSERT_EQ(picture.size(), QSize(size, size)) << bitmap;
            // The background at the inner corner.
            EXPECT_EQ(picture.pixelColor(2, 2), intensityImageStyle(bitmap).background) << bitmap;
            // Somewhere the label's colour, nearer to it than to the background.
            const IntensityImageStyle style = intensityImageStyle(bitmap);
            auto distance = [](QColor a, QColor b) {
                return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) +
                       std::abs(a.blue() - b.blue());
            };
            bool labelled = false;
            for (int y = 2; y < size - 2 && !labelled; ++y) {
                for (int x = 2; x < size - 2 && !labelled; ++x) {
                    const QColor pixel = picture.pixelColor(x, y);
                    labelled = distance(pixel, style.labelColour) < 60 &&
                               distance(pixel, style.background) > 120;
                }
            }
            EXPECT_TRUE(labelled) << bitmap << " at " << size;
        }
    }
    EXPECT_TRUE(classIcon(129).isNull());
}

struct TextCase {
    std::string name;
    int language;
    int scale;
    int intensityClass;
    const char* reading;
    std::string notification;
};

class AlertText : public ::testing::TestWithParam<TextCase> {
protected:
    void SetUp() override { offscreenApplication(); }
    void TearDown() override { applyLanguage(0); }
};

TEST_P(AlertText, NamesTheClassTheIntensityAndTheTimeInTheLanguage) {
    applyLanguage(GetParam().language);
    EXPECT_EQ(AlertNotifier::notificationText(GetParam().scale, GetParam().intensityClass,
                                              FieldText(GetParam().reading),
                                              LocalTime{2026, 3, 14, 7, 5, 9, 0})
                  .toStdString(),
              GetParam().notification);
}

INSTANTIATE_TEST_SUITE_P(
    Languages, AlertText,
    ::testing::Values(
        TextCase{"jpn_jma", 0, 0, 6, " 5.1", "07:05:09、震度 5+ (計測震度 5.1)"},
        TextCase{"eng_jma", 1, 0, 6, " 5.1", "Intensity 5+ (JMA 5.1) at 07:05:09"},
        TextCase{"cht_jma", 2, 0, 6, " 5.1", "07:05:09，震度 5+（JMA 計測震度 5.1）"},
        TextCase{"chs_jma", 3, 0, 6, " 5.1", "07:05:09，震度 5+（JMA 计测震度 5.1）"},
        TextCase{"kor_jma", 4, 0, 6, " 5.1", "07:05:09, 진도 5+ (JMA 계측 진도 5.1)"},
        TextCase{"jpn_mercalli", 0, 1, 5, " 6.2", "07:05:09、改正メルカリ震度階級 VI (MMI 6.2)"},
        TextCase{"eng_mercalli", 1, 1, 5, " 6.2", "Intensity VI (MMI 6.2) at 07:05:09"},
        TextCase{"cht_mercalli", 2, 1, 5, " 6.2", "07:05:09，修訂麥加利震度 VI（MMI 6.2）"},
        TextCase{"chs_mercalli", 3, 1, 5, " 6.2", "07:05:09，修订麦加利烈度 VI（MMI 6.2）"},
        TextCase{"kor_mercalli", 4, 1, 5, " 6.2", "07:05:09, 수정 메르칼리 진도 VI (MMI 6.2)"}),
    CaseName());

} // namespace
} // namespace kelvora::test

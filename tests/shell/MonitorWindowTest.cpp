// The main window offscreen, in a temporary working folder with an in-memory
// settings store: what it shows when it opens, the read-outs, the class
// image, the frame toggle, the commands that must not close it and the close
// that writes every setting.
#include "MonitorWindowFixture.h"

#include "../link/PseudoTerminal.h"
#include "monitor/MonitorFace.h"
#include "monitor/SoundPlayer.h"
#include "settings/Language.h"
#include "shell/CAboutDlg.h"
#include "support/MemorySettingsStore.h"
#include "support/TemporaryFolder.h"
#include "support/TestNames.h"
#include "support/Waiting.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <sys/mman.h>
#include <unistd.h>

namespace kelvora::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

TEST_F(MonitorWindow, FirstStartWithAnEmptyStore) {
    CKelvoraDlg& window = open();
    EXPECT_EQ(window.size(), QSize(410, 206));
    EXPECT_EQ(fieldTexts(),
              (std::vector<std::string>{"0.000 gal", "0.000 gal", "0.000 gal", "0.000", " ---.-",
                                        " ---.-", "----.--", "----.--", "0.000", "-3.0"}));
    const WindowRect expected =
        Settings::defaultWindowRect({window.screen()->availableGeometry().width(),
                                     window.screen()->availableGeometry().height()});
    EXPECT_EQ(window.placement().current().left, expected.left);
    EXPECT_EQ(window.placement().current().top, expected.top);
    EXPECT_EQ(window.placement().frameExtents(), QSize(12, 42)) << "from the default rectangle";
    EXPECT_TRUE(fs::is_directory(work_ / "Observation"));
    EXPECT_TRUE(fs::is_directory(work_ / "Accelerogram"));
    EXPECT_TRUE(window.face().startButton().isEnabled());
    EXPECT_FALSE(window.face().stopButton().isEnabled());
}

struct LanguageCase {
    int language;
    const char* start;
    const char* stop;
    const char* about;
};

class MonitorWindowLanguage : public MonitorWindow,
                              public ::testing::WithParamInterface<LanguageCase> {};

TEST_P(MonitorWindowLanguage, ButtonsAndTheAboutBoxSpeakIt) {
    CKelvoraDlg& window = open(GetParam().language);
    EXPECT_EQ(window.face().startButton().text().toStdString(), GetParam().start);
    EXPECT_EQ(window.face().stopButton().text().toStdString(), GetParam().stop);
    CAboutDlg about(&window);
    EXPECT_EQ(about.windowTitle().toStdString(), GetParam().about);
}

INSTANTIATE_TEST_SUITE_P(
    Languages, MonitorWindowLanguage,
    ::testing::Values(
        LanguageCase{0, "受信開始", "受信停止", "バージョン情報 - Kelvora"},
        LanguageCase{1, "Receive Start", "Receive Stop", "Version Information - Kelvora"},
        LanguageCase{2, "開始接收", "停止接收", "版本資訊 - Kelvora"},
        LanguageCase{3, "开始接收", "停止接收", "版本信息 - Kelvora"},
        LanguageCase{4, "수신 시작", "수신 정지", "버전 정보 - Kelvora"},
        LanguageCase{-1, "Receive Start", "Receive Stop", "Version Information - Kelvora"}),
    [](const ::testing::TestParamInfo<LanguageCase>& param) {
        return param.param.language < 0 ? std::string("Negative")
                                        : "Language" + std::to_string(param.param.language);
    });

TEST_F(MonitorWindow, ReadOutsFollowTheDisplayTextsOnlyWhileReceiving) {
    PseudoTerminal line;
    const fs::path ports = temporary_ / "data" / "Vantrell" / "Kelvora" / "ports";
    fs::create_directories(ports);
    fs::create_symlink(line.slavePath(), ports / "COM250");
    store_.values["Port/Number"] = 249;
    CKelvoraDlg& window = open();

    DisplayTexts texts;
    texts.accelXText = FieldText("12345.678 gal");
    texts.temperatureText = FieldText("---.-");
    texts.intensityText = FieldText("4.5");
    window.instrument().displayTexts().publish(texts);
    window.uiTick();
    EXPECT_EQ(fieldTexts()[0], "0.000 gal") << "not receiving: nothing is pushed";

    window.startReception();
    ASSERT_EQ(window.instrument().reception().runState(), ReceptionControl::Running);
    EXPECT_FALSE(window.face().startButton().isEnabled());
    window.uiTick();
    EXPECT_EQ(fieldTexts()[0], "12345.678 gal");
    EXPECT_EQ(fieldTexts()[4], "---.-") << "the leading space goes with the first refresh";
    EXPECT_EQ(fieldTexts()[9], "4.5");

    window.stopReception();
    ASSERT_TRUE(waitFor(
        [&] {
            window.uiTick();
            return window.face().startButton().isEnabled();
        },
        5s));
    texts.accelXText = FieldText("1.000 gal");
    window.instrument().displayTexts().publish(texts);
    window.uiTick();
    EXPECT_EQ(fieldTexts()[0], "12345.678 gal") << "after a stop the fields keep their values";
}

struct ImageCase {
    const char* name;
    int scale;
    int intensityClass;
    QColor colour;
};

class MonitorWindowImage : public MonitorWindow, public ::testing::WithParamInterface<ImageCase> {};

TEST_P(MonitorWindowImage, AClassChangeRedrawsTheImage) {
    store_.values["Radio/SiSel"] = GetParam().scale;
    CKelvoraDlg& window = open();
    window.instrument().alerts().intensityClass = GetParam().intensityClass;
    window.instrument().alerts().pendingImageRedraws = 1;
    window.uiTick();
    EXPECT_EQ(window.instrument().alerts().pendingImageRedraws, 0);
    const QRect image = MonitorFace::imageRect();
    EXPECT_EQ(pixelAt(window.face(), image.topLeft() + QPoint(3, 3)), GetParam().colour);
}

INSTANTIATE_TEST_SUITE_P(Classes, MonitorWindowImage,
                         ::testing::Values(ImageCase{"Jma0", 0, 0, QColor(0xFF, 0xFF, 0xFF)},
                                           ImageCase{"Jma5", 0, 5, QColor(0xF5, 0xAA, 0x28)},
                                           ImageCase{"Mercalli5", 1, 5, QColor(0xFF, 0xFF, 0x00)},
                                           ImageCase{"Mercalli9", 1, 9, QColor(0xBE, 0x00, 0x00)},
                                           ImageCase{"OutOfRangeShowsClassNine", 0, 12,
                                                     QColor(0x86, 0x2D, 0xB0)}),
                         CaseName());

TEST_F(MonitorWindow, APaintRequestsARedrawOfTheImage) {
    CKelvoraDlg& window = open();
    for (int tick = 0; tick < 4; ++tick) {
        window.uiTick(); // past the start-up steps, which draw the image once
    }
    window.instrument().alerts().intensityClass = 5; // no redraw pending
    window.uiTick();
    const QPoint inside = MonitorFace::imageRect().topLeft() + QPoint(3, 3);
    EXPECT_NE(pixelAt(window.face(), inside), QColor(0xF5, 0xAA, 0x28));
    window.face().repaint();
    window.uiTick();
    EXPECT_EQ(pixelAt(window.face(), inside), QColor(0xF5, 0xAA, 0x28));
}

// The automatic start on the third tick fails with its message box; ticks go
// on inside the box and must take the next steps, not start again.
TEST_F(MonitorWindow, TicksInsideAFailedAutomaticStartsMessageGoOnToTheNextSteps) {
    store_.values["CheckBox/AutoStart"] = 1;
    store_.values["Port/Number"] = 9000; // COM9001: no such port
    CKelvoraDlg& window = open();
    window.uiTick();
    window.uiTick();
    std::vector<int> stepsSeen;
    QString message;
    QTimer::singleShot(0, [&] {
        for (int tick = 0; tick < 3; ++tick) {
            window.uiTick();
            stepsSeen.push_back(window.startupStepValue());
        }
        if (QWidget* box = QApplication::activeModalWidget()) {
            if (auto* messageBox = qobject_cast<QMessageBox*>(box)) {
                message = messageBox->text();
            }
            box->close();
        }
    });
    window.uiTick(); // the automatic start: its message box runs the ticks above
    // Which port and why below the message.
    EXPECT_EQ(message.toStdString(),
              "指定COMポートが開けません\nCOM9001: このポート番号に対応するデバイスがありません。");
    EXPECT_EQ(stepsSeen, (std::vector<int>{4, 5, 6}));
    EXPECT_EQ(window.startupStepValue(), 6);
    EXPECT_EQ(window.instrument().reception().runState(), ReceptionControl::Idle);
    EXPECT_TRUE(window.face().startButton().isEnabled());
}

TEST_F(MonitorWindow, TwoFrameTogglesReturnTheWindowToItsRectangle) {
    CKelvoraDlg& window = open();
    window.show();
    const WindowRect before = window.placement().current();
    window.toggleFrame();
    EXPECT_EQ(settings_.framelessView, 1);
    EXPECT_TRUE(window.windowFlags().testFlag(Qt::FramelessWindowHint));
    EXPECT_EQ(window.placement().current().left, before.left) << "the corner stays";
    EXPECT_EQ(window.placement().current().top, before.top);
    window.toggleFrame();
    EXPECT_EQ(settings_.framelessView, 0);
    EXPECT_FALSE(window.windowFlags().testFlag(Qt::FramelessWindowHint));
    EXPECT_EQ(window.placement().current(), before);
}

TEST_F(MonitorWindow, KeysReachTheWindowWhicheverControlHasTheFocus) {
    CKelvoraDlg& window = open();
    window.show();
    QKeyEvent f2(QEvent::KeyPress, Qt::Key_F2, Qt::NoModifier);
    QApplication::sendEvent(&window.face().startButton(), &f2);
    EXPECT_EQ(settings_.framelessView, 1);
    QKeyEvent f4(QEvent::KeyPress, Qt::Key_F4, Qt::NoModifier);
    QApplication::sendEvent(&window.face().startButton(), &f4);
    EXPECT_EQ(window.instrument().reception().stopRequested(), 0) << "not running: nothing";
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(&window.face().startButton(), &escape);
    EXPECT_TRUE(window.isVisible());
    EXPECT_FALSE(window.isDestroyed());
}

TEST_F(MonitorWindow, EscapeAndOkLeaveItOpenAndACloseWritesEverySetting) {
    CKelvoraDlg& window = open();
    window.show();
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(&window, &escape);
    window.accept();
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(&window, &enter);
    EXPECT_TRUE(window.isVisible());
    EXPECT_FALSE(window.isDestroyed());
    EXPECT_TRUE(store_.values.empty());

    settings_.autoStart = 1; // changed in memory, written at the close
    window.close();
    EXPECT_TRUE(window.isDestroyed());
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(store_.values.size(), 26u); // the 22 and our own four
    EXPECT_EQ(store_.values["CheckBox/AutoStart"], 1);
    EXPECT_GE(store_.flushes, 1);
    EXPECT_LT(::shm_open(blockName_.c_str(), O_RDONLY, 0), 0) << "the block is removed";
}

// An Escape that never becomes the window's cancel command leaves no mark
// behind that would swallow the next close request.
struct EscapeCase {
    const char* name;
    Qt::KeyboardModifiers modifiers;
    bool buttonHeldDown; // the focused button takes Escape to undo its press
};

class MonitorWindowEscape : public MonitorWindow,
                            public ::testing::WithParamInterface<EscapeCase> {};

TEST_P(MonitorWindowEscape, TheNextCloseRequestStillCloses) {
    CKelvoraDlg& window = open();
    window.show();
    QWidget& button = window.face().startButton();
    if (GetParam().buttonHeldDown) {
        QKeyEvent space(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
        QApplication::sendEvent(&button, &space);
        ASSERT_TRUE(window.face().startButton().isDown());
    }
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, GetParam().modifiers);
    QApplication::sendEvent(&button, &escape);
    EXPECT_FALSE(window.isDestroyed()) << "Escape itself never closes it";
    window.close();
    EXPECT_TRUE(window.isDestroyed());
    EXPECT_EQ(store_.values.size(), 26u); // the 22 and our own four
}

INSTANTIATE_TEST_SUITE_P(
    Keys, MonitorWindowEscape,
    ::testing::Values(EscapeCase{"Plain", Qt::NoModifier, false},
                      EscapeCase{"Shift", Qt::ShiftModifier, false},
                      EscapeCase{"Ctrl", Qt::ControlModifier, false},
                      EscapeCase{"CtrlShift", Qt::ControlModifier | Qt::ShiftModifier, false},
                      EscapeCase{"OnAButtonHeldDown", Qt::NoModifier, true}),
    CaseName());

TEST_F(MonitorWindow, AWindowStoredOffEveryScreenOpensOnThePrimaryOne) {
    // A left of 3000 with no screen there: a monitor unplugged, say.
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    store_.values["WinPos/left"] = screen.width() + 3000;
    store_.values["WinPos/right"] = screen.width() + 3000 + 422;
    store_.values["WinPos/top"] = 100;
    store_.values["WinPos/bottom"] = 100 + 248;
    CKelvoraDlg& window = open();
    const WindowRect expected = Settings::defaultWindowRect({screen.width(), screen.height()});
    EXPECT_EQ(window.placement().current().left, expected.left);
    EXPECT_EQ(window.placement().current().top, expected.top);
    window.close();
    EXPECT_EQ(store_.values["WinPos/left"], expected.left) << "the place it came back to";
}

TEST_F(MonitorWindow, ABackgroundFileReplacesTheBuiltInOneAndABrokenOneFallsBack) {
    const fs::path folder = work_ / "Images" / "Language" / "jpn";
    fs::create_directories(folder);
    QImage own(410, 172, QImage::Format_RGB888);
    own.fill(QColor(0x12, 0x34, 0x56));
    ASSERT_TRUE(own.save(QString::fromStdString((folder / "kelvora_bg.bmp").string()), "BMP"));
    {
        CKelvoraDlg& window = open();
        EXPECT_EQ(pixelAt(window.face(), {2, 2}), QColor(0x12, 0x34, 0x56));
        window.close();
    }
    window_.reset();
    std::FILE* broken = std::fopen((folder / "kelvora_bg.bmp").c_str(), "wb");
    std::fputs("BM not really", broken);
    std::fclose(broken);
    CKelvoraDlg& window = open();
    EXPECT_EQ(pixelAt(window.face(), {2, 2}), QColor(0x9F, 0xC3, 0xF4)) << "the built-in face";
}

} // namespace
} // namespace kelvora::test

// The main window's tray icon, its menus and its commands, offscreen with a
// fake notification area: hiding a minimised window only when a tray exists,
// the ways back, the exit that saves like any close, the context menu in
// each language with the about item, the keyboard move, and the settings and
// language dialogs opened from the window.
#include "MonitorWindowFixture.h"

#include "core/MeasurementState.h"
#include "monitor/IntensityImages.h"
#include "settings/CLangDialog.h"
#include "shell/Commands.h"
#include "shell/InstanceActivation.h"
#include "support/TemporaryFolder.h"
#include "support/TestNames.h"
#include "support/Waiting.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QMenu>
#include <QPushButton>
#include <QTimer>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace kelvora::test {
namespace {

// What the window did with the notification area; the test decides whether
// one exists.
struct TrayRecord {
    bool available = false;
    bool shown = false;
    QString tip;
    QMenu* menu = nullptr;
    int removes = 0;
};

class FakeTray : public TrayIcon {
public:
    explicit FakeTray(std::shared_ptr<TrayRecord> record) : record_(std::move(record)) {}
    bool available() override { return record_->available; }
    void add(const QIcon&, const QString& tip, QMenu* menu) override {
        record_->shown = true;
        record_->tip = tip;
        record_->menu = menu;
    }
    void setTip(const QString& tip) override { record_->tip = tip; }
    void remove() override {
        record_->shown = false;
        ++record_->removes;
    }

private:
    std::shared_ptr<TrayRecord> record_;
};

struct ItemText {
    int command; // 0: a separator
    std::string text;
    bool operator==(const ItemText&) const = default;
};

std::vector<ItemText> itemsOf(const QMenu& menu) {
    std::vector<ItemText> items;
    for (const QAction* action : menu.actions()) {
        items.push_back(action->isSeparator()
                            ? ItemText{0, ""}
                            : ItemText{action->data().toInt(), action->text().toStdString()});
    }
    return items;
}

class TrayAndMenus : public MonitorWindow {
protected:
    TrayAndMenus() {
        trayIcon_ = [record = tray_] { return std::make_unique<FakeTray>(record); };
    }

    CKelvoraDlg& openShown(int language = 0) {
        CKelvoraDlg& window = open(language);
        window.show();
        QApplication::processEvents();
        return window;
    }
    // The tray menu's item with this text.
    QAction* trayAction(const char* text) {
        for (QAction* action : tray_->menu->actions()) {
            if (action->text() == QString::fromUtf8(text)) {
                return action;
            }
        }
        return nullptr;
    }
    void minimiseAndTick(CKelvoraDlg& window) {
        window.showMinimized();
        QApplication::processEvents();
        window.uiTick();
    }

    std::vector<std::string> trayTexts() const {
        std::vector<std::string> texts;
        for (const QAction* action : tray_->menu->actions()) {
            texts.push_back(action->isSeparator() ? "-" : action->text().toStdString());
        }
        return texts;
    }

    std::shared_ptr<TrayRecord> tray_ = std::make_shared<TrayRecord>();
};

TEST_F(TrayAndMenus, TheIconComesWithTheWindowAndGoesWithIt) {
    openShown(1);
    EXPECT_TRUE(tray_->shown);
    EXPECT_EQ(tray_->tip.toStdString(), "Kelvora\nDouble-click to show the main window");
    ASSERT_NE(tray_->menu, nullptr);
    // In the interface language, and following a change of it.
    EXPECT_EQ(trayTexts(), (std::vector<std::string>{"Show Main Window", "-", "Exit"}));
    applyLanguage(4);
    window_->reloadLanguage();
    EXPECT_EQ(trayTexts(), (std::vector<std::string>{"메인 창 표시", "-", "종료"}));
    applyLanguage(0);
    window_->reloadLanguage();
    EXPECT_EQ(trayTexts(), (std::vector<std::string>{"メインウインドウを表示", "-", "終了"}));
    window_->close();
    EXPECT_FALSE(tray_->shown);
    EXPECT_EQ(tray_->removes, 1);
}

TEST_F(TrayAndMenus, AMinimisedWindowHidesOnlyWhenATrayExists) {
    CKelvoraDlg& window = openShown();
    minimiseAndTick(window);
    EXPECT_TRUE(window.isVisible()) << "no tray: it stays minimised in the taskbar";
    EXPECT_EQ(window.trayHiddenState(), 0);

    tray_->available = true; // a tray appears later
    window.uiTick();
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(window.trayHiddenState(), 1);
    window.uiTick(); // the check repeats and changes nothing
    EXPECT_EQ(window.trayHiddenState(), 1);
}

TEST_F(TrayAndMenus, AVisibleWindowIgnoresTheWaysBack) {
    CKelvoraDlg& window = openShown();
    tray_->available = true;
    window.trayIcon().doubleClicked();
    window.runCommand(ID_CMD_SHOW);
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(window.trayHiddenState(), 0);
}

TEST_F(TrayAndMenus, ADoubleClickAndTheShowItemBringTheWindowBack) {
    CKelvoraDlg& window = openShown();
    tray_->available = true;
    const std::vector<std::pair<const char*, std::function<void()>>> ways{
        {"double click", [&] { window.trayIcon().doubleClicked(); }},
        {"show item", [&] { trayAction("メインウインドウを表示")->trigger(); }},
    };
    for (const auto& [name, restore] : ways) {
        minimiseAndTick(window);
        ASSERT_FALSE(window.isVisible()) << name;
        restore();
        QApplication::processEvents();
        EXPECT_TRUE(window.isVisible()) << name;
        EXPECT_FALSE(window.isMinimized()) << name;
        EXPECT_EQ(window.trayHiddenState(), 2) << name;
        window.uiTick();
        EXPECT_TRUE(window.isVisible()) << name << ": not hidden again";
    }
}

// Minimised at start on a desktop that settles the window late: the desktop
// may iconify the window again just after the first double click has shown
// it, before it was ever on screen. That is no minimise of the user's: the
// window comes back, stays on top, and is not hidden into the tray again.
TEST_F(TrayAndMenus, TheFirstDoubleClickAfterAMinimisedStartRestoresTheWindow) {
    store_.values["CheckBox/MinStart"] = 1;
    tray_->available = true;
    CKelvoraDlg& window = openShown();
    for (int tick = 0; tick < 5; ++tick) {
        window.uiTick(); // the start-up steps: stay on top, minimise; then into the tray
        QApplication::processEvents();
    }
    ASSERT_EQ(window.trayHiddenState(), 1);
    ASSERT_FALSE(window.isVisible());

    window.trayIcon().doubleClicked();
    window.setWindowState(window.windowState() | Qt::WindowMinimized); // the desktop, late
    window.uiTick();
    QApplication::processEvents();
    window.uiTick();
    EXPECT_TRUE(window.isVisible());
    EXPECT_FALSE(window.isMinimized());
    EXPECT_EQ(window.trayHiddenState(), 2);
    EXPECT_TRUE(window.windowFlags().testFlag(Qt::WindowStaysOnTopHint));

    // A minimise of the user's, once the window has been seen, hides it again.
    minimiseAndTick(window);
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(window.trayHiddenState(), 1);
}

TEST_F(TrayAndMenus, AClickOnTheTraysMessageBringsTheWindowBack) {
    CKelvoraDlg& window = openShown();
    tray_->available = true;
    minimiseAndTick(window);
    ASSERT_FALSE(window.isVisible());
    window.trayIcon().messageClicked();
    QApplication::processEvents();
    EXPECT_TRUE(window.isVisible());
    EXPECT_FALSE(window.isMinimized());
    EXPECT_EQ(window.trayHiddenState(), 2);
}

// A second start asks over the real socket; the window comes back from
// minimised (no tray) and from the tray, and only then does the answer go.
TEST_F(TrayAndMenus, ASecondStartBringsTheWindowBack) {
    using namespace std::chrono_literals;
    CKelvoraDlg& window = openShown();
    TemporaryFolder folder("kelvora-activation");
    const QString socket = QString::fromStdString((folder / "Kelvora.exe.socket").string());
    ActivationServer server;
    server.showWindow = [&window] { window.bringToFront(); };
    ASSERT_TRUE(server.listen(socket));
    auto secondStart = [&socket] {
        std::atomic<int> answered{-1};
        std::thread second([&] { answered = requestActivation(socket, 30s) ? 1 : 0; });
        waitFor(
            [&] {
                QApplication::processEvents();
                return answered != -1;
            },
            60s);
        second.join();
        return answered == 1;
    };

    minimiseAndTick(window);
    ASSERT_TRUE(window.isMinimized());
    EXPECT_TRUE(secondStart());
    EXPECT_TRUE(window.isVisible());
    EXPECT_FALSE(window.isMinimized());

    tray_->available = true;
    minimiseAndTick(window);
    ASSERT_FALSE(window.isVisible());
    EXPECT_TRUE(secondStart());
    EXPECT_TRUE(window.isVisible());
    EXPECT_FALSE(window.isMinimized());
    EXPECT_EQ(window.trayHiddenState(), 2);
}

// Nobody at the socket, or something there that never answers: the second
// start does not take it for the monitor.
TEST(SecondStart, UnansweredRequestsFail) {
    using namespace std::chrono_literals;
    TemporaryFolder folder("kelvora-activation");
    const QString socket = QString::fromStdString((folder / "Kelvora.exe.socket").string());
    EXPECT_FALSE(requestActivation(socket, 5s)) << "no socket";
    ActivationServer mute; // listens, but its thread is busy in the request below
    ASSERT_TRUE(mute.listen(socket));
    bool shown = false;
    mute.showWindow = [&shown] { shown = true; };
    EXPECT_FALSE(requestActivation(socket, 200ms)) << "no answer";
    EXPECT_FALSE(shown);
}

TEST_F(TrayAndMenus, TheExitItemClosesAHiddenWindowTheNormalWayAndSavesEverySetting) {
    CKelvoraDlg& window = openShown();
    tray_->available = true;
    bool finished = false;
    QObject::connect(&window, &QDialog::finished, [&] { finished = true; });
    settings_.portIndex = 41;
    minimiseAndTick(window);
    ASSERT_FALSE(window.isVisible());

    trayAction("終了")->trigger();
    EXPECT_FALSE(window.isDestroyed()) << "closed once the tray menu has returned";
    QApplication::processEvents();
    EXPECT_TRUE(window.isDestroyed());
    EXPECT_TRUE(finished) << "the program's run ends";
    EXPECT_EQ(store_.values.size(), 26u); // the 22 and our own four
    EXPECT_EQ(store_.values["Port/Number"], 41);
    EXPECT_EQ(store_.flushes, 1);
}

struct ContextMenuCase {
    int language;
    std::vector<ItemText> items;
};

class ContextMenu : public TrayAndMenus, public ::testing::WithParamInterface<ContextMenuCase> {};

TEST_P(ContextMenu, HasTheWindowCommandsThenTheAboutItem) {
    CKelvoraDlg& window = open(GetParam().language);
    EXPECT_EQ(itemsOf(*window.makeContextMenu()), GetParam().items);
}

const std::vector<ItemText> kJapaneseMenu{
    {ID_CMD_FRAME, "フレーム枠の表示切り替え"},
    {ID_CMD_MOVE, "移動"},
    {0, ""},
    {ID_CMD_LANGUAGE, "言語 (Language)"},
    {ID_CMD_SETTINGS, "設定"},
    {0, "表示サイズ"}, // the submenu of the face's sizes
    {0, ""},
    {ID_CMD_CLOSE, "終了"},
    {0, ""},
    {ID_CMD_ABOUT, "バージョン情報 - Kelvora (&A)..."},
};

INSTANTIATE_TEST_SUITE_P(
    Languages, ContextMenu,
    ::testing::Values(ContextMenuCase{0, kJapaneseMenu},
                      ContextMenuCase{1,
                                      {{ID_CMD_FRAME, "Show/Hide Window Frame"},
                                       {ID_CMD_MOVE, "Move"},
                                       {0, ""},
                                       {ID_CMD_LANGUAGE, "Language"},
                                       {ID_CMD_SETTINGS, "Settings"},
                                       {0, "Size"},
                                       {0, ""},
                                       {ID_CMD_CLOSE, "Exit"},
                                       {0, ""},
                                       {ID_CMD_ABOUT, "Version Information - Kelvora (&A)..."}}},
                      ContextMenuCase{4,
                                      {{ID_CMD_FRAME, "창 테두리 표시 전환"},
                                       {ID_CMD_MOVE, "이동"},
                                       {0, ""},
                                       {ID_CMD_LANGUAGE, "언어 (Language)"},
                                       {ID_CMD_SETTINGS, "설정"},
                                       {0, "화면 크기"},
                                       {0, ""},
                                       {ID_CMD_CLOSE, "종료"},
                                       {0, ""},
                                       {ID_CMD_ABOUT, "버전 정보 - Kelvora (&A)..."}}}));

TEST_F(TrayAndMenus, TheContextMenuFollowsALanguageChangeButTheAboutItemDoesNot) {
    CKelvoraDlg& window = open(0);
    applyLanguage(3);
    const std::vector<ItemText> items = itemsOf(*window.makeContextMenu());
    ASSERT_EQ(items.size(), 10u);
    EXPECT_EQ(items[0].text, "切换窗口边框显示");
    EXPECT_EQ(items[5].text, "显示大小");
    EXPECT_EQ(items[9].text, "バージョン情報 - Kelvora (&A)...");
}

TEST_F(TrayAndMenus, TheFrameAndCloseCommands) {
    CKelvoraDlg& window = openShown();
    window.runCommand(ID_CMD_FRAME);
    EXPECT_EQ(settings_.framelessView, 1);
    window.runCommand(ID_CMD_FRAME);
    EXPECT_EQ(settings_.framelessView, 0);
    window.runCommand(ID_CMD_CLOSE);
    EXPECT_TRUE(window.isDestroyed());
    EXPECT_EQ(store_.values.size(), 26u); // the 22 and our own four
}

TEST_F(TrayAndMenus, TheMoveCommandMovesTheWindowByKeys) {
    CKelvoraDlg& window = openShown();
    auto press = [&](int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QKeyEvent event(QEvent::KeyPress, key, modifiers);
        QApplication::sendEvent(&window.face().startButton(), &event);
    };
    const QPoint start = window.pos();
    window.runCommand(ID_CMD_MOVE);
    ASSERT_TRUE(window.keyboardMove().active());
    press(Qt::Key_Right);
    press(Qt::Key_Right);
    press(Qt::Key_Up, Qt::ControlModifier);
    press(Qt::Key_F2); // taken by the move, not a frame toggle
    EXPECT_EQ(window.pos(), start + QPoint(16, -1));
    EXPECT_EQ(settings_.framelessView, 0);
    press(Qt::Key_Escape);
    EXPECT_FALSE(window.keyboardMove().active());
    EXPECT_EQ(window.pos(), start) << "Escape puts it back";
    EXPECT_FALSE(window.isDestroyed());

    window.runCommand(ID_CMD_MOVE);
    press(Qt::Key_Down);
    press(Qt::Key_Return);
    EXPECT_FALSE(window.keyboardMove().active());
    EXPECT_EQ(window.pos(), start + QPoint(0, 8));
    press(Qt::Key_Down);
    EXPECT_EQ(window.pos(), start + QPoint(0, 8)) << "the keys are the window's again";
}

// Runs `action` on the dialog F8 or F9 opened, once its modal run is going.
void onOpenDialog(CKelvoraDlg& window, std::function<void(QDialog&)> action) {
    QTimer::singleShot(0, &window, [&window, action = std::move(action)] {
        ASSERT_NE(window.openDialog(), nullptr);
        action(*window.openDialog());
    });
}

TEST_F(TrayAndMenus, AfterTheSettingsDialogTheWindowTakesStayOnTopCancelledOrNot) {
    CKelvoraDlg& window = openShown();
    settings_.stayOnTop = 1;
    for (int tick = 0; tick < 3; ++tick) {
        window.uiTick();
    }
    ASSERT_TRUE(window.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    onOpenDialog(window, [this](QDialog& dialog) {
        settings_.stayOnTop = 0; // as a Save would
        dialog.reject();
    });
    QKeyEvent f9(QEvent::KeyPress, Qt::Key_F9, Qt::NoModifier);
    QApplication::sendEvent(&window.face().startButton(), &f9);
    EXPECT_EQ(window.openDialog(), nullptr);
    EXPECT_FALSE(window.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_TRUE(window.isVisible());
}

// A scale change while stopped: the period peak holds its reset value and
// the class is the other scale's, so until the next display tick the window
// shows the placeholder read-out and the image of class 0.
struct ScaleChangeCase {
    const char* name;
    int from;
    int to;
};

class ScaleChangeWhileStopped : public TrayAndMenus,
                                public ::testing::WithParamInterface<ScaleChangeCase> {};

TEST_P(ScaleChangeWhileStopped, ShowsThePlaceholderAndClassZeroUntilTheNextDisplayTick) {
    store_.values["Radio/SiSel"] = GetParam().from;
    CKelvoraDlg& window = openShown();
    // As a run leaves them: the peaks reset by its last display tick, and
    // the class of that tick on the image.
    window.instrument().state().peakMmi = kPeakMmiReset;
    window.instrument().state().peakJmaIntensity = kJmaFloor;
    IntensityAlerts& alerts = window.instrument().alerts();
    alerts.intensityClass = 5;
    alerts.countClassChange();
    for (int tick = 0; tick < 4; ++tick) {
        window.uiTick();
    }
    const int firstImage = GetParam().to == 0 ? 130 : 140;
    const int firstImageBefore = GetParam().from == 0 ? 130 : 140;
    ASSERT_TRUE(window.face().imageFrame().image() == intensityImage(firstImageBefore + 5));

    onOpenDialog(window, [this](QDialog& dialog) {
        settings_.pipeline.intensityScale = GetParam().to; // as a Save would
        dialog.reject();
    });
    window.runCommand(ID_CMD_SETTINGS);
    window.face().repaint();
    window.uiTick();
    EXPECT_EQ(fieldTexts()[9], "-3.0");
    EXPECT_TRUE(window.face().imageFrame().image() == intensityImage(firstImage))
        << "class 0 of the new scale";

    // The next display tick decides the class on the new scale.
    alerts.intensityClass = 5;
    alerts.countClassChange();
    window.uiTick();
    EXPECT_TRUE(window.face().imageFrame().image() == intensityImage(firstImage + 5));
}

INSTANTIATE_TEST_SUITE_P(Scales, ScaleChangeWhileStopped,
                         ::testing::Values(ScaleChangeCase{"JmaToMercalli", 0, 1},
                                           ScaleChangeCase{"MercalliToJma", 1, 0}),
                         CaseName());

// After a run on the Mercalli scale its period peak holds the reset value
// (-100): the dialog's re-formatting shows the placeholder, not "-100". A
// peak that is a reading is shown as the display tick formats it.
TEST_F(TrayAndMenus, TheReadoutAfterTheSettingsDialogShowsNoResetValue) {
    struct Case {
        const char* what;
        double peakMmi;
        const char* shown;
    };
    const Case cases[] = {
        {"the reset value", kPeakMmiReset, "-3.0"},
        {"a reading", 4.25, " 4.2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        store_.values["Radio/SiSel"] = 1;
        CKelvoraDlg& window = openShown();
        window.instrument().state().peakMmi = c.peakMmi;
        onOpenDialog(window, [](QDialog& dialog) { dialog.reject(); });
        window.runCommand(ID_CMD_SETTINGS);
        window.uiTick();
        EXPECT_EQ(fieldTexts()[9], c.shown);
        window_.reset();
    }
}

TEST_F(TrayAndMenus, AfterTheLanguageDialogTheButtonsSpeakTheChosenLanguage) {
    CKelvoraDlg& window = openShown(0);
    onOpenDialog(window, [](QDialog& dialog) {
        dynamic_cast<CLangDialog&>(dialog).timerTick(); // its set-up fills the list
        auto* list = dialog.findChild<QComboBox*>();
        ASSERT_NE(list, nullptr);
        list->setCurrentIndex(1);
        dialog.accept();
    });
    window.runCommand(ID_CMD_LANGUAGE);
    EXPECT_EQ(settings_.LanguageIndex, 1);
    EXPECT_EQ(window.face().startButton().text().toStdString(), "Receive Start");
    EXPECT_EQ(window.face().stopButton().text().toStdString(), "Receive Stop");
}

TEST_F(TrayAndMenus, ACloseWhileADialogIsOpenEndsTheDialogAndTheWindow) {
    CKelvoraDlg& window = openShown();
    bool finished = false;
    QObject::connect(&window, &QDialog::finished, [&] { finished = true; });
    onOpenDialog(window, [&window](QDialog&) { window.runCommand(ID_CMD_EXIT); });
    window.runCommand(ID_CMD_SETTINGS); // returns once the dialog has ended
    QApplication::processEvents();
    EXPECT_EQ(window.openDialog(), nullptr);
    EXPECT_TRUE(window.isDestroyed());
    EXPECT_TRUE(finished);
}

} // namespace
} // namespace kelvora::test

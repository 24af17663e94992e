// The main window's keys through the application's key events, on a plain
// window with a fake host: which action each key takes, the velocity
// trigger's cycle and messages, and keys that must do nothing.
#include "monitor/KeyboardShortcuts.h"

#include "support/OffscreenApplication.h"
#include "support/TestNames.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QPushButton>
#include <QWidget>

#include <string>
#include <vector>

namespace kelvora::test {
namespace {

class RecordingHost : public KeyboardShortcutHost {
public:
    void toggleFrame() override { actions.push_back("frame"); }
    void startReception() override { actions.push_back("start"); }
    void stopReceptionIfRunning() override { actions.push_back("stop"); }
    void openLanguageDialog() override { actions.push_back("language"); }
    void openSettingsDialog() override { actions.push_back("settings"); }
    void openManual() override { actions.push_back("manual"); }
    double recordStartVelocity() const override { return velocity; }
    void setRecordStartVelocity(double value) override { velocity = value; }
    void showMessage(const QString& text) override {
        // The value changes only once the message is closed.
        messages.push_back(text.toStdString() + " @" + std::to_string(velocity));
    }
    std::vector<std::string> actions;
    std::vector<std::string> messages;
    double velocity = -0.001;
};

class Keys : public ::testing::Test {
protected:
    void SetUp() override {
        button_ = new QPushButton(&window_); // a control with the focus
    }
    void press(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QKeyEvent event(QEvent::KeyPress, key, modifiers);
        QApplication::sendEvent(button_, &event);
    }

    QApplication& application_ = offscreenApplication(); // before any widget
    QWidget window_;
    QPushButton* button_ = nullptr;
    RecordingHost host_;
    KeyboardShortcuts keys_{window_, host_};
};

struct KeyCase {
    const char* name;
    int key;
    Qt::KeyboardModifiers modifiers;
    std::vector<std::string> actions;
};

class KeyTable : public Keys, public ::testing::WithParamInterface<KeyCase> {};

TEST_P(KeyTable, TakesItsAction) {
    press(GetParam().key, GetParam().modifiers);
    EXPECT_EQ(host_.actions, GetParam().actions);
    EXPECT_TRUE(host_.messages.empty());
}

INSTANTIATE_TEST_SUITE_P(Keys, KeyTable,
                         ::testing::Values(KeyCase{"F1", Qt::Key_F1, Qt::NoModifier, {"manual"}},
                                           KeyCase{"CtrlF1", Qt::Key_F1, Qt::ControlModifier, {}},
                                           KeyCase{"ShiftF1", Qt::Key_F1, Qt::ShiftModifier, {}},
                                           KeyCase{"F2", Qt::Key_F2, Qt::NoModifier, {"frame"}},
                                           KeyCase{"F3", Qt::Key_F3, Qt::NoModifier, {"start"}},
                                           KeyCase{"F4", Qt::Key_F4, Qt::NoModifier, {"stop"}},
                                           KeyCase{"F8", Qt::Key_F8, Qt::NoModifier, {"language"}},
                                           KeyCase{"F9", Qt::Key_F9, Qt::NoModifier, {"settings"}},
                                           KeyCase{"PlainV", Qt::Key_V, Qt::NoModifier, {}},
                                           KeyCase{"CtrlV", Qt::Key_V, Qt::ControlModifier, {}},
                                           KeyCase{"AltS", Qt::Key_S, Qt::AltModifier, {}}),
                         CaseName());

// Escape is the window's own: it decides whether it becomes a cancel.
TEST_F(Keys, EscapeIsLeftToTheWindow) {
    press(Qt::Key_Escape);
    EXPECT_TRUE(host_.actions.empty());
    EXPECT_TRUE(host_.messages.empty());
}

TEST_F(Keys, CtrlAltVCyclesTheVelocityTriggerShowingEachStepFirst) {
    for (int press_ = 0; press_ < 4; ++press_) {
        press(Qt::Key_V, Qt::ControlModifier | Qt::AltModifier);
    }
    EXPECT_EQ(host_.messages,
              (std::vector<std::string>{"波形保存開始速度を、0.013以上に設定 @-0.001000",
                                        "波形保存開始速度を、0.020以上に設定 @0.013000",
                                        "波形保存開始速度を、0.100以上に設定 @0.020000",
                                        "波形保存開始速度は、無効になりました @0.100000"}));
    EXPECT_EQ(host_.velocity, -0.001);
}

TEST_F(Keys, VelocityTriggerStepsFromStoredValues) {
    const std::pair<double, double> cases[] = {
        {0.0, 0.020}, {0.05, -0.001}, {0.0135, 0.020}, {0.0205, 0.100}, {-5.0, 0.013}};
    for (const auto& [from, to] : cases) {
        host_.velocity = from;
        keys_.stepVelocityTrigger();
        EXPECT_EQ(host_.velocity, to) << "from " << from;
    }
}

TEST_F(Keys, CtrlAltSShowsTheTrigger) {
    host_.velocity = 0.013;
    press(Qt::Key_S, Qt::ControlModifier | Qt::AltModifier);
    host_.velocity = -0.001;
    press(Qt::Key_S, Qt::ControlModifier | Qt::AltModifier);
    EXPECT_EQ(host_.messages, (std::vector<std::string>{
                                  "波形保存開始速度は、    0.013以上に設定されています @0.013000",
                                  "波形保存開始速度は、無効になっています @-0.001000"}));
}

TEST_F(Keys, KeysOfOtherWindowsAreLeftAlone) {
    QWidget other;
    QKeyEvent event(QEvent::KeyPress, Qt::Key_F2, Qt::NoModifier);
    QApplication::sendEvent(&other, &event);
    EXPECT_TRUE(host_.actions.empty());
}

} // namespace
} // namespace kelvora::test

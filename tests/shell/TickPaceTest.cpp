// The window's tick keeps the quick pace while it has something to follow
// closely (the start-up steps, a drag, a stop being completed) and the steady
// pace otherwise, so that an idle monitor wakes up less often.
#include "../link/PseudoTerminal.h"
#include "MonitorWindowFixture.h"
#include "support/Waiting.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>

namespace kelvora::test {
namespace {

constexpr int kQuick = 10;
constexpr int kSteady = 100;

class TickPace : public MonitorWindow {
protected:
    void SetUp() override {
        MonitorWindow::SetUp();
        const fs::path ports = temporary_ / "data" / "Vantrell" / "Kelvora" / "ports";
        fs::create_directories(ports);
        fs::create_symlink(line_.slavePath(), ports / "COM251");
        store_.values["Port/Number"] = 250;
        timings_ = ReceptionTimings{0ms, 0, 300ms, 200ms};
    }

    static void sendMouse(CKelvoraDlg& window, QEvent::Type type) {
        QMouseEvent event(
            type, QPointF(20, 20), window.mapToGlobal(QPointF(20, 20)), Qt::LeftButton,
            type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(&window, &event);
    }

    PseudoTerminal line_;
};

TEST_F(TickPace, QuickForTheStartUpStepsADragAndAStopSteadyOtherwise) {
    CKelvoraDlg& window = open();
    EXPECT_EQ(window.tickInterval(), kQuick) << "the start-up steps come one per tick";
    for (int tick = 0; tick < 3; ++tick) {
        window.uiTick();
        EXPECT_EQ(window.tickInterval(), kQuick) << "after tick " << tick + 1;
    }
    window.uiTick();
    EXPECT_EQ(window.tickInterval(), kSteady) << "start-up done, nothing to follow";

    // A drag is followed from its first tick on, until the button is released.
    sendMouse(window, QEvent::MouseButtonPress);
    EXPECT_EQ(window.tickInterval(), kQuick);
    window.uiTick();
    EXPECT_EQ(window.tickInterval(), kQuick);
    sendMouse(window, QEvent::MouseButtonRelease);
    window.uiTick();
    EXPECT_EQ(window.tickInterval(), kSteady);

    // A stop is completed at the quick pace; then steady again.
    window.startReception();
    ASSERT_EQ(window.instrument().reception().runState(), ReceptionControl::Running);
    window.uiTick();
    EXPECT_EQ(window.tickInterval(), kSteady) << "receiving needs no quick ticks";
    window.stopReception();
    EXPECT_EQ(window.tickInterval(), kQuick);
    ASSERT_TRUE(waitFor(
        [&] {
            window.uiTick();
            return window.instrument().reception().runState() == ReceptionControl::Idle &&
                   window.instrument().reception().stopRequested() == 0;
        },
        30s));
    EXPECT_EQ(window.tickInterval(), kSteady);
}

} // namespace
} // namespace kelvora::test

// The window's look of the line's health, offscreen with a pseudo-terminal (or
// kelvora-sim on a COM number) as the sensor: the no-data tile in the class image's place, the
// read-outs' placeholders and the tray's tooltip while no frame comes or the device has gone, and
// the normal face again once frames come back.
#include "../link/PseudoTerminal.h"
#include "MonitorWindowFixture.h"
#include "core/SensorFrame.h"
#include "monitor/MonitorFace.h"
#include "monitor/PeriodicUpdate.h"
#include "support/Reception.h"
#include "support/TestNames.h"
#include "support/Waiting.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QString>

#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

namespace kelvora::test {
namespace {

// Keeps the tooltip the window last gave the icon.
struct TipRecord {
    std::mutex mutex;
    QString tip;
};

class TipTray : public TrayIcon {
public:
    explicit TipTray(std::shared_ptr<TipRecord> record) : record_(std::move(record)) {}
    bool available() override { return false; }
    void add(const QIcon&, const QString& tip, QMenu*) override { setTip(tip); }
    void setTip(const QString& tip) override {
        std::lock_guard lock(record_->mutex);
        record_->tip = tip;
    }
    void remove() override {}

private:
    std::shared_ptr<TipRecord> record_;
};

class LineHealthWindow : public MonitorWindow {
protected:
    void SetUp() override {
        MonitorWindow::SetUp();
        const fs::path ports = temporary_ / "data" / "Vantrell" / "Kelvora" / "ports";
        fs::create_directories(ports);
        fs::create_symlink(line_->slavePath(), ports / "COM250");
        store_.values["Port/Number"] = 249;
        timings_ = ReceptionTimings{0ms, 0, 300ms, 200ms};
        trayIcon_ = [record = tips_] { return std::make_unique<TipTray>(record); };
    }

    // Display periods of a quiet sensor (class 0 throughout) with a
    // temperature, so the read-outs change.
    void send(int periods) {
        std::vector<std::uint8_t> bytes;
        for (int i = 0; i < periods * 25; ++i) {
            FrameValues values;
            values.temperature = 21.5f;
            const FrameBytes frame = encodeFrame(values);
            bytes.insert(bytes.end(), frame.begin(), frame.end());
        }
        line_->write(bytes.data(), bytes.size());
    }
    // Ticks the window until `condition` holds.
    template <typename Condition> bool tickUntil(CKelvoraDlg& window, Condition condition) {
        return waitFor(
            [&] {
                window.uiTick();
                return condition();
            },
            kGuard);
    }
    QString tip() {
        std::lock_guard lock(tips_->mutex);
        return tips_->tip;
    }
    QColor tilePixel(CKelvoraDlg& window) {
        return pixelAt(window.face(), MonitorFace::imageRect().topLeft() + QPoint(2, 2));
    }

    static constexpr std::chrono::milliseconds kGuard{30'000};
    std::unique_ptr<PseudoTerminal> line_ = std::make_unique<PseudoTerminal>();
    std::shared_ptr<TipRecord> tips_ = std::make_shared<TipRecord>();
};

std::vector<std::string> noDataTexts() {
    std::vector<std::string> texts;
    for (const FieldText& text : PeriodicUpdate::noDataFieldTexts()) {
        texts.emplace_back(text.view());
    }
    return texts;
}

TEST_F(LineHealthWindow, ASilentLineShowsTheNoDataFaceAndFramesBringTheNormalOneBack) {
    CKelvoraDlg& window = open(1); // English
    for (int tick = 0; tick < 4; ++tick) {
        window.uiTick(); // past the start-up steps, which draw the image once
    }
    const QColor classImage = tilePixel(window);
    const QString usualTip = tip();
    window.startReception();
    ASSERT_EQ(window.instrument().reception().runState(), ReceptionControl::Running);
    send(2);
    ASSERT_TRUE(tickUntil(window, [&] { return fieldTexts()[4] == " 21.5"; }));
    EXPECT_FALSE(window.face().imageFrame().showsNoData());

    // Quiet: placeholders, the grey tile with the time frames were last seen.
    ASSERT_TRUE(tickUntil(window, [&] { return window.face().imageFrame().showsNoData(); }));
    EXPECT_EQ(fieldTexts(), noDataTexts()) << "no stale values";
    EXPECT_EQ(window.face().imageFrame().noDataCaption(), "No data");
    EXPECT_EQ(window.face().imageFrame().noDataSince(), "09:26:53");
    EXPECT_EQ(tilePixel(window), IntensityImageFrame::kNoDataGrey);
    EXPECT_TRUE(tip().contains("No data since 09:26:53")) << tip().toStdString();

    // Frames again: all as before, by itself.
    send(2);
    ASSERT_TRUE(tickUntil(window, [&] { return !window.face().imageFrame().showsNoData(); }));
    ASSERT_TRUE(tickUntil(window, [&] { return fieldTexts()[4] == " 21.5"; }));
    EXPECT_EQ(tilePixel(window), classImage);
    EXPECT_EQ(tip(), usualTip);
}

// The two ways a user stops: the stop button and F4.
struct StopWay {
    const char* name;
    bool key;
};
void PrintTo(const StopWay& way, std::ostream* os) {
    *os << way.name;
}

class RetryingStop : public LineHealthWindow, public ::testing::WithParamInterface<StopWay> {};

TEST_P(RetryingStop, AGoneDeviceIsShownRetryingUntilTheUserStops) {
    CKelvoraDlg& window = open(1);
    window.startReception();
    send(1);
    ASSERT_TRUE(tickUntil(window, [&] { return fieldTexts()[4] == " 21.5"; }));

    line_->closeMaster();
    line_->releaseHolder();
    ASSERT_TRUE(tickUntil(window, [&] {
        return window.face().imageFrame().noDataCaption() == "Sensor disconnected, retrying";
    }));
    EXPECT_TRUE(window.face().imageFrame().showsNoData());
    EXPECT_EQ(fieldTexts(), noDataTexts());
    EXPECT_EQ(window.instrument().reception().lineState(), LineState::Retrying);

    if (GetParam().key) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_F4, Qt::NoModifier);
        QApplication::sendEvent(&window.face().stopButton(), &press); // the focus
    } else {
        window.face().stopButton().click();
    }
    ASSERT_TRUE(tickUntil(window, [&] { return window.face().startButton().isEnabled(); }));
    EXPECT_EQ(window.instrument().reception().runState(), ReceptionControl::Idle);
    EXPECT_FALSE(window.face().imageFrame().showsNoData()) << "a stopped monitor shows no tile";
}

INSTANTIATE_TEST_SUITE_P(Ways, RetryingStop,
                         ::testing::Values(StopWay{"StopButton", false}, StopWay{"F4", true}),
                         CaseName{});

// The real simulator on its COM number: killed, as a cable pulled out, and
// started again on the same number, as the adapter plugged in again.
TEST_F(LineHealthWindow, AKilledSimulatorShowsTheDisconnectedFaceAndItsRestartTheNormalOne) {
    constexpr int kCom = 252;
    SimulatorOnCom simulator(KELVORA_SIM_PATH, kCom, temporary_ / "data");
    ASSERT_TRUE(simulator.start());
    store_.values["Port/Number"] = kCom - 1;
    CKelvoraDlg& window = open(1);
    window.startReception();
    ReceptionControl& reception = window.instrument().reception();
    ASSERT_EQ(reception.runState(), ReceptionControl::Running);
    ASSERT_TRUE(tickUntil(window, [&] { return reception.framesReceived() > 50; }));
    ASSERT_TRUE(tickUntil(window, [&] { return fieldTexts() != noDataTexts(); }));
    EXPECT_FALSE(window.face().imageFrame().showsNoData());

    ASSERT_GT(simulator.kill(), -1);
    ASSERT_TRUE(tickUntil(window, [&] {
        return window.face().imageFrame().noDataCaption() == "Sensor disconnected, retrying";
    }));
    EXPECT_TRUE(window.face().imageFrame().showsNoData());
    EXPECT_EQ(fieldTexts(), noDataTexts());

    ASSERT_TRUE(simulator.start());
    const std::uint32_t framesBefore = reception.framesReceived();
    ASSERT_TRUE(tickUntil(window, [&] { return reception.framesReceived() > framesBefore + 50; }));
    ASSERT_TRUE(tickUntil(window, [&] { return !window.face().imageFrame().showsNoData(); }));
    ASSERT_TRUE(tickUntil(window, [&] { return fieldTexts() != noDataTexts(); }));
    EXPECT_EQ(reception.runState(), ReceptionControl::Running);
}

} // namespace
} // namespace kelvora::test

// A quake on the simulated sensor while the window is out of sight,
// offscreen with a fake notification area and a fake desktop service: one
// notification naming the class and the intensity, a click on it that brings
// the window back, and the tray icon's look during the shaking.
#include "MonitorWindowFixture.h"

#include "monitor/IntensityImages.h"
#include "shell/DesktopNotifications.h"
#include "support/Reception.h"
#include "support/Waiting.h"

#include <gtest/gtest.h>

#include <QApplication>

#include <memory>
#include <string>
#include <vector>

namespace kelvora::test {
namespace {

constexpr int kComNumber = 187;

struct Record {
    bool trayAvailable = false;
    std::vector<std::string> trayMessages;
    std::vector<QString> tips;
    int iconChanges = 0;
    std::vector<std::string> desktopCalls;
    DesktopNotifications* desktop = nullptr;
};

class Tray : public TrayIcon {
public:
    explicit Tray(std::shared_ptr<Record> record) : record_(std::move(record)) {}
    bool available() override { return record_->trayAvailable; }
    void add(const QIcon&, const QString& tip, QMenu*) override { setTip(tip); }
    void setTip(const QString& tip) override { record_->tips.push_back(tip); }
    void setIcon(const QIcon&) override { ++record_->iconChanges; }
    void showMessage(const QString&, const QString& text) override {
        record_->trayMessages.push_back(text.toStdString());
    }
    void remove() override {}

private:
    std::shared_ptr<Record> record_;
};

class Desktop : public DesktopNotifications {
public:
    explicit Desktop(std::shared_ptr<Record> record) : record_(std::move(record)) {
        record_->desktop = this;
    }
    ~Desktop() override { record_->desktop = nullptr; }
    void show(const QString&, const QString& text) override {
        record_->desktopCalls.push_back("show " + text.toStdString());
    }
    void update(const QString&, const QString& text) override {
        record_->desktopCalls.push_back("update " + text.toStdString());
    }

private:
    std::shared_ptr<Record> record_;
};

class QuakeOutOfSight : public MonitorWindow {
protected:
    void SetUp() override {
        MonitorWindow::SetUp();
        trayIcon_ = [record = record_] { return std::make_unique<Tray>(record); };
        // The quake starts 2 s into the stream and reaches intensity 4.0.
        ASSERT_TRUE(simulator_.start({"--seed", "3", "--quake", "4.0@2:6"}));
        store_.values["Port/Number"] = simulator_.portIndex();
    }

    CKelvoraDlg& openMinimised() {
        desktopNotifications_ = [record = record_] { return std::make_unique<Desktop>(record); };
        CKelvoraDlg& window = open(1); // English
        window.show();
        window.showMinimized();
        QApplication::processEvents();
        window.uiTick(); // into the tray when there is one
        return window;
    }

    // Ticks the window, as its timer would, until `condition` holds.
    template <typename Condition> bool tickUntil(CKelvoraDlg& window, Condition condition) {
        return waitFor(
            [&] {
                QApplication::processEvents();
                window.uiTick();
                return condition();
            },
            kReceptionGuard, 10ms);
    }

    static bool namesClassFour(const std::string& text) {
        return text.find("Intensity 4 (JMA 4.") != std::string::npos ||
               text.find("Intensity 4 (JMA 3.") != std::string::npos;
    }

    std::shared_ptr<Record> record_ = std::make_shared<Record>();
    SimulatorOnCom simulator_{KELVORA_SIM_PATH, kComNumber, temporary_ / "data"};
};

TEST_F(QuakeOutOfSight, InTheTrayGivesANotificationWithClassAndIntensityAndItsClickShowsTheWindow) {
    record_->trayAvailable = true;
    CKelvoraDlg& window = openMinimised();
    ASSERT_FALSE(window.isVisible());
    window.startReception();
    ASSERT_EQ(window.instrument().reception().runState(), ReceptionControl::Running);

    bool shaking = false;
    ASSERT_TRUE(tickUntil(window, [&] {
        shaking = shaking || record_->tips.back().startsWith("Kelvora\nIntensity ");
        return !record_->trayMessages.empty() && namesClassFour(record_->trayMessages.back());
    }));
    EXPECT_TRUE(shaking) << "the tooltip gives the intensity";
    EXPECT_GE(record_->iconChanges, 1) << "the icon shows the class";
    EXPECT_LE(record_->trayMessages.size(), 2u) << "at the start, then class 4";
    EXPECT_TRUE(record_->desktopCalls.empty());
    EXPECT_FALSE(window.isVisible()) << "RaiseWindow is off";

    window.trayIcon().messageClicked();
    QApplication::processEvents();
    EXPECT_TRUE(window.isVisible());
    EXPECT_FALSE(window.isMinimized());
    EXPECT_EQ(window.trayHiddenState(), 2);
}

TEST_F(QuakeOutOfSight, WithoutATrayGoesToTheDesktopServiceOnceAndItsClickShowsTheWindow) {
    CKelvoraDlg& window = openMinimised();
    ASSERT_TRUE(window.isMinimized()) << "no tray: it stays minimised";
    window.startReception();
    ASSERT_EQ(window.instrument().reception().runState(), ReceptionControl::Running);

    ASSERT_TRUE(tickUntil(window, [&] {
        return !record_->desktopCalls.empty() && namesClassFour(record_->desktopCalls.back());
    }));
    ASSERT_LE(record_->desktopCalls.size(), 2u);
    EXPECT_EQ(record_->desktopCalls.front().rfind("show Intensity ", 0), 0u)
        << record_->desktopCalls.front();
    if (record_->desktopCalls.size() == 2) {
        EXPECT_EQ(record_->desktopCalls.back().rfind("update Intensity 4", 0), 0u);
    }
    EXPECT_TRUE(record_->trayMessages.empty());

    ASSERT_NE(record_->desktop, nullptr);
    record_->desktop->clicked();
    QApplication::processEvents();
    EXPECT_TRUE(window.isVisible());
    EXPECT_FALSE(window.isMinimized());
}

TEST_F(QuakeOutOfSight, RaiseWindowBringsTheHiddenWindowToTheFront) {
    record_->trayAvailable = true;
    store_.values["Alert/RaiseWindow"] = 1;
    CKelvoraDlg& window = openMinimised();
    ASSERT_FALSE(window.isVisible());
    window.startReception();
    ASSERT_TRUE(tickUntil(window, [&] { return window.isVisible(); }));
    EXPECT_FALSE(window.isMinimized());
    EXPECT_EQ(window.trayHiddenState(), 2);
    EXPECT_FALSE(record_->trayMessages.empty()) << "and the notification";
}

} // namespace
} // namespace kelvora::test

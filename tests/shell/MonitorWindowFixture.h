#pragma once

// The main window offscreen, in a temporary working folder with an in-memory
// settings store, and a shared block of the test's own.
#include "shell/CKelvoraDlg.h"

#include "monitor/MonitorFace.h"
#include "monitor/SoundPlayer.h"
#include "settings/Language.h"
#include "support/MemorySettingsStore.h"
#include "support/OffscreenApplication.h"
#include "support/TemporaryFolder.h"

#include <gtest/gtest.h>

#include <QColor>
#include <QDir>
#include <QImage>
#include <QWidget>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace kelvora::test {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class SilentPlayer : public SoundPlayer {
public:
    bool play(const std::string&) override { return true; }
};

inline QColor pixelAt(QWidget& widget, QPoint point) {
    return widget.grab().toImage().pixelColor(point);
}

class MonitorWindow : public ::testing::Test {
protected:
    void SetUp() override {
        offscreenApplication();
        fs::create_directories(work_);
        ::setenv("HOME", temporary_.string().c_str(), 1);
        ::setenv("XDG_DATA_HOME", (temporary_ / "data").c_str(), 1);
        previousFolder_ = QDir::currentPath();
        QDir::setCurrent(QString::fromStdString(work_.string()));
    }
    void TearDown() override {
        window_.reset();
        QDir::setCurrent(previousFolder_);
        applyLanguage(0);
    }

    CKelvoraDlg& open(int language = 0) {
        applyLanguage(language);
        MonitorWindowOptions options;
        options.instrument.publicationName = blockName_;
        options.instrument.readTimeout = 100ms;
        options.instrument.timings = timings_;
        options.startTimer = false;
        options.clock = [] { return LocalTime{2026, 3, 14, 9, 26, 53, 0}; };
        options.trayIcon = trayIcon_;
        options.desktopNotifications = desktopNotifications_;
        options.help = help_;
        window_ = std::make_unique<CKelvoraDlg>(settings_, store_, std::make_shared<SilentPlayer>(),
                                                options);
        return *window_;
    }

    std::vector<std::string> fieldTexts() {
        std::vector<std::string> texts;
        for (int i = 0; i < MonitorFace::kFieldCount; ++i) {
            texts.push_back(window_->face().field(i).text().toStdString());
        }
        return texts;
    }

    TemporaryFolder temporary_{"kelvora-window"};
    const fs::path work_ = temporary_ / "work";
    QString previousFolder_;
    std::string blockName_ = "/kelvora-window-test-" + std::to_string(::getpid());
    MemorySettingsStore store_;
    Settings settings_;
    // The desktop's own tray when empty.
    std::function<std::unique_ptr<TrayIcon>()> trayIcon_;
    // The desktop's notification service when empty.
    std::function<std::unique_ptr<DesktopNotifications>()> desktopNotifications_;
    // No settling at a start; the line's health and retry timings as the product's.
    ReceptionTimings timings_{0ms, 0};
    // F1's manual; nothing when empty.
    std::function<void(QWidget& asking)> help_;
    std::unique_ptr<CKelvoraDlg> window_;
};

} // namespace kelvora::test

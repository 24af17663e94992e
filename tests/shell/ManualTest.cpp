// F1 and the manual: F1 asks for the manual from the main window and from
// each of its dialogs, and the opener reports what it could not open above
// the window that asked, also when that one stays on top.
#include "MonitorWindowFixture.h"

#include "shell/Commands.h"
#include "shell/ManualOpener.h"
#include "support/TemporaryFolder.h"
#include "support/TestNames.h"
#include "support/Waiting.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QKeyEvent>
#include <QMessageBox>
#include <QTimer>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace kelvora::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

void pressF1(QWidget& target, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QWidget* focus = target.focusWidget();
    QKeyEvent event(QEvent::KeyPress, Qt::Key_F1, modifiers);
    QApplication::sendEvent(focus != nullptr ? focus : &target, &event);
}

struct HelpCase {
    const char* name;
    int command; // opens the dialog; 0: F1 in the main window itself
};

class HelpKey : public MonitorWindow, public ::testing::WithParamInterface<HelpCase> {
protected:
    HelpKey() {
        help_ = [this](QWidget& asking) { asked_.push_back(&asking); };
    }
    std::vector<QWidget*> asked_;
};

TEST_P(HelpKey, F1AsksForTheManualFromTheWindowItWasPressedIn) {
    CKelvoraDlg& window = open();
    window.show();
    QWidget* pressedIn = nullptr;
    const auto pressKeys = [&](QWidget& target) {
        pressedIn = &target;
        pressF1(target, Qt::ControlModifier);
        pressF1(target, Qt::ShiftModifier);
        pressF1(target);
    };
    if (GetParam().command == 0) {
        pressKeys(window);
    } else {
        QTimer::singleShot(0, &window, [&] {
            QWidget* dialog = QApplication::activeModalWidget();
            ASSERT_NE(dialog, nullptr);
            pressKeys(*dialog);
            dialog->close();
        });
        window.runCommand(GetParam().command);
    }
    ASSERT_NE(pressedIn, nullptr);
    EXPECT_EQ(asked_, (std::vector<QWidget*>{pressedIn})) << "once, for F1 alone";
}

INSTANTIATE_TEST_SUITE_P(Windows, HelpKey,
                         ::testing::Values(HelpCase{"MainWindow", 0},
                                           HelpCase{"SettingsDialog", ID_CMD_SETTINGS},
                                           HelpCase{"LanguageDialog", ID_CMD_LANGUAGE},
                                           HelpCase{"AboutBox", ID_CMD_ABOUT}),
                         CaseName());

// The message box the opener shows, as it was when it appeared.
struct SeenBox {
    std::string text;
    QWidget* parent = nullptr;
    bool staysOnTop = false;
};

struct OpenerCase {
    const char* name;
    bool manualPresent;
    // The opener's script body; empty: an opener that does not exist.
    const char* script;
    bool message;
};

class Manual : public ::testing::TestWithParam<OpenerCase> {
protected:
    void SetUp() override {
        fs::create_directories(work_);
        previousFolder_ = QDir::currentPath();
        QDir::setCurrent(QString::fromStdString(work_.string()));
        asking_.setWindowFlag(Qt::WindowStaysOnTopHint);
        asking_.show();
        // Each box is noted and closed as soon as it is up.
        QObject::connect(&watch_, &QTimer::timeout, [this] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                boxes_.push_back({box->text().toStdString(), box->parentWidget(),
                                  box->windowFlags().testFlag(Qt::WindowStaysOnTopHint)});
                box->close();
            }
        });
        watch_.start(1);
    }
    void TearDown() override { QDir::setCurrent(previousFolder_); }

    QApplication& application_ = offscreenApplication(); // before any widget
    TemporaryFolder temporary_{"kelvora-manual"};
    const fs::path work_ = temporary_ / "work";
    const fs::path arguments_ = temporary_ / "arguments";
    QString previousFolder_;
    QWidget asking_;
    QTimer watch_;
    std::vector<SeenBox> boxes_;
};

TEST_P(Manual, WhatCannotBeOpenedIsReportedAboveTheAskingWindow) {
    const fs::path manual = work_ / "取扱説明書.txt";
    if (GetParam().manualPresent) {
        std::ofstream(manual) << "manual\n";
    }
    fs::path opener = temporary_ / "no-such-opener";
    if (*GetParam().script != '\0') {
        opener = temporary_ / "opener";
        std::ofstream(opener) << "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" << arguments_.string()
                              << "'\n"
                              << GetParam().script << "\n";
        fs::permissions(opener, fs::perms::owner_all);
    }
    {
        ManualOpener manualOpener(QString::fromStdString(opener.string()));
        manualOpener.open(asking_);
        ASSERT_TRUE(waitFor(
            [&] {
                QApplication::processEvents();
                return manualOpener.pending() == 0;
            },
            20s));
    }
    if (!GetParam().message) {
        EXPECT_TRUE(boxes_.empty()) << boxes_.front().text;
    } else {
        ASSERT_EQ(boxes_.size(), 1u);
        EXPECT_EQ(boxes_[0].text, "ファイルを開けません。");
        EXPECT_EQ(boxes_[0].parent, &asking_);
        EXPECT_TRUE(boxes_[0].staysOnTop) << "above a window that stays on top";
    }
    if (GetParam().manualPresent && *GetParam().script != '\0') {
        std::ifstream arguments(arguments_);
        std::string argument;
        std::getline(arguments, argument);
        EXPECT_EQ(fs::path(argument), manual) << "the opener is given the manual";
    }
}

INSTANTIATE_TEST_SUITE_P(Openers, Manual,
                         ::testing::Values(OpenerCase{"Opened", true, "exit 0", false},
                                           OpenerCase{"NoManual", false, "exit 0", true},
                                           OpenerCase{"TheOpenerFails", true, "exit 4", true},
                                           OpenerCase{"TheOpenerIsKilled", true, "kill -9 $$",
                                                      true},
                                           OpenerCase{"NoOpener", true, "", true}),
                         CaseName());

} // namespace
} // namespace kelvora::test

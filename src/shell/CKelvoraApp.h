#pragma once

#include "settings/Settings.h"
#include "shell/ManualOpener.h"
#include "shell/SingleInstance.h"

#include <QString>

#include <chrono>

namespace kelvora {

// The program from start to end: one instance per user (a second start
// brings the first one's window to the front and ends), the stored language
// applied, the main window run for the whole life of the program.
class CKelvoraApp {
public:
    // The name of the single-instance lock.
    static constexpr const char* kInstanceName = "Kelvora.exe";
    // How long a second start waits for the running one to show its window.
    static constexpr std::chrono::milliseconds kActivationLimit{5000};

    // Runs the program; returns its exit status. A QApplication must exist.
    int run();

    // The settings store's name: the executable's name without extension.
    static QString applicationName();

private:
    SingleInstance instance_;
    Settings settings_;
    ManualOpener manual_; // F1 in any of the program's windows
};

} // namespace kelvora

#pragma once

#include "settings/Settings.h"
#include "shell/ManualOpener.h"
#include "shell/SingleInstance.h"

#include <QString>

namespace kelvora {

// The program from start to end: one instance per user, the stored language
// applied, the main window run modally for the whole life of the program.
class CKelvoraApp {
public:
    // The name of the single-instance lock.
    static constexpr const char* kInstanceName = "Kelvora.exe";

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

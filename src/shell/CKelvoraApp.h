#pragma once

#include "settings/Settings.h"
#include "shell/SingleInstance.h"

#include <QString>

namespace kelvora {

// The program from start to end: one instance per user, the stored language
// applied, the main window run modally for the whole life of the program.
class CKelvoraApp {
public:
    // The name of the single-instance lock.
    static constexpr const char* kInstanceName = "Kelvora.exe";
    // The user manual F1 opens, in the working folder.
    static constexpr const char* kManual = "取扱説明書.txt";

    // Runs the program; returns its exit status. A QApplication must exist.
    int run();

    // F1: opens the manual with the desktop's viewer, or says it cannot.
    static void openManual();
    // The settings store's name: the executable's name without extension.
    static QString applicationName();

private:
    SingleInstance instance_;
    Settings settings_;
};

} // namespace kelvora

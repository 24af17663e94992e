#include "shell/CKelvoraApp.h"
#include "shell/LinuxWorkingFolder.h"

#include <QApplication>

#include <clocale>
#include <csignal>
#include <iostream>

int main(int argc, char* argv[]) {
    // Under a file size limit a recording's write then fails, which the
    // recorder handles, instead of the signal ending the program.
    std::signal(SIGXFSZ, SIG_IGN);
    // Before anything reads the sounds, images or manual: a start from the
    // desktop menu works in the user's data folder (shell/WorkingFolder.h).
    kelvora::LinuxWorkingFolder workingFolder;
    kelvora::enterWorkingFolder(workingFolder, std::cerr);

    QApplication application(argc, argv);
    // Lets the desktop match the window to its menu entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral(KELVORA_APP_ID));
    // Qt takes the user's locale for the C library too; numbers the program
    // formats or reads with it keep the decimal point whatever the locale.
    std::setlocale(LC_NUMERIC, "C");
    kelvora::CKelvoraApp program;
    return program.run();
}

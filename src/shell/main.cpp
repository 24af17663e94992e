#include "shell/CKelvoraApp.h"

#include <QApplication>

#include <clocale>

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    // Qt takes the user's locale for the C library too; numbers the program
    // formats or reads with it keep the decimal point whatever the locale.
    std::setlocale(LC_NUMERIC, "C");
    kelvora::CKelvoraApp program;
    return program.run();
}

#include "shell/CKelvoraApp.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    kelvora::CKelvoraApp program;
    return program.run();
}

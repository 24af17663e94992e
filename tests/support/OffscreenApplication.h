#pragma once

#include <QApplication>
#include <QByteArray>

namespace kelvora::test {

// The one QApplication of a widget test binary, on the offscreen platform.
// Made on first use: call it before the first widget exists, also in a test
// run alone.
inline QApplication& offscreenApplication() {
    static int argc = 1;
    static char name[] = "kelvora-widget-test";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        if (auto* existing = qobject_cast<QApplication*>(QCoreApplication::instance())) {
            return existing;
        }
        qputenv("QT_QPA_PLATFORM", "offscreen");
        return new QApplication(argc, argv);
    }();
    return *app;
}

} // namespace kelvora::test

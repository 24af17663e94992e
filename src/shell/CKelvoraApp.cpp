#include "shell/CKelvoraApp.h"

#include "monitor/AlsaSoundPlayer.h"
#include "monitor/Fonts.h"
#include "monitor/IntensityImages.h"
#include "settings/Language.h"
#include "settings/QtSettingsStore.h"
#include "settings/Resources.h"
#include "shell/CKelvoraDlg.h"
#include "shell/MessageBox.h"
#include "shell/TerminationSignals.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QUrl>

namespace kelvora {

QString CKelvoraApp::applicationName() {
    return QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
}

void CKelvoraApp::openManual() {
    const QString path = QDir::current().absoluteFilePath(QString::fromUtf8(kManual));
    if (!QFileInfo(path).isFile() || !QDesktopServices::openUrl(QUrl::fromLocalFile(path))) {
        showMessageBox(nullptr, messageText(Message::CannotOpenFile));
    }
}

int CKelvoraApp::run() {
    installFontSubstitutions();
    QApplication::setWindowIcon(applicationIcon());
    QtSettingsStore store(applicationName());

    if (instance_.acquire(kInstanceName) == SingleInstance::Result::AlreadyRunning) {
        // The running instance is neither activated nor told.
        showMessageBox(nullptr, messageText(Message::AlreadyRunning));
        return 0;
    }

    settings_.loadLanguage(store);
    applyLanguage(settings_.LanguageIndex);

    MonitorWindowOptions options;
    options.help = &CKelvoraApp::openManual;
    options.releaseInstance = [this] { instance_.release(); };
    CKelvoraDlg window(settings_, store, std::make_shared<AlsaSoundPlayer>(), options);
    // kill, Ctrl-C and the end of the session close the window the normal way.
    TerminationSignals termination([&window](int) { window.close(); });
    // The window's run lasts until it is closed. Not QDialog::exec(): the
    // frame and stay-on-top changes re-create the native window, and a
    // modal run would take the momentary hide for the end.
    QEventLoop run;
    QObject::connect(&window, &QDialog::finished, &run, &QEventLoop::quit);
    window.show();
    run.exec();
    return 0;
}

} // namespace kelvora

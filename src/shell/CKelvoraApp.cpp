#include "shell/CKelvoraApp.h"

#include "monitor/AlsaSoundPlayer.h"
#include "monitor/Fonts.h"
#include "monitor/IntensityImages.h"
#include "settings/Language.h"
#include "settings/QtSettingsStore.h"
#include "settings/Resources.h"
#include "shell/CKelvoraDlg.h"
#include "shell/InstanceActivation.h"
#include "shell/MessageBox.h"
#include "shell/TerminationSignals.h"

#include <QApplication>
#include <QEventLoop>
#include <QFileInfo>

namespace kelvora {

QString CKelvoraApp::applicationName() {
    return QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
}

int CKelvoraApp::run() {
    installFontSubstitutions();
    QApplication::setWindowIcon(applicationIcon());
    QtSettingsStore store(applicationName());

    const SingleInstance::Result instance = instance_.acquire(kInstanceName);
    settings_.loadLanguage(store);
    applyLanguage(settings_.LanguageIndex);
    if (instance == SingleInstance::Result::AlreadyRunning) {
        // The running monitor shows its window; the user hears of the second
        // start only when it cannot be reached (hung, or of an older kind).
        if (!requestActivation(activationSocketPath(instance_.path()), kActivationLimit)) {
            showMessageBox(nullptr, messageText(Message::AlreadyRunning));
        }
        return 0;
    }

    MonitorWindowOptions options;
    options.help = [this](QWidget& asking) { manual_.open(asking); };
    options.releaseInstance = [this] { instance_.release(); };
    CKelvoraDlg window(settings_, store, std::make_shared<AlsaSoundPlayer>(), options);
    // kill, Ctrl-C and the end of the session close the window the normal
    // way, also while a message box or menu is open.
    TerminationSignals termination([&window](int) { window.closeOnTerminationSignal(); });
    ActivationServer activation;
    if (instance == SingleInstance::Result::Acquired) {
        activation.showWindow = [&window] { window.bringToFront(); };
        activation.listen(activationSocketPath(instance_.path()));
    }
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

#include "shell/ManualOpener.h"

#include "settings/Resources.h"
#include "shell/MessageBox.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QWidget>

namespace kelvora {

ManualOpener::ManualOpener(QString opener) : opener_(std::move(opener)) {}

ManualOpener::~ManualOpener() {
    // Not QProcess's own end, which warns about a process still running.
    for (QProcess* process : findChildren<QProcess*>()) {
        process->disconnect(this);
        if (process->state() != QProcess::NotRunning) {
            process->kill();
            process->waitForFinished(1000);
        }
    }
}

void ManualOpener::open(QWidget& asking) {
    const QPointer<QWidget> window(&asking);
    const QString path = QDir::current().absoluteFilePath(messageText(Message::ManualFile));
    if (!QFileInfo(path).isFile()) {
        fail(window);
        return;
    }
    // The desktop's opener may only hand the file on, or run the viewer
    // until it is closed: its end is awaited without blocking, and only a
    // failure is reported. Its messages go to our standard error.
    auto* process = new QProcess(this);
    process->setProgram(opener_);
    process->setArguments({path});
    process->setProcessChannelMode(QProcess::ForwardedChannels);
    process->setStandardInputFile(QProcess::nullDevice());
    connect(process, &QProcess::errorOccurred, this,
            [this, process, window](QProcess::ProcessError error) {
                if (error != QProcess::FailedToStart) {
                    return; // the end follows as finished()
                }
                process->deleteLater();
                --pending_;
                fail(window);
            });
    connect(process, &QProcess::finished, this,
            [this, process, window](int exitCode, QProcess::ExitStatus status) {
                process->deleteLater();
                --pending_;
                if (status != QProcess::NormalExit || exitCode != 0) {
                    fail(window);
                }
            });
    ++pending_;
    process->start();
}

void ManualOpener::fail(const QPointer<QWidget>& asking) {
    // The window F1 was pressed in may have closed meanwhile.
    QWidget* parent =
        asking != nullptr && asking->isVisible() ? asking.data() : QApplication::activeWindow();
    showMessageBox(parent, messageText(Message::CannotOpenFile));
}

} // namespace kelvora

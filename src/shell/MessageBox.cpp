#include "shell/MessageBox.h"

#include "settings/Resources.h"

#include <QMessageBox>

#include <cstring>

namespace kelvora {

void showMessageBox(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8(kApplicationTitle), text,
                    QMessageBox::Ok, parent);
    // Above its window also when that one stays on top of every other.
    if (parent != nullptr && parent->window()->windowFlags().testFlag(Qt::WindowStaysOnTopHint)) {
        box.setWindowFlag(Qt::WindowStaysOnTopHint);
    }
    box.exec();
}

QString portOpenFailureText(const PortOpenFailure& failure, int languageIndex) {
    const QString port = QStringLiteral("COM%1").arg(failure.comNumber);
    const QString device = QString::fromStdString(failure.device);
    auto detail = [&](Message message) {
        return messageText(message, languageIndex).arg(port, device);
    };
    QString why;
    switch (failure.cause) {
    case PortOpenCause::Unmapped:
        why = messageText(Message::PortUnmapped, languageIndex).arg(port);
        break;
    case PortOpenCause::NoDevice:
        why = detail(Message::PortNoDevice);
        break;
    case PortOpenCause::PermissionDenied:
        why = detail(Message::PortPermissionDenied);
        break;
    case PortOpenCause::Held:
        why = detail(Message::PortHeld);
        break;
    case PortOpenCause::NotSerial:
        why = detail(Message::PortNotSerial);
        break;
    case PortOpenCause::Other:
        // The cause had gone by the time it was asked: the port is still named.
        why = failure.error == 0
                  ? QStringLiteral("%1 (%2)").arg(port, device)
                  : messageText(Message::PortSystemError, languageIndex)
                        .arg(port, device, QString::fromLocal8Bit(std::strerror(failure.error)));
        break;
    }
    return messageText(Message::PortOpenFailed, languageIndex) + QLatin1Char('\n') + why;
}

} // namespace kelvora

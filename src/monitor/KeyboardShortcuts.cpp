#include "monitor/KeyboardShortcuts.h"

#include "settings/Resources.h"

#include <QApplication>
#include <QKeyEvent>
#include <QWidget>

#include <cstdio>

namespace kelvora {

KeyboardShortcuts::KeyboardShortcuts(QWidget& window, KeyboardShortcutHost& host)
    : QObject(&window), window_(window), host_(host) {
    // Every key-down of the window and its controls passes the application.
    qApp->installEventFilter(this);
}

void KeyboardShortcuts::stepVelocityTrigger() {
    const double x = host_.recordStartVelocity();
    double next = -0.001;
    if (x < 0) {
        host_.showMessage(messageText(Message::VelocityTrigger0013));
        next = 0.013;
    } else if (x < 0.014) {
        host_.showMessage(messageText(Message::VelocityTrigger0020));
        next = 0.020;
    } else if (x < 0.021) {
        host_.showMessage(messageText(Message::VelocityTrigger0100));
        next = 0.100;
    } else {
        host_.showMessage(messageText(Message::VelocityTriggerOff));
    }
    host_.setRecordStartVelocity(next);
}

void KeyboardShortcuts::showVelocityTrigger() {
    const double x = host_.recordStartVelocity();
    if (x > 0) {
        char value[64];
        std::snprintf(value, sizeof value, "%9.3f", x);
        host_.showMessage(messageText(Message::VelocityTriggerIs).arg(QString::fromLatin1(value)));
    } else {
        host_.showMessage(messageText(Message::VelocityTriggerIsOff));
    }
}

bool isManualKey(const QKeyEvent& event) {
    return event.key() == Qt::Key_F1 && (event.modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
}

bool KeyboardShortcuts::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress) {
        return false;
    }
    auto* widget = qobject_cast<QWidget*>(watched);
    if (widget == nullptr || widget->window() != &window_) {
        return false;
    }
    const auto* key = static_cast<QKeyEvent*>(event);
    const Qt::KeyboardModifiers modifiers = key->modifiers() & ~Qt::KeypadModifier;
    const bool ctrlAlt =
        modifiers.testFlag(Qt::ControlModifier) && modifiers.testFlag(Qt::AltModifier);
    switch (key->key()) {
    case Qt::Key_F1:
        if (isManualKey(*key)) {
            host_.openManual();
        }
        return true;
    case Qt::Key_F2:
        host_.toggleFrame();
        return true;
    case Qt::Key_F3:
        host_.startReception();
        return true;
    case Qt::Key_F4:
        host_.stopReceptionIfRunning();
        return true;
    case Qt::Key_F8:
        host_.openLanguageDialog();
        return true;
    case Qt::Key_F9:
        host_.openSettingsDialog();
        return true;
    case Qt::Key_V:
        if (ctrlAlt) {
            stepVelocityTrigger();
            return true;
        }
        return false;
    case Qt::Key_S:
        if (ctrlAlt) {
            showVelocityTrigger();
            return true;
        }
        return false;
    default:
        return false;
    }
}

} // namespace kelvora

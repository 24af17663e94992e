#include "shell/KeyboardMove.h"

#include <QApplication>
#include <QKeyEvent>
#include <QWidget>

namespace kelvora {

KeyboardMove::KeyboardMove(QWidget& window) : QObject(&window), window_(window) {}

void KeyboardMove::start() {
    if (active_) {
        return;
    }
    active_ = true;
    start_ = window_.pos();
    window_.activateWindow();
    // Installed last, so it sees the keys before the window's shortcuts.
    qApp->installEventFilter(this);
}

void KeyboardMove::finish(bool keep) {
    active_ = false;
    qApp->removeEventFilter(this);
    if (!keep) {
        window_.move(start_);
    }
}

bool KeyboardMove::eventFilter(QObject*, QEvent* event) {
    switch (event->type()) {
    case QEvent::KeyPress: {
        const auto* key = static_cast<QKeyEvent*>(event);
        const int step = key->modifiers().testFlag(Qt::ControlModifier) ? 1 : 8;
        QPoint delta;
        switch (key->key()) {
        case Qt::Key_Left:
            delta = {-step, 0};
            break;
        case Qt::Key_Right:
            delta = {step, 0};
            break;
        case Qt::Key_Up:
            delta = {0, -step};
            break;
        case Qt::Key_Down:
            delta = {0, step};
            break;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            finish(true);
            return true;
        case Qt::Key_Escape:
            finish(false);
            return true;
        default:
            return true;
        }
        window_.move(window_.pos() + delta);
        return true;
    }
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
        return true;
    case QEvent::MouseButtonPress:
        finish(true);
        return true;
    case QEvent::ApplicationDeactivate:
        finish(true);
        return false;
    default:
        return false;
    }
}

} // namespace kelvora

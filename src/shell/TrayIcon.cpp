#include "shell/TrayIcon.h"

#include <QSystemTrayIcon>

namespace kelvora {

SystemTrayIcon::SystemTrayIcon() = default;

SystemTrayIcon::~SystemTrayIcon() = default;

bool SystemTrayIcon::available() {
    const auto now = std::chrono::steady_clock::now();
    if (checked_ == std::chrono::steady_clock::time_point{} ||
        now - checked_ >= std::chrono::seconds(1)) {
        available_ = QSystemTrayIcon::isSystemTrayAvailable();
        checked_ = now;
    }
    return available_;
}

void SystemTrayIcon::add(const QIcon& icon, const QString& tip, QMenu* menu) {
    if (!icon_) {
        icon_ = std::make_unique<QSystemTrayIcon>();
        QObject::connect(icon_.get(), &QSystemTrayIcon::activated,
                         [this](QSystemTrayIcon::ActivationReason reason) {
                             if (reason == QSystemTrayIcon::DoubleClick && doubleClicked) {
                                 doubleClicked();
                             }
                         });
        QObject::connect(icon_.get(), &QSystemTrayIcon::messageClicked, [this] {
            if (messageClicked) {
                messageClicked();
            }
        });
    }
    icon_->setIcon(icon);
    icon_->setToolTip(tip);
    icon_->setContextMenu(menu);
    icon_->show();
}

void SystemTrayIcon::setTip(const QString& tip) {
    if (icon_) {
        icon_->setToolTip(tip);
    }
}

void SystemTrayIcon::setIcon(const QIcon& icon) {
    if (icon_) {
        icon_->setIcon(icon);
    }
}

void SystemTrayIcon::showMessage(const QString& title, const QString& text) {
    if (icon_) {
        // Long enough to be seen by someone who comes back to the desk.
        icon_->showMessage(title, text, QSystemTrayIcon::Warning, 30'000);
    }
}

void SystemTrayIcon::remove() {
    if (icon_) {
        icon_->hide();
        icon_.reset();
    }
}

} // namespace kelvora

#include "shell/DesktopNotifications.h"

#include "settings/Resources.h"
#include "shell/Commands.h"
#include "shell/MessageBox.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QGuiApplication>
#include <QStringList>
#include <QVariantMap>

namespace kelvora {

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");

// The tray menu's show item names what a click does.
QString showWindowText() {
    for (const MenuItem& item : resourceMenu(154)) {
        if (item.command == ID_CMD_SHOW) {
            return item.text;
        }
    }
    return QString::fromUtf8(kApplicationTitle);
}

} // namespace

FreedesktopNotifications::FreedesktopNotifications() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return;
    }
    // From whichever program owns the name now or later: the numbers tell
    // ours from others'.
    bus.connect(QString(), kPath, kService, QStringLiteral("ActionInvoked"), this,
                SLOT(onActionInvoked(uint, QString)));
    bus.connect(QString(), kPath, kService, QStringLiteral("NotificationClosed"), this,
                SLOT(onNotificationClosed(uint, uint)));
}

void FreedesktopNotifications::show(const QString& title, const QString& text) {
    updatePending_ = false;
    notify(0, title, text);
}

void FreedesktopNotifications::update(const QString& title, const QString& text) {
    if (waiting_) {
        updatePending_ = true;
        pendingTitle_ = title;
        pendingText_ = text;
        return;
    }
    notify(id_, title, text);
}

void FreedesktopNotifications::notify(uint replaces, const QString& title, const QString& text) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return;
    }
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("Notify"));
    QVariantMap hints;
    // Critical: it stays until the user has seen it, as a quake deserves.
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue(uchar(2)));
    const QString desktopEntry = QGuiApplication::desktopFileName();
    if (!desktopEntry.isEmpty()) {
        hints.insert(QStringLiteral("desktop-entry"), desktopEntry);
    }
    call << QString::fromUtf8(kApplicationTitle) << replaces << desktopEntry << title << text
         << QStringList{QStringLiteral("default"), showWindowText()} << hints << -1;
    id_ = replaces;
    waiting_ = true;
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher* finished) {
                const QDBusPendingReply<uint> reply = *finished;
                finished->deleteLater();
                waiting_ = false;
                // Without a service the error is the answer: nothing shows.
                id_ = reply.isValid() ? reply.value() : 0;
                if (updatePending_) {
                    updatePending_ = false;
                    notify(id_, pendingTitle_, pendingText_);
                }
            });
}

void FreedesktopNotifications::onActionInvoked(uint id, const QString& action) {
    if (id != 0 && id == id_ && action == QLatin1String("default") && clicked) {
        clicked();
    }
}

void FreedesktopNotifications::onNotificationClosed(uint id, uint /*reason*/) {
    if (id != 0 && id == id_) {
        id_ = 0;
    }
}

} // namespace kelvora

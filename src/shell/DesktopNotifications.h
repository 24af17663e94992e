#pragma once

#include <QObject>
#include <QString>

#include <functional>

namespace kelvora {

// The desktop's notification service, for a desktop without a notification
// area; tests give a fake. Where the service does not exist, nothing shows
// and nothing fails.
class DesktopNotifications {
public:
    virtual ~DesktopNotifications() = default;
    // A new notification.
    virtual void show(const QString& title, const QString& text) = 0;
    // New texts for the notification shown last, or a new one when the user
    // has closed it.
    virtual void update(const QString& title, const QString& text) = 0;

    // A click on a notification shown.
    std::function<void()> clicked;
};

// org.freedesktop.Notifications on the session bus. Every call is
// asynchronous: a missing or slow service never holds up the window.
class FreedesktopNotifications : public QObject, public DesktopNotifications {
    Q_OBJECT
public:
    FreedesktopNotifications();

    void show(const QString& title, const QString& text) override;
    void update(const QString& title, const QString& text) override;

private slots:
    void onActionInvoked(uint id, const QString& action);
    void onNotificationClosed(uint id, uint reason);

private:
    void notify(uint replaces, const QString& title, const QString& text);

    // The service's number of the notification shown last; 0 before the
    // answer and after the user closed it.
    uint id_ = 0;
    // Texts asked for while the service had not yet answered: sent with the
    // number it gives, so they replace rather than add a notification.
    bool waiting_ = false;
    bool updatePending_ = false;
    QString pendingTitle_;
    QString pendingText_;
};

} // namespace kelvora

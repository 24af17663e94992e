// The desktop's notification service over a real, private session bus
// (dbus-daemon), with a stand-in service on a connection of its own: the
// notification shown, updated under its number (also when the update comes
// before the number), the click, a notification the user closed, and a bus
// without the service. Skipped where dbus-daemon is not installed or the
// user has no password-database entry, which the daemon needs.
#include "shell/DesktopNotifications.h"

#include "support/ChildProcess.h"
#include "support/OffscreenApplication.h"
#include "support/Waiting.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <pwd.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace kelvora::test {

// One Notify call as the service saw it.
struct NotifyCall {
    uint replaces = 0;
    QString summary;
    QString body;
    QStringList actions;
    int urgency = -1;
};

// org.freedesktop.Notifications as a desktop gives it: numbers from 7 up.
class StandInService : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    std::vector<NotifyCall> calls;
    uint next = 7;

public slots:
    uint Notify(const QString&, uint replaces, const QString&, const QString& summary,
                const QString& body, const QStringList& actions, const QVariantMap& hints, int) {
        calls.push_back(
            {replaces, summary, body, actions, hints.value(QStringLiteral("urgency")).toInt()});
        return replaces != 0 ? replaces : next++;
    }
};

namespace {

using namespace std::chrono_literals;

// The daemon's path; empty when it is not installed.
std::string dbusDaemon() {
    for (const char* folder : {"/usr/bin/", "/bin/", "/usr/local/bin/"}) {
        const std::string path = std::string(folder) + "dbus-daemon";
        if (::access(path.c_str(), X_OK) == 0) {
            return path;
        }
    }
    return {};
}

// One private bus for the whole binary: the program's session bus
// connection is made once per process.
class PrivateBus {
public:
    static PrivateBus& instance() {
        static PrivateBus bus;
        return bus;
    }
    bool running() const { return !address_.empty(); }
    QDBusConnection service() { return QDBusConnection(QStringLiteral("stand-in-service")); }

private:
    PrivateBus() {
        daemon_ = std::make_unique<ChildProcess>(std::vector<std::string>{
            dbusDaemon(), "--session", "--nofork", "--nopidfile", "--print-address=1"});
        const std::optional<std::string> address = daemon_->readLine(std::chrono::seconds(30));
        if (!address || address->empty()) {
            return;
        }
        address_ = *address;
        ::setenv("DBUS_SESSION_BUS_ADDRESS", address_.c_str(), 1);
        QDBusConnection::connectToBus(QString::fromStdString(address_),
                                      QStringLiteral("stand-in-service"));
    }
    std::unique_ptr<ChildProcess> daemon_;
    std::string address_;
};

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");

class DesktopService : public ::testing::Test {
protected:
    void SetUp() override {
        offscreenApplication();
        if (dbusDaemon().empty()) {
            GTEST_SKIP() << "dbus-daemon is not installed";
        }
        if (::getpwuid(::getuid()) == nullptr) {
            // As a throwaway test user: the daemon refuses to start.
            GTEST_SKIP() << "a bus needs a user with a password-database entry";
        }
        ASSERT_TRUE(bus().running()) << "the private bus did not start";
        QDBusConnection service = bus().service();
        ASSERT_TRUE(service.isConnected()) << service.lastError().message().toStdString();
        ASSERT_TRUE(service.registerObject(kPath, &standIn_, QDBusConnection::ExportAllSlots));
        ASSERT_TRUE(service.registerService(kService));
        notifications_ = std::make_unique<FreedesktopNotifications>();
        notifications_->clicked = [this] { ++clicks_; };
    }
    void TearDown() override {
        notifications_.reset();
        if (bus().running()) {
            bus().service().unregisterService(kService);
            bus().service().unregisterObject(kPath);
        }
    }

    static PrivateBus& bus() { return PrivateBus::instance(); }

    bool waitForCalls(std::size_t count) {
        return waitFor(
            [&] {
                QApplication::processEvents();
                return standIn_.calls.size() >= count;
            },
            30s);
    }
    // A signal of the service's, as the desktop sends it.
    void emitSignal(const char* name, uint id, const QVariant& second) {
        QDBusMessage message = QDBusMessage::createSignal(kPath, kService, QLatin1String(name));
        message << id << second;
        ASSERT_TRUE(bus().service().send(message));
        // A round trip of the service's to the bus, then one of the
        // client's: the signal is in the client's queue before the answer.
        ASSERT_TRUE(bus().service().interface()->isServiceRegistered(kService).isValid());
        ASSERT_TRUE(
            QDBusConnection::sessionBus().interface()->isServiceRegistered(kService).isValid());
        QApplication::processEvents();
    }

    StandInService standIn_;
    std::unique_ptr<FreedesktopNotifications> notifications_;
    int clicks_ = 0;
};

TEST_F(DesktopService, ShowsOneNotificationAndUpdatesItUnderItsNumber) {
    notifications_->show(QStringLiteral("Shaking detected"),
                         QStringLiteral("Intensity 3 (JMA 2.6) at 12:34:56"));
    // Before the service has answered: the update waits for the number.
    notifications_->update(QStringLiteral("Shaking detected"),
                           QStringLiteral("Intensity 4 (JMA 3.7) at 12:34:58"));
    ASSERT_TRUE(waitForCalls(2));
    notifications_->update(QStringLiteral("Shaking detected"),
                           QStringLiteral("Intensity 5- (JMA 4.6) at 12:35:01"));
    ASSERT_TRUE(waitForCalls(3));

    const std::vector<NotifyCall>& calls = standIn_.calls;
    EXPECT_EQ(calls[0].replaces, 0u);
    EXPECT_EQ(calls[0].summary, "Shaking detected");
    EXPECT_EQ(calls[0].body, "Intensity 3 (JMA 2.6) at 12:34:56");
    EXPECT_TRUE(calls[0].actions.contains("default")) << "a click is asked for";
    EXPECT_EQ(calls[0].urgency, 2) << "critical: it stays until seen";
    EXPECT_EQ(calls[1].replaces, 7u);
    EXPECT_EQ(calls[1].body, "Intensity 4 (JMA 3.7) at 12:34:58");
    EXPECT_EQ(calls[2].replaces, 7u);
    EXPECT_EQ(calls[2].body, "Intensity 5- (JMA 4.6) at 12:35:01");
}

TEST_F(DesktopService, AClickOnItsNotificationOnlyIsTheClick) {
    notifications_->show(QStringLiteral("Shaking detected"), QStringLiteral("Intensity 4"));
    ASSERT_TRUE(waitForCalls(1));
    const uint id = standIn_.next - 1;
    emitSignal("ActionInvoked", id + 1, QStringLiteral("default")); // another program's
    emitSignal("ActionInvoked", id, QStringLiteral("other"));
    EXPECT_EQ(clicks_, 0);
    emitSignal("ActionInvoked", id, QStringLiteral("default"));
    EXPECT_EQ(clicks_, 1);
}

TEST_F(DesktopService, ANotificationTheUserClosedIsShownAnewByTheNextUpdate) {
    notifications_->show(QStringLiteral("Shaking detected"), QStringLiteral("Intensity 3"));
    ASSERT_TRUE(waitForCalls(1));
    const uint id = standIn_.next - 1;
    emitSignal("NotificationClosed", id, QVariant::fromValue(uint(2))); // dismissed
    notifications_->update(QStringLiteral("Shaking detected"), QStringLiteral("Intensity 4"));
    ASSERT_TRUE(waitForCalls(2));
    EXPECT_EQ(standIn_.calls.back().replaces, 0u) << "a new one";
}

TEST_F(DesktopService, WithoutTheServiceNothingShowsAndNothingFails) {
    bus().service().unregisterService(kService);
    notifications_->show(QStringLiteral("Shaking detected"), QStringLiteral("Intensity 3"));
    notifications_->update(QStringLiteral("Shaking detected"), QStringLiteral("Intensity 4"));
    // The error answers come; the service, back, gets the next one as new.
    ASSERT_TRUE(bus().service().registerService(kService));
    notifications_->update(QStringLiteral("Shaking detected"), QStringLiteral("Intensity 5-"));
    ASSERT_TRUE(waitForCalls(1));
    EXPECT_EQ(standIn_.calls.front().replaces, 0u);
}

} // namespace
} // namespace kelvora::test

#include "DesktopNotificationsTest.moc"

#pragma once

#include <QIcon>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>

class QMenu;
class QSystemTrayIcon;

namespace kelvora {

// The icon in the desktop's notification area. The window adds it when it
// opens and removes it when it is destroyed; tests give a fake.
class TrayIcon {
public:
    virtual ~TrayIcon() = default;
    // A notification area exists now: only then may a minimised window hide,
    // or nothing could bring it back.
    virtual bool available() = 0;
    // Shows the icon with its tooltip; a right click opens `menu`.
    virtual void add(const QIcon& icon, const QString& tip, QMenu* menu) = 0;
    // A new tooltip for the icon shown.
    virtual void setTip(const QString& tip) = 0;
    // A new picture for the icon shown; nothing where the tray cannot.
    virtual void setIcon(const QIcon&) {}
    // A message beside the icon, a new one replacing the one shown; nothing
    // where the tray cannot.
    virtual void showMessage(const QString& /*title*/, const QString& /*text*/) {}
    virtual void remove() = 0;

    // A double click on the icon.
    std::function<void()> doubleClicked;
    // A click on the message.
    std::function<void()> messageClicked;
};

// The desktop's own, through QSystemTrayIcon, which registers again by itself
// when a notification area appears later.
class SystemTrayIcon : public TrayIcon {
public:
    SystemTrayIcon();
    ~SystemTrayIcon() override;

    bool available() override;
    void add(const QIcon& icon, const QString& tip, QMenu* menu) override;
    void setTip(const QString& tip) override;
    void setIcon(const QIcon& icon) override;
    void showMessage(const QString& title, const QString& text) override;
    void remove() override;

private:
    std::unique_ptr<QSystemTrayIcon> icon_;
    // The answer may cost a round trip to the desktop: asked once a second.
    std::chrono::steady_clock::time_point checked_{};
    bool available_ = false;
};

} // namespace kelvora

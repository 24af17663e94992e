#pragma once

#include "core/DisplayTexts.h"
#include "output/LocalTime.h"

#include <QIcon>
#include <QString>

#include <array>
#include <chrono>
#include <cstdint>

namespace kelvora {

class DesktopNotifications;
class TrayIcon;
struct Settings;

// What the window does for the alerts.
class AlertView {
public:
    virtual ~AlertView() = default;
    // Shown, not minimised and the active window: the user sees the face.
    virtual bool windowInSight() const = 0;
    // Out of the tray or from minimised, raised and active.
    virtual void bringToFront() = 0;
    // The tray's tooltip while shaking; empty once it is quiet again.
    virtual void showShakingTip(const QString& tip) = 0;
    // The desktop's notification service, made when first needed.
    virtual DesktopNotifications& desktopNotifications() = 0;
};

// Shaking the user should not miss. While the class is above 0 the tray
// icon shows the class's colour and label and its tooltip the intensity.
// An event starts when the class reaches `[Alert] NotifyClass` and ends
// once it has been 0 for kQuietTime; the event's first class rise
// seen while the window is out of sight shows one notification (through the
// tray, or the desktop's service where there is no tray), each higher class
// afterwards updates it, and with `[Alert] RaiseWindow` 1 the start brings
// the window to the front.
class AlertNotifier {
public:
    // An aftershock within this is the same event.
    static constexpr std::chrono::milliseconds kQuietTime{30'000};

    AlertNotifier(const Settings& settings, TrayIcon& tray, AlertView& view);

    // Each tick: the class shown (0 while no data comes), the intensity
    // read-out of the same tick, the local time, and the time since the last
    // tick (the tick's pace varies). Work only on a change.
    void tick(int intensityClass, const FieldText& reading, const LocalTime& now,
              std::chrono::milliseconds sinceLastTick);

    // The class and intensity in the interface language: "Intensity 4 (JMA 4.2)".
    static QString readingText(int intensityScale, int intensityClass, const FieldText& reading);
    // The notification's text: the reading at the event's peak and its time.
    static QString notificationText(int intensityScale, int intensityClass,
                                    const FieldText& reading, const LocalTime& time);

private:
    void showTrayLook(int intensityClass, const FieldText& reading);
    void notify(bool first);
    const QIcon& classIcon(int bitmapId);

    const Settings& settings_;
    TrayIcon& tray_;
    AlertView& view_;
    int shownClass_ = 0;
    FieldText shownReading_;
    bool inEvent_ = false;
    bool notified_ = false;
    std::chrono::milliseconds quiet_{0};
    int peakClass_ = 0;
    FieldText peakReading_;
    LocalTime peakTime_;
    std::array<QIcon, 20> icons_; // by bitmap 130..149, drawn when first shown
};

// The tray's picture of a class: its colour and label, 16 to 64 pixels.
QIcon classIcon(int bitmapId);

} // namespace kelvora

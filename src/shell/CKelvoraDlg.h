#pragma once

#include "link/ReceptionControl.h"
#include "monitor/FrameRateTimer.h"
#include "monitor/KeyboardShortcuts.h"
#include "monitor/PeriodicUpdate.h"
#include "output/ObservationLog.h"
#include "output/RecorderClock.h"
#include "settings/Settings.h"
#include "settings/SettingsDialogSource.h"
#include "shell/AlertNotifier.h"
#include "shell/DesktopNotifications.h"
#include "shell/Instrument.h"
#include "shell/KeyboardMove.h"
#include "shell/TrayIcon.h"
#include "shell/WindowPlacement.h"

#include <QDialog>
#include <QPointer>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QMenu;

namespace kelvora {

class MonitorFace;
class SettingsStore;
class SoundPlayer;

// What the main window is given by the application, and what tests change.
struct MonitorWindowOptions {
    InstrumentOptions instrument;
    // The local time of each tick; the system clock when empty.
    std::function<LocalTime()> clock;
    // Off in tests that run the ticks themselves.
    bool startTimer = true;
    // F1 in the main window or one of its dialogs: the application opens the
    // manual; its message goes above the window F1 was pressed in.
    std::function<void(QWidget& asking)> help;
    // Released when the window is destroyed, so a new instance may start.
    std::function<void()> releaseInstance;
    // The notification-area icon; the desktop's own when empty.
    std::function<std::unique_ptr<TrayIcon>()> trayIcon;
    // The desktop's notification service, for alerts where there is no tray;
    // the desktop's own when empty.
    std::function<std::unique_ptr<DesktopNotifications>()> desktopNotifications;
};

// The main monitor window, run modally for the whole life of the program: it
// opens with the stored placement and settings, drives the data path through
// `Instrument`, runs the 10-ms tick, and on every close request ends
// reception, closes the recording and the port, writes every setting and
// removes the shared block. Escape and the OK command never close it.
class CKelvoraDlg : public QDialog,
                    private ReceptionView,
                    private PeriodicUpdateHost,
                    private KeyboardShortcutHost,
                    private SettingsDialogSource,
                    private AlertView {
public:
    CKelvoraDlg(Settings& settings, SettingsStore& store, std::shared_ptr<SoundPlayer> player,
                MonitorWindowOptions options = {});
    ~CKelvoraDlg() override;

    // The 10-ms tick; the timer calls it, tests may too.
    void uiTick();

    // Commands of the window.
    void toggleFrame() override;
    void startReception() override {
        instrument_->reception().setReconnect(settings_.reconnect == 1);
        instrument_->reception().StartReceive(settings_.portIndex);
    }
    void stopReception() {
        instrument_->reception().RequestStop();
        paceTicks();
    }
    // Re-reads the language-dependent parts: background and button captions.
    void reloadLanguage();
    // A command of the context menu, the tray menu or the about item.
    void runCommand(int command);
    // The context menu in the current language, each item's command as its
    // data; the about item after a separator at the end.
    std::unique_ptr<QMenu> makeContextMenu() const;
    QMenu& trayMenu() { return *trayMenu_; }
    TrayIcon& trayIcon() { return *tray_; }
    // 0 never hidden, 1 hidden in the tray after a minimise, 2 shown again.
    int trayHiddenState() const { return trayHiddenState_; }
    KeyboardMove& keyboardMove() { return *keyboardMove_; }
    // The dialog of F8 or F9 while it is open, else nullptr.
    QDialog* openDialog() const { return openDialog_; }

    MonitorFace& face() { return *face_; }
    Instrument& instrument() { return *instrument_; }
    const WindowPlacement& placement() const { return placement_; }
    const std::string& workingFolder() const { return workingFolder_; }
    int startupStepValue() const { return startupStep_; }
    int tickInterval() const { return uiTimer_.interval(); }
    bool isDestroyed() const { return destroyed_; }

    void accept() override; // the OK command: the window stays open
    void reject() override; // Escape and every close request
    void done(int result) override;
    // SIGTERM, SIGINT, SIGHUP: every open menu and modal box ends, then the
    // normal close; the program's run is over once this returns.
    void closeOnTerminationSignal();
    // A second start asked for the window, or an alert: back from the tray
    // or from minimised, raised and active.
    void bringToFront() override;

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    // ReceptionView
    void showReceiving() override;
    void showIdle() override;
    void showStartFailure(StartFailure reason) override;
    void showOpenFailure(const PortOpenFailure& failure) override;
    // PeriodicUpdateHost
    void drawIntensityImage() override;
    void startupStep() override;
    void followDrag() override;
    void hideIfMinimised() override;
    void showLineHealth(LineState state, const LocalTime* lastFrame) override;
    // KeyboardShortcutHost
    void stopReceptionIfRunning() override { stopReception(); }
    void openLanguageDialog() override;
    void openSettingsDialog() override;
    void openManual() override;
    double recordStartVelocity() const override { return settings_.recorder.recordStartVelocity; }
    void setRecordStartVelocity(double value) override {
        settings_.recorder.recordStartVelocity = value;
    }
    void showMessage(const QString& text) override;
    // SettingsDialogSource
    std::int32_t framesPerSecond() const override;
    QString jmaAccelText() const override;
    bool receiveActive() const override;
    std::vector<SerialPortChoice> ports() const override;
    // AlertView
    bool windowInSight() const override;
    void showShakingTip(const QString& tip) override;
    DesktopNotifications& desktopNotifications() override;

    // The class the alerts follow: 0 unless frames come.
    int shakingClass() const;
    // The line's health first, then shaking, then the usual text.
    void showTrayTip();
    void setIntensityReadout();
    void showScaleChangeWhileStopped();
    void openManualFrom(QWidget& asking);
    void applyStayOnTop();
    void paceTicks();
    void restoreFromTray();
    // The ticks after a restore from the tray, until the desktop shows it.
    void followRestore();
    void keepAboveAgain();
    void setButtonCaptions();
    // The face at 100, 150, 200 or 300 %, now and when saved.
    void setFaceScale(int percent);
    void addSizeMenu(QMenu& menu) const;
    void destroyWindow();

    Settings& settings_;
    SettingsStore& store_;
    MonitorWindowOptions options_;
    std::string workingFolder_;
    MonitorFace* face_ = nullptr;
    WindowPlacement placement_;
    std::unique_ptr<Instrument> instrument_;
    std::optional<ObservationLog> observationLog_;
    std::optional<PeriodicUpdate> update_;
    FrameRateTimer frameRateTimer_;
    LocalClock localClock_;
    // The tick's period in milliseconds: quick while something is followed
    // closely, steady otherwise.
    static constexpr int kQuickTick = 10;
    static constexpr int kSteadyTick = 100;
    QTimer uiTimer_;
    std::chrono::steady_clock::time_point lastTick_ = std::chrono::steady_clock::now();
    std::unique_ptr<TrayIcon> tray_;
    std::unique_ptr<QMenu> trayMenu_;
    std::unique_ptr<DesktopNotifications> desktopNotifications_;
    std::optional<AlertNotifier> alertNotifier_;
    QString lineHealthTip_; // empty while frames come or reception is stopped
    QString shakingTip_;    // empty at class 0
    KeyboardMove* keyboardMove_ = nullptr;
    QPointer<QDialog> openDialog_;
    QString aboutText_; // in the language the window opened with
    int trayHiddenState_ = 0;
    // Ticks left in which a window the tray restored waits to be shown:
    // half a second.
    static constexpr int kRestoreTicks = 50;
    int restoreTicks_ = 0;
    int startupStep_ = 0;
    bool escapePending_ = false;
    bool destroyed_ = false;
};

} // namespace kelvora

#pragma once

#include <QObject>
#include <QString>

class QKeyEvent;
class QWidget;

namespace kelvora {

// F1 with no modifier (the keypad's aside): the manual, in every window.
bool isManualKey(const QKeyEvent& event);

// What the keys ask of the main window.
class KeyboardShortcutHost {
public:
    virtual ~KeyboardShortcutHost() = default;
    virtual void toggleFrame() = 0;            // F2
    virtual void startReception() = 0;         // F3
    virtual void stopReceptionIfRunning() = 0; // F4
    virtual void openLanguageDialog() = 0;     // F8
    virtual void openSettingsDialog() = 0;     // F9
    virtual void openManual() = 0;             // F1
    virtual double recordStartVelocity() const = 0;
    virtual void setRecordStartVelocity(double value) = 0;
    virtual void showMessage(const QString& text) = 0;
};

// The main window's keys, whichever of its controls has the focus: seen
// before the window's own key handling, and always passed on to it.
class KeyboardShortcuts : public QObject {
public:
    KeyboardShortcuts(QWidget& window, KeyboardShortcutHost& host);

    // Ctrl+Alt+V: off → 0.013 → 0.020 → 0.100 → off; the message first, the
    // new value once it is closed.
    void stepVelocityTrigger();
    // Ctrl+Alt+S.
    void showVelocityTrigger();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget& window_;
    KeyboardShortcutHost& host_;
};

} // namespace kelvora

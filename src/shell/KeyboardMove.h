#pragma once

#include <QObject>
#include <QPoint>

class QWidget;

namespace kelvora {

// The window menu's "Move" from the keyboard: once started, the arrow keys
// move the window (8 pixels a press, 1 with Ctrl), Enter or a mouse click
// ends the move where the window stands, Escape puts it back. Every key is
// taken while the move lasts.
class KeyboardMove : public QObject {
public:
    explicit KeyboardMove(QWidget& window);

    void start();
    bool active() const { return active_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void finish(bool keep);

    QWidget& window_;
    QPoint start_;
    bool active_ = false;
};

} // namespace kelvora

#pragma once

#include "settings/Settings.h"

#include <QPoint>
#include <QRect>
#include <QSize>

#include <vector>

class QWidget;

namespace kelvora {

// Where the main window stands, in the settings' form: the framed window's
// outer rectangle in work-area coordinates (right and bottom exclusive).
// The client area has a fixed size; the stored rectangle's top-left corner
// places the window, its size only tells how large the frame was.
class WindowPlacement {
public:
    WindowPlacement(QWidget& window, QRect workArea);

    // How much of a window must lie on a screen's work area for it to be
    // reached: kReachWidth x kReachHeight pixels of its top kGrabRows rows,
    // the caption, or without a frame the face's top edge (a drag there moves
    // the window too).
    static constexpr int kGrabRows = 24;
    static constexpr int kReachWidth = 64;
    static constexpr int kReachHeight = 8;

    // Moves the window's outer top-left corner to the rectangle's. A window
    // that would be out of reach there (`screens`: the work areas of the
    // screens, in desktop coordinates; a monitor unplugged, a screen made
    // smaller) goes to the default place, centred in the work area, instead.
    // Call measureFrame first: the frame counts towards the window's width.
    void place(const WindowRect& rect, const std::vector<QRect>& screens);
    // Whether a window `width` pixels wide with its outer top-left corner at
    // (left, top) in desktop coordinates can be reached on one of `screens`.
    static bool reachable(std::int64_t left, std::int64_t top, int width,
                          const std::vector<QRect>& screens);
    // The outer rectangle the window has (or would have, when minimised or
    // hidden).
    WindowRect current() const;

    // How much larger than its client area the framed window is, taken from
    // the stored rectangle when the window opens; never negative.
    void measureFrame(const WindowRect& stored, QSize client);
    QSize frameExtents() const { return extents_; }

    // The frame mode at start-up: 1 removes the frame, anything else keeps it.
    void applyMode(std::int32_t framelessView);
    // Frame on/off; returns the new mode. The outer top-left corner stays.
    std::int32_t toggleFrame(std::int32_t framelessView);
    // The rectangle to store: always that of the framed window.
    WindowRect rectToSave(std::int32_t framelessView) const;

    // Drag move: the window follows the cursor from the button-down on.
    void beginDrag(QPoint cursor);
    void followDrag(QPoint cursor);
    void endDrag() { dragActive_ = false; }
    bool dragActive() const { return dragActive_; }

private:
    void setFrameless(bool frameless);

    QWidget& window_;
    QRect workArea_;
    QSize extents_;
    bool dragActive_ = false;
    QPoint dragWindow_;
    QPoint dragCursor_;
};

} // namespace kelvora

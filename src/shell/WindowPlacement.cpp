#include "shell/WindowPlacement.h"

#include <QWidget>

#include <algorithm>

namespace kelvora {

WindowPlacement::WindowPlacement(QWidget& window, QRect workArea)
    : window_(window), workArea_(workArea) {}

bool WindowPlacement::reachable(std::int64_t left, std::int64_t top, int width,
                                const std::vector<QRect>& screens) {
    // Stored values are whatever the settings file holds: far beyond any
    // desktop is out of reach, and would overflow a QRect.
    constexpr std::int64_t kDesktopLimit = 1 << 24;
    if (left < -kDesktopLimit || left > kDesktopLimit || top < -kDesktopLimit ||
        top > kDesktopLimit) {
        return false;
    }
    const QRect grab(static_cast<int>(left), static_cast<int>(top), width, kGrabRows);
    return std::any_of(screens.begin(), screens.end(), [&grab](const QRect& screen) {
        const QRect visible = grab.intersected(screen);
        return visible.width() >= kReachWidth && visible.height() >= kReachHeight;
    });
}

void WindowPlacement::place(const WindowRect& rect, const std::vector<QRect>& screens) {
    WindowRect target = rect;
    const std::int64_t left = std::int64_t{workArea_.left()} + rect.left;
    const std::int64_t top = std::int64_t{workArea_.top()} + rect.top;
    if (!screens.empty() && !reachable(left, top, window_.width() + extents_.width(), screens)) {
        target = Settings::defaultWindowRect({workArea_.width(), workArea_.height()});
    }
    window_.move(workArea_.topLeft() + QPoint(target.left, target.top));
}

WindowRect WindowPlacement::current() const {
    const QRect outer = window_.frameGeometry().translated(-workArea_.topLeft());
    return {outer.top(), outer.left(), outer.top() + outer.height(), outer.left() + outer.width()};
}

void WindowPlacement::measureFrame(const WindowRect& stored, QSize client) {
    // 64-bit: stored values are whatever the settings file holds.
    const auto extent = [](std::int32_t low, std::int32_t high, int inner) {
        const std::int64_t size = std::int64_t{high} - low - inner;
        return static_cast<int>(std::clamp<std::int64_t>(size, 0, 1000));
    };
    extents_ = {extent(stored.left, stored.right, client.width()),
                extent(stored.top, stored.bottom, client.height())};
}

void WindowPlacement::setFrameless(bool frameless) {
    const bool isFrameless = window_.windowFlags().testFlag(Qt::FramelessWindowHint);
    if (isFrameless == frameless) {
        return;
    }
    const QPoint corner = window_.frameGeometry().topLeft();
    const bool visible = window_.isVisible();
    window_.setWindowFlag(Qt::FramelessWindowHint, frameless); // hides the window
    window_.move(corner);
    if (visible) {
        window_.show();
    }
}

void WindowPlacement::applyMode(std::int32_t framelessView) {
    setFrameless(framelessView == 1);
}

std::int32_t WindowPlacement::toggleFrame(std::int32_t framelessView) {
    const bool frameless = framelessView == 0;
    setFrameless(frameless);
    return frameless ? 1 : 0;
}

WindowRect WindowPlacement::rectToSave(std::int32_t framelessView) const {
    WindowRect rect = current();
    if (framelessView == 1) {
        rect.right = static_cast<std::int32_t>(
            std::min<std::int64_t>(std::int64_t{rect.left} + window_.width() + extents_.width(),
                                   std::numeric_limits<std::int32_t>::max()));
        rect.bottom = static_cast<std::int32_t>(
            std::min<std::int64_t>(std::int64_t{rect.top} + window_.height() + extents_.height(),
                                   std::numeric_limits<std::int32_t>::max()));
    }
    return rect;
}

void WindowPlacement::beginDrag(QPoint cursor) {
    if (dragActive_) {
        return;
    }
    dragActive_ = true;
    dragWindow_ = window_.frameGeometry().topLeft();
    dragCursor_ = cursor;
}

void WindowPlacement::followDrag(QPoint cursor) {
    if (dragActive_) {
        window_.move(dragWindow_ + (cursor - dragCursor_));
    }
}

} // namespace kelvora

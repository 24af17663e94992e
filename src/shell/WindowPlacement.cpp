#include "shell/WindowPlacement.h"

#include <QWidget>

#include <algorithm>

namespace kelvora {

WindowPlacement::WindowPlacement(QWidget& window, QRect workArea)
    : window_(window), workArea_(workArea) {}

void WindowPlacement::place(const WindowRect& rect) {
    window_.move(workArea_.topLeft() + QPoint(rect.left, rect.top));
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

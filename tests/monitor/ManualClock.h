#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

namespace kelvora::test {

// A steady clock that moves only when a test moves it; read from any thread.
class ManualClock {
public:
    std::chrono::steady_clock::time_point now() const {
        return std::chrono::steady_clock::time_point(std::chrono::milliseconds(elapsed_.load()));
    }
    void advance(std::chrono::milliseconds by) { elapsed_ += by.count(); }
    // For AlertSoundOptions::clock; the clock must outlive its user.
    auto function() const {
        return [this] { return now(); };
    }

private:
    std::atomic<std::int64_t> elapsed_{0};
};

} // namespace kelvora::test

#pragma once

#include <chrono>
#include <thread>

namespace kelvora::test {

// Polls `condition` every `interval` until it holds (true) or `limit` has
// passed (false).
template <typename Condition>
bool waitFor(Condition condition, std::chrono::milliseconds limit,
             std::chrono::milliseconds interval = std::chrono::milliseconds(5)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(interval);
    }
    return true;
}

} // namespace kelvora::test

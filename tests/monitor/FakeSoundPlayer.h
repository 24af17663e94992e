#pragma once

#include "monitor/SoundPlayer.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace kelvora::test {

// A SoundPlayer that records what it is asked to play, fails on demand and,
// while held, keeps every play blocked until it is released. Every wait is
// bounded.
class FakeSoundPlayer : public SoundPlayer {
public:
    bool play(const std::string& path) override {
        std::unique_lock lock(mutex_);
        started_.push_back(path);
        threads_.push_back(std::this_thread::get_id());
        ++active_;
        changed_.notify_all();
        changed_.wait(lock, [this] { return !held_; });
        const bool played = !failAll_ && failing_.count(path) == 0;
        --active_;
        ++finished_;
        changed_.notify_all();
        return played;
    }

    // Outcome, decided when a play ends.
    void fail(const std::string& path) {
        std::lock_guard lock(mutex_);
        failing_.insert(path);
    }
    void failEverything(bool on) {
        std::lock_guard lock(mutex_);
        failAll_ = on;
    }
    void succeed(const std::string& path) {
        std::lock_guard lock(mutex_);
        failing_.erase(path);
    }
    // Blocks every play (running and future) until release().
    void hold() {
        std::lock_guard lock(mutex_);
        held_ = true;
    }
    void release() {
        std::lock_guard lock(mutex_);
        held_ = false;
        changed_.notify_all();
    }

    bool waitForActive(int count, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return active_ >= count; });
    }
    bool waitForFinished(int count, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return finished_ >= count; });
    }

    std::vector<std::string> started() const {
        std::lock_guard lock(mutex_);
        return started_;
    }
    std::vector<std::thread::id> threads() const {
        std::lock_guard lock(mutex_);
        return threads_;
    }
    int active() const {
        std::lock_guard lock(mutex_);
        return active_;
    }
    int finished() const {
        std::lock_guard lock(mutex_);
        return finished_;
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> started_;
    std::vector<std::thread::id> threads_;
    std::set<std::string> failing_;
    bool failAll_ = false;
    bool held_ = false;
    int active_ = 0;
    int finished_ = 0;
};

} // namespace kelvora::test

#pragma once

#include "monitor/SoundPlayer.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <stop_token>
#include <string>
#include <sys/types.h>
#include <unistd.h>
#include <vector>

namespace kelvora::test {

// A SoundPlayer that records what it is asked to play and on which thread
// (the kernel's thread id, never reused soon, unlike std::thread::id), fails
// on demand, can have no device and, while held, keeps every play blocked
// until it is released or the play is asked to stop. Every wait is bounded.
class FakeSoundPlayer : public SoundPlayer {
public:
    bool play(const std::string& path) override { return tryPlay(path, {}) == PlayOutcome::Played; }

    PlayOutcome tryPlay(const std::string& path, std::stop_token stop) override {
        // Registered before the lock: a stop already requested runs it here.
        const std::stop_callback wakeOnStop(stop, [this] {
            { const std::lock_guard lock(mutex_); }
            changed_.notify_all();
        });
        std::unique_lock lock(mutex_);
        started_.push_back(path);
        threads_.push_back(::gettid());
        ++active_;
        changed_.notify_all();
        changed_.wait(lock, [&] { return !held_ || (stop.stop_requested() && !ignoreStop_); });
        PlayOutcome outcome = PlayOutcome::Played;
        if (noDevice_) {
            outcome = PlayOutcome::NoDevice;
        } else if (held_ || failAll_ || failing_.count(path) != 0) {
            outcome = PlayOutcome::Failed; // a stopped play has failed too
        }
        --active_;
        ++finished_;
        changed_.notify_all();
        return outcome;
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
    // Every play finds no audio device (unplugged) or finds one again.
    void noDevice(bool missing) {
        std::lock_guard lock(mutex_);
        noDevice_ = missing;
    }
    // Blocks every play (running and future) until release() or its stop.
    void hold() {
        std::lock_guard lock(mutex_);
        held_ = true;
    }
    void release() {
        std::lock_guard lock(mutex_);
        held_ = false;
        changed_.notify_all();
    }
    // A held play no longer ends when asked to stop: a device that hangs.
    void ignoreStop(bool on) {
        std::lock_guard lock(mutex_);
        ignoreStop_ = on;
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
    std::vector<pid_t> threads() const {
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
    std::vector<pid_t> threads_;
    std::set<std::string> failing_;
    bool failAll_ = false;
    bool noDevice_ = false;
    bool held_ = false;
    bool ignoreStop_ = false;
    int active_ = 0;
    int finished_ = 0;
};

} // namespace kelvora::test

#pragma once

// Reception in the tests: a view that keeps what it is shown, a device that
// counts what its reads return, the stop the window makes, and kelvora-sim on
// a COM number found the way the monitor finds a sensor. Header only: the
// binaries that use it link kelvora_link, the support library does not.
#include "core/SensorFrame.h"
#include "link/PortMap.h"
#include "link/ReceptionControl.h"
#include "link/SerialDevice.h"
#include "support/SimulatorProcess.h"
#include "support/Waiting.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace kelvora::test {

// The guard of every wait for the receive thread: far beyond what a busy or
// instrumented machine needs, so only a thread that never gets there fails.
inline constexpr std::chrono::milliseconds kReceptionGuard{30'000};

// The bytes of `count` good frames, each with its own accelX.
inline std::vector<std::uint8_t> framesOf(int count, float accelX = 1.0f) {
    std::vector<std::uint8_t> bytes;
    for (int i = 0; i < count; ++i) {
        FrameValues v;
        v.accelX = accelX + static_cast<float>(i) * 0.001f;
        const FrameBytes frame = encodeFrame(v);
        bytes.insert(bytes.end(), frame.begin(), frame.end());
    }
    return bytes;
}

// How a start failure appears among a view's events.
inline std::string failureEvent(StartFailure reason) {
    return "failure:" + std::to_string(static_cast<int>(reason));
}

// Keeps every call in order: "receiving", "idle", failureEvent(reason).
class RecordingView : public ReceptionView {
public:
    void showReceiving() override { record("receiving", std::nullopt); }
    void showIdle() override { record("idle", std::nullopt); }
    void showStartFailure(StartFailure reason) override { record(failureEvent(reason), reason); }

    std::vector<std::string> events() const {
        std::lock_guard lock(mutex_);
        return events_;
    }
    std::string last() const {
        std::lock_guard lock(mutex_);
        return events_.empty() ? "" : events_.back();
    }
    std::vector<StartFailure> failures() const {
        std::lock_guard lock(mutex_);
        return failures_;
    }
    // The start failures as text, for a failure message.
    std::string failureText() const {
        std::string text;
        for (const StartFailure reason : failures()) {
            text += failureEvent(reason) + "\n";
        }
        return text;
    }
    void clear() {
        std::lock_guard lock(mutex_);
        events_.clear();
        failures_.clear();
    }

private:
    void record(std::string event, std::optional<StartFailure> failure) {
        std::lock_guard lock(mutex_);
        events_.push_back(std::move(event));
        if (failure) {
            failures_.push_back(*failure);
        }
    }
    mutable std::mutex mutex_;
    std::vector<std::string> events_;
    std::vector<StartFailure> failures_;
};

// Passes everything to the device it wraps and counts what the reads return,
// so a test can wait for the receive thread to have taken the bytes it wrote
// or to have seen the line go quiet.
class CountingDevice : public SerialDevice {
public:
    explicit CountingDevice(SerialDevice& device) : device_(device) {}

    bool open(const std::string& path) override { return device_.open(path); }
    bool setQueueSizes() override { return device_.setQueueSizes(); }
    bool purge() override { return device_.purge(); }
    bool applyLineSettings() override { return device_.applyLineSettings(); }
    bool applyTimeouts() override { return device_.applyTimeouts(); }
    ReadResult readByte() override {
        const ReadResult read = device_.readByte();
        (read.received ? bytes_ : silentReads_).fetch_add(1, std::memory_order_relaxed);
        return read;
    }
    bool lineLost() const override { return device_.lineLost(); }
    ReadPacing pacing() const override { return device_.pacing(); }
    bool isOpen() const override { return device_.isOpen(); }
    void close() override { device_.close(); }

    // Bytes handed out so far.
    std::uint64_t bytes() const { return bytes_.load(std::memory_order_relaxed); }
    // Reads that ended without a byte (the read time-out, or a gone device).
    std::uint64_t silentReads() const { return silentReads_.load(std::memory_order_relaxed); }

private:
    SerialDevice& device_;
    std::atomic<std::uint64_t> bytes_{0};
    std::atomic<std::uint64_t> silentReads_{0};
};

// Stops a run the way the window does: the request, then the timer's
// completion once the receive thread has ended.
inline ::testing::AssertionResult
stopAndComplete(ReceptionControl& control, std::chrono::milliseconds guard = kReceptionGuard) {
    control.RequestStop();
    if (!waitFor([&] { return control.runState() == ReceptionControl::Idle; }, guard)) {
        return ::testing::AssertionFailure() << "the receive thread did not end after a stop";
    }
    control.completeStop();
    return ::testing::AssertionSuccess();
}

// The device a port index (COM number - 1) names, looked up as the monitor
// does: through the COM links of the user's data folder.
inline std::string comPortPath(int portIndex) {
    return PortMap("/dev", PortMap::defaultLinkDirectory()).devicePath(portIndex + 1);
}

// kelvora-sim on COM<com>. This process's XDG_DATA_HOME and HOME point at a
// folder of the test's own, so the link lands there, comPortPath finds it and
// the user's own links are never touched.
class SimulatorOnCom {
public:
    SimulatorOnCom(std::string simPath, int com, const std::filesystem::path& dataFolder)
        : simPath_(std::move(simPath)), com_(com) {
        ::setenv("XDG_DATA_HOME", dataFolder.c_str(), 1);
        ::setenv("HOME", dataFolder.c_str(), 1);
    }

    // Starts the simulator with `args` besides --com; succeeds once it has
    // announced its link on that number.
    ::testing::AssertionResult start(const std::vector<std::string>& args = {},
                                     ChildOptions options = SimulatorProcess::defaultOptions()) {
        std::vector<std::string> all{"--com", std::to_string(com_)};
        all.insert(all.end(), args.begin(), args.end());
        process_ = std::make_unique<SimulatorProcess>(simPath_, all, std::move(options));
        const std::optional<std::string> line = process_->announcement(kReceptionGuard);
        if (!line) {
            return ::testing::AssertionFailure() << "kelvora-sim announced no link";
        }
        const auto announced = parseAnnouncement(*line);
        if (!announced || announced->first != com_) {
            return ::testing::AssertionFailure() << "not COM" << com_ << ": " << *line;
        }
        device_ = announced->second;
        return ::testing::AssertionSuccess();
    }

    // SIGTERM: it removes its link and ends; the exit status.
    int stop() { return process_ ? exitCode(process_->stop()) : -1; }
    // SIGKILL, as a cable pulled out: the device goes, the link stays.
    int kill() {
        if (!process_ || !process_->signal(SIGKILL)) {
            return -1;
        }
        return process_->wait(kReceptionGuard);
    }

    int com() const { return com_; }
    int portIndex() const { return com_ - 1; }
    // The device it announced.
    const std::string& device() const { return device_; }
    SimulatorProcess& process() { return *process_; }

private:
    std::string simPath_;
    int com_;
    std::unique_ptr<SimulatorProcess> process_;
    std::string device_;
};

} // namespace kelvora::test

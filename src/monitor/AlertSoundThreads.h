#pragma once

#include "core/IntensityAlerts.h"
#include "core/PipelineSettings.h"
#include "monitor/SoundPlayer.h"

#include <array>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <thread>

namespace kelvora {

// The sound files as the program names them, k = 1..9
// (an empty text for any other k). A notice on scale 0 is the JMA one, on any
// other scale the Mercalli one.
std::string_view alertSoundText(int k);
std::string_view noticeSoundText(int intensityScale, int k);

// How AlertSoundThreads runs its player thread; the defaults are the
// program's, tests choose their own.
struct AlertSoundOptions {
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    using ThreadStarter = std::function<std::thread(std::function<void()>)>;

    // How long the destructor waits for a play that does not stop when asked.
    std::chrono::milliseconds shutdownWait{5000};
    // After a play found no audio device, the device is left alone this long:
    // plays in between fail at once, as the device would have them fail.
    std::chrono::milliseconds deviceRecheck{5000};
    Clock clock;               // empty: std::chrono::steady_clock::now
    ThreadStarter startThread; // empty: a std::thread
};

// Plays the alert and notice sounds on one player thread that sleeps until
// the receive thread hands it a sound. Handing over is lock-free and never
// allocates or blocks: the receive thread clears the sound's retry flag (the
// routine's first step, playAlertSound(k) or playNoticeSound(k)), puts the
// sound in a fixed ring and wakes the player. The player plays the sounds
// one after the other in the order they were started, and sets a sound's
// retry flag again when its play failed. A sound started again while it still
// waits its turn plays once. Without a player thread every start counts as a
// failed play.
//
// When a play finds no audio device, the device is not asked again before
// deviceRecheck has passed: the retries at each display tick fail at once,
// and a device that appears later (a headset plugged in) is found at the
// first retry after that.
//
// The 27 file paths are made once, here, relative to the current directory.
// The destructor stops the play in progress and joins the thread; a player
// that does not stop within shutdownWait is left to end by itself, no longer
// touches the alerts or the settings, and keeps the player alive through its
// shared_ptr. The alerts and settings must outlive this object; only the
// receive thread starts sounds, and it must have ended before this object is
// destroyed.
class AlertSoundThreads : public SoundStarter {
private:
    struct Shared;

public:
    AlertSoundThreads(IntensityAlerts& alerts, const PipelineSettings& settings,
                      std::shared_ptr<SoundPlayer> player, AlertSoundOptions options = {});
    ~AlertSoundThreads() override;
    AlertSoundThreads(const AlertSoundThreads&) = delete;
    AlertSoundThreads& operator=(const AlertSoundThreads&) = delete;

    // Receive thread. Classes outside 1..9 start nothing.
    void startAlertSound(int k) noexcept override;
    void startNoticeSound(int k) noexcept override;

    // Sounds started and not yet finished: waiting their turn or playing.
    int playing() const;
    // Waits at most timeout until no sound plays; true when none does.
    bool waitUntilQuiet(std::chrono::milliseconds timeout) const;

    // The native paths played, k = 1..9 (empty for any other k).
    const std::string& alertPath(int k) const;
    const std::string& noticePath(int intensityScale, int k) const;

private:
    enum class Kind { Alert, Notice };
    void start(Kind kind, int k) noexcept;
    static void run(Shared& shared);

    std::shared_ptr<Shared> shared_;
    std::chrono::milliseconds shutdownWait_;
    std::thread thread_;
};

} // namespace kelvora

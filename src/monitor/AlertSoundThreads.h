#pragma once

#include "core/IntensityAlerts.h"
#include "core/PipelineSettings.h"
#include "monitor/SoundPlayer.h"

#include <array>
#include <chrono>
#include <memory>
#include <string>
#include <string_view>

namespace kelvora {

// The sound files as the program names them, k = 1..9
// (an empty text for any other k). A notice on scale 0 is the JMA one, on any
// other scale the Mercalli one.
std::string_view alertSoundText(int k);
std::string_view noticeSoundText(int intensityScale, int k);

// Plays the alert and notice sounds: every start runs one sound on
// a detached thread of its own (the routines playAlertSound(k) and
// playNoticeSound(k)), so the receive thread never waits for a play. A
// routine clears its retry flag, plays the file and sets the flag again when
// the play failed. A thread that cannot be started counts as a failed play.
//
// The 27 file paths are made once, here, relative to the current directory.
// The destructor waits (bounded) for sounds still playing; a sound that
// outlasts that bound no longer touches the alerts or the settings when it
// ends, and keeps the player alive through its shared_ptr. The alerts and
// settings must outlive this object; only the receive thread starts sounds,
// and it must have ended before this object is destroyed.
class AlertSoundThreads : public SoundStarter {
private:
    struct Shared;

public:
    static constexpr std::chrono::milliseconds kDefaultShutdownWait{5000};

    AlertSoundThreads(IntensityAlerts& alerts, const PipelineSettings& settings,
                      std::shared_ptr<SoundPlayer> player,
                      std::chrono::milliseconds shutdownWait = kDefaultShutdownWait);
    ~AlertSoundThreads() override;
    AlertSoundThreads(const AlertSoundThreads&) = delete;
    AlertSoundThreads& operator=(const AlertSoundThreads&) = delete;

    // Receive thread. Classes outside 1..9 start nothing.
    void startAlertSound(int k) noexcept override;
    void startNoticeSound(int k) noexcept override;

    // Sound threads started and not yet finished.
    int playing() const;
    // Waits at most timeout until no sound plays; true when none does.
    bool waitUntilQuiet(std::chrono::milliseconds timeout) const;

    // The native paths played, k = 1..9 (empty for any other k).
    const std::string& alertPath(int k) const;
    const std::string& noticePath(int intensityScale, int k) const;

    enum class Kind { Alert, Notice };

    // The routine of one sound, run on its own thread.
    class SoundJob {
    public:
        void operator()() const;
        Kind kind() const { return kind_; }
        int soundClass() const { return k_; }

    private:
        friend class AlertSoundThreads;
        SoundJob(std::shared_ptr<Shared> shared, Kind kind, int k);
        std::shared_ptr<Shared> shared_;
        Kind kind_;
        int k_;
    };

protected:
    // Runs job on a new detached thread; throws (std::system_error) when no
    // thread can be started. A test may run the job later, or refuse it.
    virtual void launch(SoundJob job);

private:
    void start(Kind kind, int k) noexcept;

    std::shared_ptr<Shared> shared_;
    std::chrono::milliseconds shutdownWait_;
};

} // namespace kelvora

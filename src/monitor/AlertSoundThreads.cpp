#include "monitor/AlertSoundThreads.h"

#include "core/NativePath.h"

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <thread>
#include <utility>

namespace kelvora {

namespace {

constexpr std::array<std::string_view, kClassCount> kAlertTexts{
    "",
    ".\\Sounds\\SiAlert\\01.wav",
    ".\\Sounds\\SiAlert\\02.wav",
    ".\\Sounds\\SiAlert\\03.wav",
    ".\\Sounds\\SiAlert\\04.wav",
    ".\\Sounds\\SiAlert\\05.wav",
    ".\\Sounds\\SiAlert\\06.wav",
    ".\\Sounds\\SiAlert\\07.wav",
    ".\\Sounds\\SiAlert\\08.wav",
    ".\\Sounds\\SiAlert\\09.wav",
};

constexpr std::array<std::string_view, kClassCount> kJmaNoticeTexts{
    "",
    ".\\Sounds\\SiNotice\\jma_01.wav",
    ".\\Sounds\\SiNotice\\jma_02.wav",
    ".\\Sounds\\SiNotice\\jma_03.wav",
    ".\\Sounds\\SiNotice\\jma_04.wav",
    ".\\Sounds\\SiNotice\\jma_05.wav",
    ".\\Sounds\\SiNotice\\jma_06.wav",
    ".\\Sounds\\SiNotice\\jma_07.wav",
    ".\\Sounds\\SiNotice\\jma_08.wav",
    ".\\Sounds\\SiNotice\\jma_09.wav",
};

constexpr std::array<std::string_view, kClassCount> kMmiNoticeTexts{
    "",
    ".\\Sounds\\SiNotice\\mmi_01.wav",
    ".\\Sounds\\SiNotice\\mmi_02.wav",
    ".\\Sounds\\SiNotice\\mmi_03.wav",
    ".\\Sounds\\SiNotice\\mmi_04.wav",
    ".\\Sounds\\SiNotice\\mmi_05.wav",
    ".\\Sounds\\SiNotice\\mmi_06.wav",
    ".\\Sounds\\SiNotice\\mmi_07.wav",
    ".\\Sounds\\SiNotice\\mmi_08.wav",
    ".\\Sounds\\SiNotice\\mmi_09.wav",
};

bool isSoundClass(int k) {
    return k >= 1 && k < kClassCount;
}

std::size_t indexOf(int k) {
    return isSoundClass(k) ? static_cast<std::size_t>(k) : 0;
}

using Paths = std::array<std::string, kClassCount>;

Paths nativePaths(const std::array<std::string_view, kClassCount>& texts) {
    Paths paths;
    for (std::size_t k = 0; k < paths.size(); ++k) {
        paths[k] = nativePath(texts[k]);
    }
    return paths;
}

} // namespace

std::string_view alertSoundText(int k) {
    return kAlertTexts[indexOf(k)];
}

std::string_view noticeSoundText(int intensityScale, int k) {
    return (intensityScale == 0 ? kJmaNoticeTexts : kMmiNoticeTexts)[indexOf(k)];
}

// What the sound threads share with the object that starts them. The threads
// co-own it, so it outlives a sound that outlasts the destructor's wait; the
// alerts and settings are touched only under the mutex and only while the
// owner has not given up on the sound (abandoned).
struct AlertSoundThreads::Shared {
    Shared(IntensityAlerts& a, const PipelineSettings& s, std::shared_ptr<SoundPlayer> p)
        : alerts(a), settings(s), player(std::move(p)) {}

    IntensityAlerts& alerts;
    const PipelineSettings& settings;
    const std::shared_ptr<SoundPlayer> player;
    const Paths alertPaths = nativePaths(kAlertTexts);
    const Paths jmaPaths = nativePaths(kJmaNoticeTexts);
    const Paths mmiPaths = nativePaths(kMmiNoticeTexts);

    std::mutex mutex;
    std::condition_variable quiet;
    int playing = 0;
    bool abandoned = false;

    const std::string& noticePath(int intensityScale, int k) const {
        return (intensityScale == 0 ? jmaPaths : mmiPaths)[indexOf(k)];
    }
    void finish(Kind kind, int k, bool played) {
        if (kind == Kind::Alert) {
            alerts.finishAlertPlay(k, played);
        } else {
            alerts.finishNoticePlay(k, played);
        }
    }
};

AlertSoundThreads::SoundJob::SoundJob(std::shared_ptr<Shared> shared, Kind kind, int k)
    : shared_(std::move(shared)), kind_(kind), k_(k) {}

void AlertSoundThreads::SoundJob::operator()() const {
    Shared& shared = *shared_;
    const std::string* path = nullptr;
    {
        std::lock_guard lock(shared.mutex);
        if (!shared.abandoned) {
            if (kind_ == Kind::Alert) {
                shared.alerts.beginAlertPlay(k_);
                path = &shared.alertPaths[indexOf(k_)];
            } else {
                shared.alerts.beginNoticePlay(k_);
                // The scale at the moment the notice plays, not when it was started.
                path = &shared.noticePath(shared.settings.intensityScale, k_);
            }
        }
    }
    bool played = false;
    if (path != nullptr) {
        try {
            played = shared.player->play(*path);
        } catch (...) {
            played = false; // a player that throws has failed to play
        }
    }
    std::lock_guard lock(shared.mutex);
    if (path != nullptr && !shared.abandoned) {
        shared.finish(kind_, k_, played);
    }
    --shared.playing;
    shared.quiet.notify_all();
}

AlertSoundThreads::AlertSoundThreads(IntensityAlerts& alerts, const PipelineSettings& settings,
                                     std::shared_ptr<SoundPlayer> player,
                                     std::chrono::milliseconds shutdownWait)
    : shared_(std::make_shared<Shared>(alerts, settings, std::move(player))),
      shutdownWait_(shutdownWait) {}

AlertSoundThreads::~AlertSoundThreads() {
    std::unique_lock lock(shared_->mutex);
    shared_->quiet.wait_for(lock, shutdownWait_, [this] { return shared_->playing == 0; });
    shared_->abandoned = true;
}

void AlertSoundThreads::startAlertSound(int k) noexcept {
    start(Kind::Alert, k);
}

void AlertSoundThreads::startNoticeSound(int k) noexcept {
    start(Kind::Notice, k);
}

void AlertSoundThreads::start(Kind kind, int k) noexcept {
    if (!isSoundClass(k)) {
        return;
    }
    {
        std::lock_guard lock(shared_->mutex);
        ++shared_->playing;
    }
    try {
        launch(SoundJob(shared_, kind, k));
    } catch (...) {
        // No thread (std::system_error) or no memory for one: a failed play,
        // retried at the next display tick like any other.
        std::lock_guard lock(shared_->mutex);
        --shared_->playing;
        shared_->quiet.notify_all();
        shared_->finish(kind, k, false);
    }
}

void AlertSoundThreads::launch(SoundJob job) {
    std::thread(std::move(job)).detach();
}

int AlertSoundThreads::playing() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->playing;
}

bool AlertSoundThreads::waitUntilQuiet(std::chrono::milliseconds timeout) const {
    std::unique_lock lock(shared_->mutex);
    return shared_->quiet.wait_for(lock, timeout, [this] { return shared_->playing == 0; });
}

const std::string& AlertSoundThreads::alertPath(int k) const {
    return shared_->alertPaths[indexOf(k)];
}

const std::string& AlertSoundThreads::noticePath(int intensityScale, int k) const {
    return shared_->noticePath(intensityScale, k);
}

} // namespace kelvora

#include "monitor/AlertSoundThreads.h"

#include "core/NativePath.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <stop_token>
#include <utility>

#include <pthread.h>

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

namespace {

// A sound as the ring holds it: kind * kClassCount + k.
constexpr int kSoundCount = 2 * kClassCount;
// More than the 18 sounds, each of which is in the ring at most once.
constexpr std::uint32_t kRingSize = 32;
static_assert(kRingSize >= kSoundCount && (kRingSize & (kRingSize - 1)) == 0);

} // namespace

// What the player thread shares with the object that starts the sounds. The
// thread co-owns it, so it outlives a play that outlasts the destructor's
// wait; the alerts and settings are touched by the player only under the
// mutex and only while the owner has not given up on it (abandoned).
struct AlertSoundThreads::Shared {
    Shared(IntensityAlerts& a, const PipelineSettings& s, std::shared_ptr<SoundPlayer> p,
           const AlertSoundOptions& options)
        : alerts(a), settings(s), player(std::move(p)), deviceRecheck(options.deviceRecheck),
          clock(options.clock ? options.clock : [] { return std::chrono::steady_clock::now(); }) {}

    IntensityAlerts& alerts;
    const PipelineSettings& settings;
    const std::shared_ptr<SoundPlayer> player;
    const Paths alertPaths = nativePaths(kAlertTexts);
    const Paths jmaPaths = nativePaths(kJmaNoticeTexts);
    const Paths mmiPaths = nativePaths(kMmiNoticeTexts);
    const std::chrono::milliseconds deviceRecheck;
    const AlertSoundOptions::Clock clock;

    // Receive thread to player, lock-free: a ring the receive thread writes
    // and the player reads, a flag per sound that keeps it in the ring at
    // most once (so the ring never fills), and a counter the player sleeps on
    // (a futex under std::atomic::wait).
    std::array<std::atomic<std::uint8_t>, kRingSize> ring{};
    std::atomic<std::uint32_t> head{0};
    std::array<std::atomic<bool>, kSoundCount> queued{};
    std::atomic<std::uint32_t> wakeups{0};
    std::atomic<int> busy{0}; // started and not yet finished
    std::stop_source stop;

    // The player's own.
    bool deviceMissing = false;
    std::chrono::steady_clock::time_point deviceRecheckAt{};

    // The player and the owner, never the receive thread.
    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    bool abandoned = false;
    bool exited = false;

    const std::string& noticePath(int intensityScale, int k) const {
        return (intensityScale == 0 ? jmaPaths : mmiPaths)[indexOf(k)];
    }
    void begin(Kind kind, int k) {
        if (kind == Kind::Alert) {
            alerts.beginAlertPlay(k);
        } else {
            alerts.beginNoticePlay(k);
        }
    }
    void finish(Kind kind, int k, bool played) {
        if (kind == Kind::Alert) {
            alerts.finishAlertPlay(k, played);
        } else {
            alerts.finishNoticePlay(k, played);
        }
    }
    void wake() {
        wakeups.fetch_add(1, std::memory_order_release);
        wakeups.notify_one();
    }

    // The rest of the routine, on the player thread: play, and report a
    // failure.
    void play(Kind kind, int k) {
        // A notice takes the scale of the moment it plays, not of its start.
        const std::string& path =
            kind == Kind::Alert ? alertPaths[indexOf(k)] : noticePath(settings.intensityScale, k);
        bool played = false;
        if (!deviceMissing || clock() >= deviceRecheckAt) {
            PlayOutcome outcome = PlayOutcome::Failed;
            try {
                outcome = player->tryPlay(path, stop.get_token());
            } catch (...) {
                outcome = PlayOutcome::Failed; // a player that throws has failed to play
            }
            played = outcome == PlayOutcome::Played;
            if (outcome == PlayOutcome::NoDevice) {
                // Asking again at every retry costs a device open each time.
                deviceMissing = true;
                deviceRecheckAt = clock() + deviceRecheck;
            } else if (played) {
                deviceMissing = false;
            }
        }
        {
            std::lock_guard lock(mutex);
            if (!abandoned) {
                finish(kind, k, played);
            }
            busy.fetch_sub(1, std::memory_order_relaxed);
        }
        changed.notify_all();
    }
};

void AlertSoundThreads::run(Shared& shared) {
    const std::stop_token stop = shared.stop.get_token();
    std::uint32_t tail = 0;
    while (!stop.stop_requested()) {
        const std::uint32_t seen = shared.wakeups.load(std::memory_order_acquire);
        while (tail != shared.head.load(std::memory_order_acquire) && !stop.stop_requested()) {
            const int sound = shared.ring[tail % kRingSize].load(std::memory_order_relaxed);
            ++tail;
            // From here a new start of the same sound queues it again.
            shared.queued[static_cast<std::size_t>(sound)].store(false, std::memory_order_release);
            shared.play(sound < kClassCount ? Kind::Alert : Kind::Notice, sound % kClassCount);
        }
        if (!stop.stop_requested()) {
            shared.wakeups.wait(seen, std::memory_order_acquire);
        }
    }
    std::lock_guard lock(shared.mutex);
    shared.exited = true;
    shared.changed.notify_all();
}

AlertSoundThreads::AlertSoundThreads(IntensityAlerts& alerts, const PipelineSettings& settings,
                                     std::shared_ptr<SoundPlayer> player, AlertSoundOptions options)
    : shared_(std::make_shared<Shared>(alerts, settings, std::move(player), options)),
      shutdownWait_(options.shutdownWait) {
    try {
        std::function<void()> body = [shared = shared_] {
            (void)::pthread_setname_np(::pthread_self(), "kelvora-sound");
            run(*shared);
        };
        thread_ = options.startThread ? options.startThread(std::move(body))
                                      : std::thread(std::move(body));
    } catch (...) {
        // No thread (std::system_error) or no memory for one: every start is
        // a failed play, retried at the next display tick like any other.
    }
}

AlertSoundThreads::~AlertSoundThreads() {
    if (!thread_.joinable()) {
        return;
    }
    shared_->stop.request_stop();
    shared_->wake();
    std::unique_lock lock(shared_->mutex);
    if (shared_->changed.wait_for(lock, shutdownWait_, [this] { return shared_->exited; })) {
        lock.unlock();
        thread_.join();
    } else {
        shared_->abandoned = true;
        lock.unlock();
        thread_.detach();
    }
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
    Shared& shared = *shared_;
    shared.begin(kind, k);
    if (!thread_.joinable()) {
        shared.finish(kind, k, false);
        return;
    }
    const int sound = (kind == Kind::Alert ? 0 : kClassCount) + k;
    if (shared.queued[static_cast<std::size_t>(sound)].exchange(true, std::memory_order_acq_rel)) {
        return; // still waiting its turn: it plays once
    }
    const std::uint32_t head = shared.head.load(std::memory_order_relaxed);
    shared.busy.fetch_add(1, std::memory_order_relaxed);
    shared.ring[head % kRingSize].store(static_cast<std::uint8_t>(sound),
                                        std::memory_order_relaxed);
    shared.head.store(head + 1, std::memory_order_release);
    shared.wake();
}

int AlertSoundThreads::playing() const {
    return shared_->busy.load(std::memory_order_relaxed);
}

bool AlertSoundThreads::waitUntilQuiet(std::chrono::milliseconds timeout) const {
    std::unique_lock lock(shared_->mutex);
    return shared_->changed.wait_for(
        lock, timeout, [this] { return shared_->busy.load(std::memory_order_relaxed) == 0; });
}

const std::string& AlertSoundThreads::alertPath(int k) const {
    return shared_->alertPaths[indexOf(k)];
}

const std::string& AlertSoundThreads::noticePath(int intensityScale, int k) const {
    return shared_->noticePath(intensityScale, k);
}

} // namespace kelvora

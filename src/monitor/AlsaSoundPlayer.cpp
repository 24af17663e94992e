#include "monitor/AlsaSoundPlayer.h"

#include "output/RegularFile.h"

#include <alsa/asoundlib.h>
#include <sndfile.h>

#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <unistd.h>
#include <vector>

namespace kelvora {

namespace {

constexpr const char* kDevice = "default";
constexpr unsigned kLatencyMicroseconds = 100000;
// Small enough that a stop request is seen between two chunks within about
// the device's latency.
constexpr sf_count_t kChunkFrames = 1024;
// Recoveries in a row without a frame written before the play gives up.
constexpr int kMaxRecoveries = 8;

// ALSA reports its errors through this handler; the player reports failure
// through its result only.
void silentAlsaErrors(const char* /*file*/, int /*line*/, const char* /*function*/, int /*err*/,
                      const char* /*fmt*/, ...) {}

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) {
            (void)::close(fd_);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

struct SndfileCloser {
    void operator()(SNDFILE* file) const { sf_close(file); }
};
using SoundFile = std::unique_ptr<SNDFILE, SndfileCloser>;

struct PcmCloser {
    void operator()(snd_pcm_t* pcm) const { snd_pcm_close(pcm); }
};
using Pcm = std::unique_ptr<snd_pcm_t, PcmCloser>;

// Writes all frames, recovering from underruns (and signals or a suspend).
bool writeFrames(snd_pcm_t* pcm, const short* data, snd_pcm_uframes_t frames, int channels) {
    int recoveries = 0;
    while (frames > 0) {
        const snd_pcm_sframes_t written = snd_pcm_writei(pcm, data, frames);
        if (written < 0) {
            if (++recoveries > kMaxRecoveries ||
                snd_pcm_recover(pcm, static_cast<int>(written), 1) < 0) {
                return false;
            }
            continue;
        }
        if (written == 0) {
            // A blocking write returns at least one frame; do not spin if not.
            if (++recoveries > kMaxRecoveries || snd_pcm_wait(pcm, 100) < 0) {
                return false;
            }
            continue;
        }
        recoveries = 0;
        const auto done = static_cast<snd_pcm_uframes_t>(written);
        data += done * static_cast<snd_pcm_uframes_t>(channels);
        frames -= done;
    }
    return true;
}

} // namespace

AlsaSoundPlayer::AlsaSoundPlayer() {
    static std::once_flag silenced;
    std::call_once(silenced, [] { snd_lib_error_set_handler(&silentAlsaErrors); });
}

bool AlsaSoundPlayer::play(const std::string& path) {
    return tryPlay(path, {}) == PlayOutcome::Played;
}

PlayOutcome AlsaSoundPlayer::tryPlay(const std::string& path, std::stop_token stop) {
    // libsndfile would open the path with a blocking open: a FIFO in the
    // sound's place would hold its thread for ever.
    // The descriptor stays ours (closed after the decoder): whether
    // sf_open_fd closes it when it fails differs between versions.
    const Descriptor fd(openRegularFile(path.c_str(), O_RDONLY));
    if (fd.get() < 0) {
        return PlayOutcome::Failed;
    }
    SF_INFO info{};
    SoundFile file(sf_open_fd(fd.get(), SFM_READ, &info, SF_FALSE));
    if (!file || info.channels < 1 || info.samplerate < 1 || info.frames < 1) {
        return PlayOutcome::Failed;
    }

    if (stop.stop_requested()) {
        return PlayOutcome::Failed;
    }
    snd_pcm_t* rawPcm = nullptr;
    if (snd_pcm_open(&rawPcm, kDevice, SND_PCM_STREAM_PLAYBACK, 0) < 0) {
        return PlayOutcome::NoDevice;
    }
    Pcm pcm(rawPcm);
    if (snd_pcm_set_params(pcm.get(), SND_PCM_FORMAT_S16, SND_PCM_ACCESS_RW_INTERLEAVED,
                           static_cast<unsigned>(info.channels),
                           static_cast<unsigned>(info.samplerate), 1, kLatencyMicroseconds) < 0) {
        return PlayOutcome::Failed;
    }

    std::vector<short> chunk(static_cast<std::size_t>(kChunkFrames) *
                             static_cast<std::size_t>(info.channels));
    sf_count_t played = 0;
    for (;;) {
        if (stop.stop_requested()) {
            return PlayOutcome::Failed; // closing the device drops what is queued
        }
        const sf_count_t got = sf_readf_short(file.get(), chunk.data(), kChunkFrames);
        if (got <= 0) {
            break;
        }
        if (!writeFrames(pcm.get(), chunk.data(), static_cast<snd_pcm_uframes_t>(got),
                         info.channels)) {
            return PlayOutcome::Failed;
        }
        played += got;
    }
    if (sf_error(file.get()) != SF_ERR_NO_ERROR || played < info.frames) {
        return PlayOutcome::Failed; // closing the device drops what is still queued
    }
    // An underrun at the very end means the device has played everything.
    const int drained = snd_pcm_drain(pcm.get());
    return drained >= 0 || drained == -EPIPE ? PlayOutcome::Played : PlayOutcome::Failed;
}

} // namespace kelvora

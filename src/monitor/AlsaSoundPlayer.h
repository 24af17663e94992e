#pragma once

#include "monitor/SoundPlayer.h"

namespace kelvora {

// The Linux player: libsndfile decodes the file into 16-bit interleaved
// frames, ALSA's "default" device plays them (resampled by ALSA when the
// device needs it), and the call returns once the device has drained.
// Stateless: any number of threads may play at once, each on its own device
// handle. Constructing one silences ALSA's own error messages on stderr for
// the whole process.
class AlsaSoundPlayer final : public SoundPlayer {
public:
    AlsaSoundPlayer();
    bool play(const std::string& path) override;
};

} // namespace kelvora

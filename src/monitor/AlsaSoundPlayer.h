#pragma once

#include "monitor/SoundPlayer.h"

namespace kelvora {

// The Linux player: libsndfile decodes the file into 16-bit interleaved
// frames, ALSA's "default" device plays them (resampled by ALSA when the
// device needs it), and the call returns once the device has drained.
// A device that cannot be opened is NoDevice; a stop request ends the play
// within about a tenth of a second. Stateless: any number of threads may play
// at once, each on its own device handle. Constructing one silences ALSA's
// own error messages on stderr for the whole process.
class AlsaSoundPlayer final : public SoundPlayer {
public:
    AlsaSoundPlayer();
    bool play(const std::string& path) override;
    PlayOutcome tryPlay(const std::string& path, std::stop_token stop) override;
};

} // namespace kelvora

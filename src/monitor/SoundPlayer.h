#pragma once

#include <string>

namespace kelvora {

// Plays one sound file to its end: the platform's blocking play call. Returns
// true when the whole sound played; a missing file, a file that cannot be
// decoded or a missing audio device gives false. Never prints or throws.
// Several sound threads may call play at the same time.
class SoundPlayer {
public:
    virtual ~SoundPlayer() = default;
    virtual bool play(const std::string& path) = 0;
};

} // namespace kelvora

#pragma once

#include <stop_token>
#include <string>

namespace kelvora {

// How one play ended. NoDevice: no audio device could be opened (none there,
// or held by another program); the caller may leave the device alone for a
// while rather than ask again at once.
enum class PlayOutcome { Played, Failed, NoDevice };

// Plays one sound file to its end: the platform's blocking play call. Returns
// true when the whole sound played; a missing file, a file that cannot be
// decoded or a missing audio device gives false. Never prints or throws.
// Several threads may call play at the same time.
class SoundPlayer {
public:
    virtual ~SoundPlayer() = default;
    virtual bool play(const std::string& path) = 0;

    // The same play, told apart by how it ended, and ended early (Failed) once
    // stop is requested. A player that can do neither plays as play() does.
    virtual PlayOutcome tryPlay(const std::string& path, std::stop_token stop) {
        (void)stop;
        return play(path) ? PlayOutcome::Played : PlayOutcome::Failed;
    }
};

} // namespace kelvora

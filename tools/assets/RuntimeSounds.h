#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace kelvora::assets {

// One of the 27 sounds of the runtime folder: where it lies below the folder
// ("Sounds/SiAlert/01.wav", "Sounds/SiNotice/jma_01.wav", ...) and its
// samples at kSoundRate.
struct RuntimeSound {
    std::filesystem::path relativePath;
    std::vector<std::int16_t> samples;
};

// Alerts 01 to 09, then the JMA notices, then the Mercalli notices.
std::vector<RuntimeSound> runtimeSounds();

// Writes every runtime sound below root, creating the folders. Returns an
// empty text on success, else what failed.
std::string writeRuntimeSounds(const std::filesystem::path& root);

} // namespace kelvora::assets

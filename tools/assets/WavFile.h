#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

namespace kelvora::assets {

// Writes a canonical 44-byte-header RIFF WAVE file: PCM, 16-bit, mono,
// little-endian. The file is written beside its final name and renamed into
// place, so a failed run never leaves half a sound behind. False on failure.
bool writeWav16Mono(const std::filesystem::path& path, const std::vector<std::int16_t>& samples,
                    int rate);

} // namespace kelvora::assets

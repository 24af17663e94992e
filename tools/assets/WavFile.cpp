#include "WavFile.h"

#include <cstdio>
#include <string>
#include <system_error>

namespace kelvora::assets {

namespace {

void putU16(std::string& out, std::uint32_t v) {
    out.push_back(static_cast<char>(v & 0xFF));
    out.push_back(static_cast<char>((v >> 8) & 0xFF));
}

void putU32(std::string& out, std::uint32_t v) {
    putU16(out, v & 0xFFFF);
    putU16(out, v >> 16);
}

} // namespace

bool writeWav16Mono(const std::filesystem::path& path, const std::vector<std::int16_t>& samples,
                    int rate) {
    const auto dataBytes = static_cast<std::uint32_t>(samples.size() * 2);
    std::string bytes;
    bytes.reserve(44 + dataBytes);
    bytes.append("RIFF");
    putU32(bytes, 36 + dataBytes);
    bytes.append("WAVE");
    bytes.append("fmt ");
    putU32(bytes, 16);                                   // fmt chunk size
    putU16(bytes, 1);                                    // PCM
    putU16(bytes, 1);                                    // mono
    putU32(bytes, static_cast<std::uint32_t>(rate));     // frames per second
    putU32(bytes, static_cast<std::uint32_t>(rate) * 2); // bytes per second
    putU16(bytes, 2);                                    // bytes per frame
    putU16(bytes, 16);                                   // bits per sample
    bytes.append("data");
    putU32(bytes, dataBytes);
    for (std::int16_t s : samples) {
        putU16(bytes, static_cast<std::uint16_t>(s));
    }

    std::filesystem::path partial = path;
    partial += ".part";
    std::FILE* file = std::fopen(partial.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    const bool closed = std::fclose(file) == 0;
    std::error_code error;
    if (written && closed) {
        std::filesystem::rename(partial, path, error);
        if (!error) {
            return true;
        }
    }
    std::filesystem::remove(partial, error);
    return false;
}

} // namespace kelvora::assets

#include "RuntimeSounds.h"

#include "SoundSynthesis.h"
#include "WavFile.h"

#include <cstdio>
#include <system_error>

namespace kelvora::assets {

namespace {

std::string numbered(const char* prefix, int k) {
    char name[32];
    std::snprintf(name, sizeof name, "%s%02d.wav", prefix, k);
    return name;
}

} // namespace

std::vector<RuntimeSound> runtimeSounds() {
    const std::filesystem::path alerts = std::filesystem::path("Sounds") / "SiAlert";
    const std::filesystem::path notices = std::filesystem::path("Sounds") / "SiNotice";
    std::vector<RuntimeSound> sounds;
    for (int k = 1; k <= 9; ++k) {
        sounds.push_back({alerts / numbered("", k), toPcm16(alertSignal(k), kSoundPeakDbfs)});
    }
    for (int k = 1; k <= 9; ++k) {
        sounds.push_back({notices / numbered("jma_", k),
                          toPcm16(noticeSignal(NoticeTimbre::Jma, k), kSoundPeakDbfs)});
    }
    for (int k = 1; k <= 9; ++k) {
        sounds.push_back({notices / numbered("mmi_", k),
                          toPcm16(noticeSignal(NoticeTimbre::Mercalli, k), kSoundPeakDbfs)});
    }
    return sounds;
}

std::string writeRuntimeSounds(const std::filesystem::path& root) {
    for (const RuntimeSound& sound : runtimeSounds()) {
        const std::filesystem::path path = root / sound.relativePath;
        std::error_code error;
        std::filesystem::create_directories(path.parent_path(), error);
        if (error) {
            return "cannot create " + path.parent_path().string() + ": " + error.message();
        }
        if (!writeWav16Mono(path, sound.samples, kSoundRate)) {
            return "cannot write " + path.string();
        }
    }
    return {};
}

} // namespace kelvora::assets

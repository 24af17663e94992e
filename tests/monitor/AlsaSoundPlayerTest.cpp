// AlsaSoundPlayer against ALSA itself: each test gets a temporary HOME whose
// .asoundrc points ALSA's "default" device at a file plugin (or at a card
// that does not exist), so a play writes the samples the device would get
// into a file, byte for byte. One case plays through AlertSoundThreads, as
// the program does.
#include "ManualClock.h"
#include "RuntimeSounds.h"
#include "SoundSynthesis.h"
#include "WavFile.h"

#include "core/IntensityAlerts.h"
#include "core/PipelineSettings.h"
#include "monitor/AlertSoundThreads.h"
#include "monitor/AlsaSoundPlayer.h"
#include "support/Files.h"
#include "support/NonRegularFiles.h"
#include "support/TemporaryFolder.h"

#include <alsa/asoundlib.h>
#include <sndfile.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

namespace kelvora::test {
namespace {

namespace fs = std::filesystem;

// The file's frames as libsndfile decodes them to 16-bit interleaved samples.
std::vector<std::int16_t> decoded(const fs::path& path, int* channels = nullptr) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) {
        return {};
    }
    std::vector<std::int16_t> samples(static_cast<std::size_t>(info.frames * info.channels));
    const sf_count_t got = sf_readf_short(file, samples.data(), info.frames);
    sf_close(file);
    samples.resize(static_cast<std::size_t>(got * info.channels));
    if (channels != nullptr) {
        *channels = info.channels;
    }
    return samples;
}

std::string bytesOf(const std::vector<std::int16_t>& samples) {
    return {reinterpret_cast<const char*>(samples.data()), samples.size() * sizeof(std::int16_t)};
}

// The process works in the given folder while this lives.
class WorkingFolder {
public:
    explicit WorkingFolder(const fs::path& folder) : before_(fs::current_path()) {
        fs::current_path(folder);
    }
    ~WorkingFolder() { fs::current_path(before_); }
    WorkingFolder(const WorkingFolder&) = delete;
    WorkingFolder& operator=(const WorkingFolder&) = delete;

private:
    fs::path before_;
};

class AlsaPlayer : public ::testing::Test {
protected:
    void SetUp() override {
        output_ = home_ / "out.raw";
        for (const char* name :
             {"HOME", "XDG_CONFIG_HOME", "ALSA_CONFIG_PATH", "ALSA_CONFIG_DIR"}) {
            const char* value = std::getenv(name);
            saved_.push_back(
                {name, value != nullptr ? std::optional<std::string>(value) : std::nullopt});
        }
        // ALSA reads ~/.asoundrc and then $XDG_CONFIG_HOME/alsa/asoundrc:
        // both must lie in the temporary home, and alsa.conf stays the system's.
        ::setenv("HOME", home_.c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (home_ / ".config").c_str(), 1);
        ::unsetenv("ALSA_CONFIG_PATH");
        ::unsetenv("ALSA_CONFIG_DIR");
    }
    void TearDown() override {
        snd_config_update_free_global();
        for (const auto& [name, value] : saved_) {
            if (value) {
                ::setenv(name.c_str(), value->c_str(), 1);
            } else {
                ::unsetenv(name.c_str());
            }
        }
    }

    // "default" becomes the given PCM definition. The global configuration is
    // dropped so that ALSA reads it again, whichever test ran before in this
    // process.
    void defaultPcm(const std::string& definition) {
        std::ofstream(home_ / ".asoundrc") << "pcm.!default {\n" << definition << "}\n";
        snd_config_update_free_global();
    }
    void defaultPcmIsAFile() {
        defaultPcm("    type file\n"
                   "    slave.pcm \"null\"\n"
                   "    file \"" +
                   output_.string() +
                   "\"\n"
                   "    format \"raw\"\n");
    }

    // The bytes the device got hold the expected samples, then at most some
    // silence of ALSA's own padding.
    void expectPlayed(const std::vector<std::int16_t>& expected, int channels) {
        const std::string got = readAll(output_);
        const std::string want = bytesOf(expected);
        ASSERT_GE(got.size(), want.size()) << "fewer bytes than the sound has";
        EXPECT_TRUE(got.compare(0, want.size(), want) == 0) << "the samples differ";
        const std::string padding = got.substr(want.size());
        EXPECT_EQ(padding.find_first_not_of('\0'), std::string::npos) << "padding is not silence";
        // At most a second of padding.
        EXPECT_LE(padding.size(), static_cast<std::size_t>(assets::kSoundRate * 2 * channels));
    }

    // Plays the file: the device gets its samples as libsndfile decodes them,
    // in the given number of channels. *samples receives them.
    void expectPlaysAsDecoded(const fs::path& wav, int channels,
                              std::vector<std::int16_t>* samples) {
        AlsaSoundPlayer player;
        ASSERT_TRUE(player.play(wav.string()));
        int decodedChannels = 0;
        *samples = decoded(wav, &decodedChannels);
        ASSERT_EQ(decodedChannels, channels);
        expectPlayed(*samples, channels);
    }

    TemporaryFolder temporary_{"kelvora-alsa"};
    const fs::path home_ = temporary_.path();
    fs::path output_;
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

TEST_F(AlsaPlayer, PlaysAGeneratedSoundToTheDevice) {
    defaultPcmIsAFile();
    const fs::path wav = home_ / "03.wav";
    ASSERT_TRUE(assets::writeWav16Mono(
        wav, assets::toPcm16(assets::alertSignal(3), assets::kSoundPeakDbfs), assets::kSoundRate));

    std::vector<std::int16_t> samples;
    ASSERT_NO_FATAL_FAILURE(expectPlaysAsDecoded(wav, 1, &samples));
    EXPECT_GT(samples.size(), 10000u);
}

TEST_F(AlsaPlayer, PlaysEveryGeneratedNotice) {
    AlsaSoundPlayer player;
    for (const assets::RuntimeSound& sound : assets::runtimeSounds()) {
        if (sound.relativePath.parent_path().filename() != "SiNotice") {
            continue;
        }
        SCOPED_TRACE(sound.relativePath.string());
        std::error_code ignored;
        fs::remove(output_, ignored);
        defaultPcmIsAFile();
        const fs::path wav = home_ / sound.relativePath.filename();
        ASSERT_TRUE(assets::writeWav16Mono(wav, sound.samples, assets::kSoundRate));
        ASSERT_TRUE(player.play(wav.string()));
        expectPlayed(sound.samples, 1);
    }
}

// A stereo float file reaches the device as interleaved 16-bit frames, as
// libsndfile converts them.
TEST_F(AlsaPlayer, PlaysAStereoFloatFileAsInterleavedSixteenBitFrames) {
    defaultPcmIsAFile();
    const fs::path wav = home_ / "stereo.wav";
    SF_INFO info{};
    info.samplerate = 44100;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* file = sf_open(wav.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
    std::vector<float> frames;
    for (int i = 0; i < 11025; ++i) {
        const double fade = std::min({1.0, i / 441.0, (11024 - i) / 441.0});
        frames.push_back(static_cast<float>(0.5 * fade * std::sin(i * 0.0627)));
        frames.push_back(static_cast<float>(-0.25 * fade * std::sin(i * 0.1)));
    }
    ASSERT_EQ(sf_writef_float(file, frames.data(), 11025), 11025);
    sf_close(file);

    std::vector<std::int16_t> samples;
    ASSERT_NO_FATAL_FAILURE(expectPlaysAsDecoded(wav, 2, &samples));
    EXPECT_EQ(samples.size(), 22050u);
}

TEST_F(AlsaPlayer, AMissingFileDoesNotPlay) {
    defaultPcmIsAFile();
    AlsaSoundPlayer player;
    EXPECT_FALSE(player.play((home_ / "Sounds" / "SiAlert" / "01.wav").string()));
    EXPECT_FALSE(player.play(""));
    // Not for want of a device: the next sound may play.
    EXPECT_EQ(player.tryPlay((home_ / "01.wav").string(), {}), PlayOutcome::Failed);
    EXPECT_FALSE(fs::exists(output_)) << "the device was opened for nothing";
}

TEST_F(AlsaPlayer, AFileThatIsNotAudioDoesNotPlay) {
    defaultPcmIsAFile();
    const fs::path text = home_ / "notes.wav";
    std::ofstream(text) << "These are not the sounds you are looking for.\n";
    const fs::path empty = home_ / "empty.wav";
    std::ofstream{empty};
    const fs::path silent = home_ / "silent.wav"; // a valid header without a frame
    ASSERT_TRUE(assets::writeWav16Mono(silent, {}, assets::kSoundRate));

    AlsaSoundPlayer player;
    EXPECT_FALSE(player.play(text.string()));
    EXPECT_FALSE(player.play(empty.string()));
    EXPECT_FALSE(player.play(silent.string()));
    EXPECT_FALSE(player.play(home_.string())); // a folder
    EXPECT_FALSE(fs::exists(output_));
}

// A FIFO in the sound's place: the sound thread neither waits on it (a
// plain open waits for a writer for ever) nor plays a sound through it.
class AlsaPlayerNonRegularFile : public AlsaPlayer,
                                 public ::testing::WithParamInterface<NonRegularFile> {};

TEST_P(AlsaPlayerNonRegularFile, DoesNotWaitOnItNorPlayIt) {
    defaultPcmIsAFile();
    // A short sound waits in the FIFO when the test holds its other end.
    const fs::path source = home_ / "source.wav";
    ASSERT_TRUE(
        assets::writeWav16Mono(source, std::vector<std::int16_t>(2000, 1000), assets::kSoundRate));
    NonRegularFileAt special(home_ / "01.wav", GetParam(), readAll(source));
    AlsaSoundPlayer player;
    bool played = true;
    EXPECT_TRUE(returnsByItself([&] { played = player.play(special.path().string()); }, special));
    EXPECT_FALSE(played);
    EXPECT_FALSE(fs::exists(output_)) << "the device was opened for it";
}

INSTANTIATE_TEST_SUITE_P(Kinds, AlsaPlayerNonRegularFile,
                         ::testing::Values(NonRegularFile::Fifo, NonRegularFile::FifoWithOtherEnd),
                         NonRegularFileName());

TEST_F(AlsaPlayer, NoAudioDeviceMeansNoPlayAndNoWordOnStderr) {
    // ALSA itself would complain about this card on stderr.
    defaultPcm("    type hw\n    card \"KelvoraNoSuchCard\"\n");
    const fs::path wav = home_ / "01.wav";
    ASSERT_TRUE(assets::writeWav16Mono(
        wav, assets::toPcm16(assets::alertSignal(1), assets::kSoundPeakDbfs), assets::kSoundRate));

    AlsaSoundPlayer player;
    ::testing::internal::CaptureStderr();
    const bool played = player.play(wav.string());
    const PlayOutcome outcome = player.tryPlay(wav.string(), {});
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_FALSE(played);
    EXPECT_EQ(outcome, PlayOutcome::NoDevice);
    EXPECT_EQ(said, "");
}

TEST_F(AlsaPlayer, APlayAskedToStopEndsWithoutTheDevice) {
    defaultPcmIsAFile();
    const fs::path wav = home_ / "01.wav";
    ASSERT_TRUE(assets::writeWav16Mono(
        wav, assets::toPcm16(assets::alertSignal(1), assets::kSoundPeakDbfs), assets::kSoundRate));
    std::stop_source stop;
    stop.request_stop();
    AlsaSoundPlayer player;
    EXPECT_EQ(player.tryPlay(wav.string(), stop.get_token()), PlayOutcome::Failed);
    EXPECT_FALSE(fs::exists(output_)) << "the device was opened";
}

// The program's own sound path: an alert finds no sound card, a card appears
// (ALSA's default device becomes one that works) and the alert's retries
// leave it alone until the recheck, which plays the sound to it.
TEST_F(AlsaPlayer, AnAlertFindsADeviceThatAppearsAtItsRecheck) {
    defaultPcm("    type hw\n    card \"KelvoraNoSuchCard\"\n");
    const std::vector<std::int16_t> samples =
        assets::toPcm16(assets::alertSignal(2), assets::kSoundPeakDbfs);
    fs::create_directories(home_ / "Sounds" / "SiAlert");
    ASSERT_TRUE(assets::writeWav16Mono(home_ / "Sounds" / "SiAlert" / "02.wav", samples,
                                       assets::kSoundRate));
    const WorkingFolder inHome(home_); // the sound paths are relative to it

    ManualClock clock;
    AlertSoundOptions options;
    options.deviceRecheck = std::chrono::seconds(5);
    options.clock = clock.function();
    IntensityAlerts alerts;
    PipelineSettings settings;
    AlertSoundThreads sounds(alerts, settings, std::make_shared<AlsaSoundPlayer>(), options);
    const auto playOnce = [&] {
        sounds.startAlertSound(2);
        return sounds.waitUntilQuiet(std::chrono::seconds(10));
    };

    ASSERT_TRUE(playOnce());
    EXPECT_EQ(alerts.alertRetry[2], 1);
    defaultPcmIsAFile();
    ASSERT_TRUE(playOnce()); // the next tick's retry
    EXPECT_EQ(alerts.alertRetry[2], 1);
    EXPECT_FALSE(fs::exists(output_)) << "the device was asked for before its recheck";

    clock.advance(std::chrono::seconds(5));
    ASSERT_TRUE(playOnce());
    EXPECT_EQ(alerts.alertRetry[2], 0);
    expectPlayed(samples, 1);
}

} // namespace
} // namespace kelvora::test

// kelvora-assets run as a child process, as the build runs it, and the 27
// sounds it writes examined as a listener would hear them: format, length,
// level, silent ends, alerts that rise with the class, notices that count the
// class in beats, JMA and Mercalli notices told apart by timbre.
#include "SoundSynthesis.h"

#include "core/NativePath.h"
#include "monitor/AlertSoundThreads.h"
#include "support/ChildProcess.h"
#include "support/Files.h"
#include "support/TemporaryFolder.h"

#include <sndfile.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <numbers>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kelvora::test {
namespace {

namespace fs = std::filesystem;

constexpr const char* kAssetsPath = KELVORA_ASSETS_PATH;

struct Sound {
    bool opened = false;
    int format = 0;
    int channels = 0;
    int rate = 0;
    std::vector<std::int16_t> samples;

    double seconds() const { return static_cast<double>(samples.size()) / rate; }
    int peak() const {
        int p = 0;
        for (std::int16_t s : samples) {
            p = std::max(p, std::abs(static_cast<int>(s)));
        }
        return p;
    }
};

Sound load(const fs::path& path) {
    Sound sound;
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) {
        return sound;
    }
    sound.opened = true;
    sound.format = info.format;
    sound.channels = info.channels;
    sound.rate = info.samplerate;
    sound.samples.resize(static_cast<std::size_t>(info.frames * info.channels));
    const sf_count_t got =
        sf_read_short(file, sound.samples.data(), static_cast<sf_count_t>(sound.samples.size()));
    sound.samples.resize(static_cast<std::size_t>(got));
    sf_close(file);
    return sound;
}

// The largest magnitude in each 5-ms window.
std::vector<int> envelope(const Sound& sound) {
    const auto window = static_cast<std::size_t>(sound.rate / 200);
    std::vector<int> env;
    for (std::size_t i = 0; i < sound.samples.size(); i += window) {
        int m = 0;
        for (std::size_t j = i; j < std::min(sound.samples.size(), i + window); ++j) {
            m = std::max(m, std::abs(static_cast<int>(sound.samples[j])));
        }
        env.push_back(m);
    }
    return env;
}

// Bursts or beats: the envelope rises above half the peak after it had
// fallen below a sixth of it.
int countOnsets(const Sound& sound, std::vector<std::size_t>* onsets = nullptr) {
    const int peak = sound.peak();
    const std::vector<int> env = envelope(sound);
    int count = 0;
    bool on = false;
    for (std::size_t w = 0; w < env.size(); ++w) {
        if (!on && env[w] * 2 >= peak) {
            on = true;
            ++count;
            if (onsets != nullptr) {
                onsets->push_back(w * static_cast<std::size_t>(sound.rate / 200));
            }
        } else if (on && env[w] * 6 < peak) {
            on = false;
        }
    }
    return count;
}

// Magnitude at frequency f over samples [from, from + length), Hann-windowed.
double magnitudeAt(const Sound& sound, std::size_t from, std::size_t length, double f) {
    double re = 0.0;
    double im = 0.0;
    for (std::size_t i = 0; i < length && from + i < sound.samples.size(); ++i) {
        const double w = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * static_cast<double>(i) /
                                              static_cast<double>(length));
        const double phase = 2.0 * std::numbers::pi * f * static_cast<double>(i) / sound.rate;
        re += w * sound.samples[from + i] * std::cos(phase);
        im -= w * sound.samples[from + i] * std::sin(phase);
    }
    return std::hypot(re, im);
}

// The strongest frequency between 300 Hz and 3 kHz in 40 ms from `from`.
double dominantFrequency(const Sound& sound, std::size_t from) {
    const auto length = static_cast<std::size_t>(sound.rate / 25);
    double best = 0.0;
    double bestF = 0.0;
    for (double f = 300.0; f <= 3000.0; f += 2.0) {
        const double m = magnitudeAt(sound, from, length, f);
        if (m > best) {
            best = m;
            bestF = f;
        }
    }
    return bestF;
}

// The generator's exit status; standard error goes to `errorFile`.
int runAssets(const std::vector<std::string>& args, const fs::path& errorFile) {
    std::vector<std::string> argv{kAssetsPath};
    argv.insert(argv.end(), args.begin(), args.end());
    ChildOptions options;
    options.out = Redirect::file("/dev/null");
    options.err = Redirect::file(errorFile);
    return runTool(argv, options).exitStatus;
}

// One generation per test, into a folder of the test's own.
class GeneratedSounds : public ::testing::Test {
protected:
    void SetUp() override {
        runtime_ = dir_ / "runtime";
        ASSERT_EQ(runAssets({"--output", runtime_.string()}, dir_ / "stderr"), 0)
            << readAll(dir_ / "stderr");
    }

    // Where the monitor looks for it, relative to the runtime folder.
    fs::path alertFile(int k) const { return runtime_ / nativePath(alertSoundText(k)); }
    fs::path noticeFile(int scale, int k) const {
        return runtime_ / nativePath(noticeSoundText(scale, k));
    }
    std::vector<fs::path> allFiles() const {
        std::vector<fs::path> files;
        for (int k = 1; k <= 9; ++k) {
            files.push_back(alertFile(k));
            files.push_back(noticeFile(0, k));
            files.push_back(noticeFile(1, k));
        }
        return files;
    }

    TemporaryFolder temporary_{"kelvora-assets"};
    const fs::path dir_ = temporary_.path();
    fs::path runtime_;
};

TEST_F(GeneratedSounds, AllTwentySevenLieWhereTheMonitorPlaysThem) {
    int count = 0;
    for (const fs::path& file : allFiles()) {
        EXPECT_TRUE(fs::is_regular_file(file)) << file;
        ++count;
    }
    EXPECT_EQ(count, 27);
    // The images beside them are checked with the other pictures.
    int written = 0;
    for (const auto& entry : fs::recursive_directory_iterator(runtime_ / "Sounds")) {
        written += entry.is_regular_file() ? 1 : 0;
    }
    EXPECT_EQ(written, 27) << "nothing else, and no partial file left behind";
}

TEST_F(GeneratedSounds, AreShortMonoSixteenBitPcm) {
    for (const fs::path& file : allFiles()) {
        SCOPED_TRACE(file.string());
        const Sound sound = load(file);
        ASSERT_TRUE(sound.opened);
        EXPECT_EQ(sound.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
        EXPECT_EQ(sound.channels, 1);
        EXPECT_TRUE(sound.rate == 22050 || sound.rate == 44100) << sound.rate;
        EXPECT_LT(sound.seconds(), 3.0);
        EXPECT_GT(sound.seconds(), 0.3);
    }
}

TEST_F(GeneratedSounds, PeakBetweenMinusThreeAndZeroDbfs) {
    for (const fs::path& file : allFiles()) {
        const double dbfs = 20.0 * std::log10(load(file).peak() / 32768.0);
        EXPECT_GE(dbfs, -3.0) << file;
        EXPECT_LT(dbfs, 0.0) << file;
    }
}

TEST_F(GeneratedSounds, StartAndEndInSilence) {
    for (const fs::path& file : allFiles()) {
        SCOPED_TRACE(file.string());
        const Sound sound = load(file);
        const auto edge = static_cast<std::size_t>(sound.rate / 500); // 2 ms
        ASSERT_GT(sound.samples.size(), 2 * edge);
        const std::size_t last = sound.samples.size() - edge;
        int loudest = 0;
        for (std::size_t i = 0; i < edge; ++i) {
            loudest = std::max(loudest, std::abs(static_cast<int>(sound.samples[i])));
            loudest = std::max(loudest, std::abs(static_cast<int>(sound.samples[last + i])));
        }
        EXPECT_LT(loudest, 100); // -50 dBFS
    }
}

TEST_F(GeneratedSounds, AlertsRiseWithTheClass) {
    std::vector<Sound> alerts;
    for (int k = 1; k <= 9; ++k) {
        alerts.push_back(load(alertFile(k)));
    }
    int previousBursts = 0;
    double previousPitch = 0.0;
    for (int k = 1; k <= 9; ++k) {
        SCOPED_TRACE("alert " + std::to_string(k));
        const Sound& sound = alerts[static_cast<std::size_t>(k - 1)];
        std::vector<std::size_t> onsets;
        const int bursts = countOnsets(sound, &onsets);
        EXPECT_EQ(bursts, assets::alertBurstCount(k));
        EXPECT_GE(bursts, previousBursts);
        ASSERT_FALSE(onsets.empty());
        const double pitch =
            dominantFrequency(sound, onsets[0] + static_cast<std::size_t>(sound.rate / 100));
        EXPECT_NEAR(pitch, assets::alertPitch(k), assets::alertPitch(k) * 0.03);
        EXPECT_GT(pitch, previousPitch);
        previousBursts = bursts;
        previousPitch = pitch;
        for (int j = 1; j < k; ++j) {
            EXPECT_NE(sound.samples, alerts[static_cast<std::size_t>(j - 1)].samples)
                << "same as alert " << j;
        }
    }
    EXPECT_GT(countOnsets(alerts[8]), countOnsets(alerts[0]));
}

TEST_F(GeneratedSounds, NoticesCountTheClassInBeats) {
    for (int scale : {0, 1}) {
        for (int k = 1; k <= 9; ++k) {
            EXPECT_EQ(countOnsets(load(noticeFile(scale, k))), k)
                << noticeFile(scale, k).filename();
        }
    }
}

TEST_F(GeneratedSounds, JmaAndMercalliNoticesDifferInTimbre) {
    const double f0 = assets::kNoticePitch;
    for (int k = 1; k <= 9; ++k) {
        SCOPED_TRACE("class " + std::to_string(k));
        const Sound jma = load(noticeFile(0, k));
        const Sound mmi = load(noticeFile(1, k));
        EXPECT_NE(jma.samples, mmi.samples);
        // The first beat's partials: the JMA chime has the octave, the
        // Mercalli bell its 2.76 partial instead.
        std::vector<std::size_t> jmaOnsets;
        std::vector<std::size_t> mmiOnsets;
        countOnsets(jma, &jmaOnsets);
        countOnsets(mmi, &mmiOnsets);
        ASSERT_FALSE(jmaOnsets.empty());
        ASSERT_FALSE(mmiOnsets.empty());
        const auto length = static_cast<std::size_t>(jma.rate / 16);
        auto ratio = [&](const Sound& s, std::size_t at, double partial) {
            return magnitudeAt(s, at, length, f0 * partial) / magnitudeAt(s, at, length, f0);
        };
        EXPECT_GT(ratio(jma, jmaOnsets[0], 2.0), 0.1);
        EXPECT_LT(ratio(mmi, mmiOnsets[0], 2.0), 0.03);
        EXPECT_GT(ratio(mmi, mmiOnsets[0], 2.76), 0.1);
        EXPECT_LT(ratio(jma, jmaOnsets[0], 2.76), 0.03);
    }
}

TEST_F(GeneratedSounds, AreTheSameOnEveryRun) {
    const fs::path again = dir_ / "again";
    ASSERT_EQ(runAssets({"--output", again.string()}, dir_ / "stderr"), 0);
    for (const fs::path& file : allFiles()) {
        const fs::path other = again / fs::relative(file, runtime_);
        EXPECT_EQ(readAll(file), readAll(other)) << file.filename();
    }
}

TEST_F(GeneratedSounds, TheGeneratorRefusesBadArgumentsAndUnwritableFolders) {
    EXPECT_EQ(runAssets({}, dir_ / "stderr"), 2);
    EXPECT_NE(readAll(dir_ / "stderr").find("--output DIR is required"), std::string::npos);
    EXPECT_EQ(runAssets({"--output"}, dir_ / "stderr"), 2);
    EXPECT_EQ(runAssets({"--frobnicate", "--output", runtime_.string()}, dir_ / "stderr"), 2);

    const fs::path blocker = dir_ / "a-file";
    std::ofstream(blocker) << "x";
    EXPECT_EQ(runAssets({"--output", (blocker / "runtime").string()}, dir_ / "stderr"), 1);
    EXPECT_NE(readAll(dir_ / "stderr").find("cannot create"), std::string::npos)
        << readAll(dir_ / "stderr");
}

} // namespace
} // namespace kelvora::test

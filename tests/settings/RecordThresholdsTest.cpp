// The recording thresholds each scale starts from: what an absent entry
// loads on either scale, and that a quiet simulated sensor, replayed through
// the recorder with those thresholds, records at most the minimum length.
#include "settings/Settings.h"
#include "support/ChildProcess.h"
#include "support/Files.h"
#include "support/MemorySettingsStore.h"
#include "support/TemporaryFolder.h"
#include "support/TestNames.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace kelvora::test {
namespace {

namespace fs = std::filesystem;

struct LoadCase {
    const char* name;
    std::optional<std::int32_t> scale; // Radio/SiSel, absent when none
    std::optional<std::int32_t> start; // waveRecStaSi
    std::optional<std::int32_t> stop;  // waveRecStopSi
    double loadedStart;
    double loadedStop;
};

class RecordThresholdLoading : public ::testing::TestWithParam<LoadCase> {};

TEST_P(RecordThresholdLoading, AbsentEntriesTakeTheLoadedScalesDefaults) {
    const LoadCase& c = GetParam();
    MemorySettingsStore store;
    auto put = [&](const key::Key& k, std::optional<std::int32_t> value) {
        if (value) {
            store.values[MemorySettingsStore::key(k.section, k.entry)] = *value;
        }
    };
    put(key::kScale, c.scale);
    put(key::kRecordStartIntensity, c.start);
    put(key::kRecordStopIntensity, c.stop);
    Settings settings;
    settings.loadWindowSettings(store, {1920, 1080});
    EXPECT_EQ(settings.recorder.recordStartIntensity, c.loadedStart);
    EXPECT_EQ(settings.recorder.recordStopIntensity, c.loadedStop);
    // Written back, a loaded default becomes a stored value of its own.
    MemorySettingsStore written;
    settings.saveAll(written);
    EXPECT_EQ(written.values.at("WaveRec/waveRecStaSi"), scaledToStored(c.loadedStart, 10));
    EXPECT_EQ(written.values.at("WaveRec/waveRecStopSi"), scaledToStored(c.loadedStop, 10));
}

INSTANTIATE_TEST_SUITE_P(
    Stores, RecordThresholdLoading,
    ::testing::Values(LoadCase{"EmptyStore", {}, {}, {}, -0.9, -1.3},
                      LoadCase{"JmaScale", 0, {}, {}, -0.9, -1.3},
                      LoadCase{"MercalliScale", 1, {}, {}, 0.5, 0.0},
                      // Any scale but 0 is shown as Mercalli.
                      LoadCase{"OtherScale", 7, {}, {}, 0.5, 0.0},
                      // A stored value is kept as it is, the JMA ones too.
                      LoadCase{"MercalliWithStoredJmaValues", 1, -9, -13, -0.9, -1.3},
                      LoadCase{"MercalliWithAStoredStart", 1, 20, {}, 2.0, 0.0},
                      LoadCase{"JmaWithAStoredStop", 0, {}, -20, -0.9, -2.0}),
    CaseName{});

TEST(RecordThresholdDefaults, ANewSettingsObjectHasTheJmaOnes) {
    const Settings settings;
    EXPECT_EQ(settings.pipeline.intensityScale, 0);
    EXPECT_EQ((RecordThresholds{settings.recorder.recordStartIntensity,
                                settings.recorder.recordStopIntensity}),
              recordThresholdDefaults(0));
}

// Rows of each accelerogram in `folder`: its lines less the header and the
// empty line after it.
std::vector<std::size_t> recordingRows(const fs::path& folder) {
    std::vector<std::size_t> rows;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string text = readAll(entry.path());
        const auto lines = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
        rows.push_back(lines >= 2 ? lines - 2 : 0);
    }
    return rows;
}

struct QuietCase {
    const char* name;
    const char* scale; // as kelvora-replay takes it
    int seed;
};

class QuietSensorOnTheDefaults : public ::testing::TestWithParam<QuietCase> {};

constexpr int kMinimumSeconds = 30;

TEST_P(QuietSensorOnTheDefaults, RecordsAtMostTheMinimumLength) {
    const QuietCase& c = GetParam();
    const TemporaryFolder folder("kelvora-thresholds-");
    const fs::path stream = folder / "quiet.bin";
    const fs::path records = folder / "Accelerogram";
    fs::create_directory(records);

    const ToolRun sim = runTool({KELVORA_SIM_PATH, "--seed", std::to_string(c.seed), "--seconds",
                                 "240", "--output", stream.string()});
    ASSERT_EQ(sim.exitStatus, 0) << sim.err;
    // The replay's thresholds are the scale's defaults, as the monitor's.
    ChildOptions options;
    options.out = Redirect::file(folder / "replay.csv");
    const ToolRun replay =
        runTool({KELVORA_REPLAY_PATH, "--scale", c.scale, "--record-dir", records.string(),
                 "--clock", "2026-01-01 00:00:00", "--record-min-seconds",
                 std::to_string(kMinimumSeconds), stream.string()},
                options);
    ASSERT_EQ(replay.exitStatus, 0) << replay.err;
    for (const std::size_t rows : recordingRows(records)) {
        EXPECT_LE(rows, static_cast<std::size_t>(kMinimumSeconds * 100))
            << "a quiet sensor on " << c.scale << " with its default thresholds";
    }
}

// Seeds 6 and 7 are the loudest quiet streams on the Mercalli scale (up to -0.5).
INSTANTIATE_TEST_SUITE_P(Streams, QuietSensorOnTheDefaults,
                         ::testing::Values(QuietCase{"JmaSeed1", "jma", 1},
                                           QuietCase{"JmaSeed6", "jma", 6},
                                           QuietCase{"MercalliSeed1", "mmi", 1},
                                           QuietCase{"MercalliSeed6", "mmi", 6},
                                           QuietCase{"MercalliSeed7", "mmi", 7}),
                         CaseName{});

// The Mercalli thresholds are not so high that a felt quake goes unrecorded:
// JMA 2.0 is about Mercalli III.
TEST(MercalliDefaultThresholds, RecordAFeltQuake) {
    const TemporaryFolder folder("kelvora-thresholds-");
    const fs::path stream = folder / "quake.bin";
    const fs::path records = folder / "Accelerogram";
    fs::create_directory(records);
    const ToolRun sim = runTool({KELVORA_SIM_PATH, "--seed", "6", "--quake", "2.0@60", "--seconds",
                                 "150", "--output", stream.string()});
    ASSERT_EQ(sim.exitStatus, 0) << sim.err;
    ChildOptions options;
    options.out = Redirect::file(folder / "replay.csv");
    const ToolRun replay =
        runTool({KELVORA_REPLAY_PATH, "--scale", "mmi", "--record-dir", records.string(), "--clock",
                 "2026-01-01 00:00:00", stream.string()},
                options);
    ASSERT_EQ(replay.exitStatus, 0) << replay.err;
    const std::vector<std::size_t> rows = recordingRows(records);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_LT(rows[0], 150u * 100) << "the recording ends after the quake";
}

} // namespace
} // namespace kelvora::test

// The settings store on the real per-user file, in a temporary configuration
// folder: keys, defaults, encodings, load order and the write-back.
#include "settings/Settings.h"
#include "settings/QtSettingsStore.h"
#include "support/TemporaryFolder.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QSettings>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <unistd.h>

namespace kelvora::test {
namespace {

// Never the user's own settings: every test process gets a fresh folder.
class TemporaryConfigHome : public ::testing::Environment {
public:
    void SetUp() override {
        folder_.emplace("kelvora-config");
        ::setenv("XDG_CONFIG_HOME", folder_->string().c_str(), 1);
    }
    void TearDown() override { folder_.reset(); }

private:
    std::optional<TemporaryFolder> folder_;
};
const auto* const kConfigHome = ::testing::AddGlobalTestEnvironment(new TemporaryConfigHome);

constexpr WorkArea kWorkArea{1920, 1040};

class SettingsStoreFile : public ::testing::Test {
protected:
    SettingsStoreFile() {
        application_ = QString("kelvora-test-%1")
                           .arg(QString::fromStdString(
                               ::testing::UnitTest::GetInstance()->current_test_info()->name()));
        QFile::remove(QtSettingsStore(application_).fileName());
    }

    // What the file holds, as section/entry → text.
    std::map<std::string, std::string> fileEntries() const {
        QSettings raw(QSettings::NativeFormat, QSettings::UserScope, "Vantrell", application_);
        std::map<std::string, std::string> entries;
        for (const QString& k : raw.allKeys()) {
            entries[k.toStdString()] = raw.value(k).toString().toStdString();
        }
        return entries;
    }
    void storeRaw(const char* k, const QVariant& value) {
        QSettings raw(QSettings::NativeFormat, QSettings::UserScope, "Vantrell", application_);
        raw.setValue(k, value);
    }

    QString application_;
};

// Every default but the window rectangle: what a new object holds, what an
// empty store loads, and what the settings dialog's Reset puts back.
void expectDefaults(const Settings& s) {
    EXPECT_EQ(s.stayOnTop, 1);
    EXPECT_EQ(s.autoStart, 0);
    EXPECT_EQ(s.minimiseAtStart, 0);
    EXPECT_EQ(s.observationLogEnabled, 1);
    EXPECT_EQ(s.pipeline.useSensorSiGal, 0);
    EXPECT_EQ(s.pipeline.useSensorVelocity, 0);
    EXPECT_EQ(s.recorder.recordStartVelocity, -0.001);
    EXPECT_EQ(s.recorder.recordStartIntensity, -0.9);
    EXPECT_EQ(s.recorder.recordStopIntensity, -1.3);
    EXPECT_EQ(s.recorder.recordMinSeconds, 30);
    EXPECT_EQ(s.framelessView, 0);
    EXPECT_EQ(s.portIndex, 0);
    EXPECT_EQ(s.pipeline.jmaWindowMode, 0);
    EXPECT_EQ(s.pipeline.intensityScale, 0);
    EXPECT_EQ(s.LanguageIndex, 0);
    EXPECT_EQ(colourToHex(s.backgroundColour), "#9FC3F4");
    EXPECT_EQ(colourToHex(s.textColour), "#000000");
    EXPECT_EQ(colourToHex(s.disabledTextColour), "#6D6D6D");
    EXPECT_EQ(s.reconnect, 1);
    EXPECT_EQ(s.faceScale, 100);
    EXPECT_EQ(s.notifyClass, 3);
    EXPECT_EQ(s.raiseWindow, 0);
}

TEST_F(SettingsStoreFile, AnEmptyStoreGivesEveryDefault) {
    QtSettingsStore store(application_);
    Settings s;
    s.loadLanguage(store);
    s.loadWindowSettings(store, kWorkArea);
    s.loadColours(store);

    // 422 by 248 pixels centred on the work area's middle.
    EXPECT_EQ(s.windowRect, (WindowRect{520 - 124, 960 - 211, 520 + 124, 960 + 211}));
    EXPECT_EQ(s.windowRect.right - s.windowRect.left, 422);
    EXPECT_EQ(s.windowRect.bottom - s.windowRect.top, 248);
    expectDefaults(s);
}

TEST(SettingsDefaults, ANewObjectHoldsTheDefaultsTheReceiveThreadAlsoStartsWith) {
    const Settings fresh;
    expectDefaults(fresh);
    // The data path's own settings, as tools make them without a store.
    const PipelineSettings pipeline;
    const RecorderSettings recorder;
    EXPECT_EQ(pipeline.jmaWindowMode, fresh.pipeline.jmaWindowMode);
    EXPECT_EQ(pipeline.intensityScale, fresh.pipeline.intensityScale);
    EXPECT_EQ(recorder.recordStartIntensity, fresh.recorder.recordStartIntensity);
    EXPECT_EQ(recorder.recordStopIntensity, fresh.recorder.recordStopIntensity);
    EXPECT_EQ(recorder.recordMinSeconds, fresh.recorder.recordMinSeconds);
    EXPECT_EQ(recorder.recordStartVelocity, fresh.recorder.recordStartVelocity);
}

TEST_F(SettingsStoreFile, SaveWritesTheTwentyTwoEntriesAndOurOwnUnderTheirExactNames) {
    {
        QtSettingsStore store(application_);
        Settings s;
        s.loadWindowSettings(store, kWorkArea);
        s.loadColours(store);
        s.saveAll(store);
    }
    const std::map<std::string, std::string> expected{
        {"WinPos/top", "396"},
        {"WinPos/left", "749"},
        {"WinPos/bottom", "644"},
        {"WinPos/right", "1171"},
        {"Other/Ontop", "1"},
        {"CheckBox/AutoStart", "0"},
        {"CheckBox/MinStart", "0"},
        {"CheckBox/ObsWrite", "1"},
        {"CheckBox/Receive_SiGal", "0"},
        {"CheckBox/Receive_Velocity", "0"},
        {"WaveRec/waveRecStaPgv", "-1"},
        {"WaveRec/waveRecStaSi", "-9"},
        {"WaveRec/waveRecStopSi", "-13"},
        {"WaveRec/waveRecStopSec", "30"},
        {"Title/View", "0"},
        {"Port/Number", "0"},
        {"Radio/Number", "0"},
        {"Radio/SiSel", "0"},
        {"Language/LangNo", "0"},
        {"FormColor/BackGraund", std::to_string(0xF4C39F)},
        {"FormColor/StaticText", "0"},
        {"FormColor/StaticText2", std::to_string(0x6D6D6D)},
        {"Receive/Reconnect", "1"},
        {"Display/Scale", "100"},
        {"Alert/NotifyClass", "3"},
        {"Alert/RaiseWindow", "0"},
    };
    EXPECT_EQ(fileEntries(), expected);
}

TEST_F(SettingsStoreFile, ValuesSurviveALoadAndSaveCycle) {
    const std::map<std::string, int> stored{
        {"WinPos/top", -20},
        {"WinPos/left", 3000},
        {"WinPos/bottom", 228},
        {"WinPos/right", 3422},
        {"Other/Ontop", 0},
        {"CheckBox/AutoStart", 1},
        {"CheckBox/MinStart", 1},
        {"CheckBox/ObsWrite", 0},
        {"CheckBox/Receive_SiGal", 1},
        {"CheckBox/Receive_Velocity", 1},
        {"WaveRec/waveRecStaPgv", 13},
        {"WaveRec/waveRecStaSi", 200},
        {"WaveRec/waveRecStopSi", 11},
        {"WaveRec/waveRecStopSec", 5},
        {"Title/View", 1},
        {"Port/Number", 99},
        {"Radio/Number", 7},
        {"Radio/SiSel", 1},
        {"Language/LangNo", 3},
        {"FormColor/BackGraund", 0x0000FF},
        {"FormColor/StaticText", 0x123456},
        {"FormColor/StaticText2", 0},
        {"Receive/Reconnect", 0},
        {"Display/Scale", 200},
        {"Alert/NotifyClass", 10},
        {"Alert/RaiseWindow", 1},
    };
    for (const auto& [k, v] : stored) {
        storeRaw(k.c_str(), v);
    }
    {
        QtSettingsStore store(application_);
        Settings s;
        s.loadLanguage(store);
        s.loadWindowSettings(store, kWorkArea);
        s.loadColours(store);
        // Out-of-range values load unchanged; only the dialog applies limits.
        EXPECT_EQ(s.recorder.recordStartIntensity, 20.0);
        EXPECT_EQ(s.recorder.recordMinSeconds, 5);
        EXPECT_EQ(s.pipeline.jmaWindowMode, 7);
        EXPECT_EQ(colourToHex(s.backgroundColour), "#FF0000");
        // A window closed with a changed frame mode writes its current values.
        s.saveAll(store);
    }
    std::map<std::string, std::string> expected;
    for (const auto& [k, v] : stored) {
        expected[k] = std::to_string(v);
    }
    EXPECT_EQ(fileEntries(), expected);
}

// Five or more becomes Japanese; a negative index is kept (it means English,
// with no entry of the language list chosen) and written back as it was.
TEST_F(SettingsStoreFile, ALanguageOfFiveOrMoreBecomesTheFirst) {
    const std::pair<int, int> cases[] = {{7, 0},
                                         {5, 0},
                                         {4, 4},
                                         {1, 1},
                                         {0, 0},
                                         {-1, -1},
                                         {-2147483647 - 1, -2147483647 - 1},
                                         {-9, -9},
                                         {2147483647, 0}};
    for (const auto& [stored, loaded] : cases) {
        storeRaw("Language/LangNo", stored);
        QtSettingsStore store(application_);
        Settings s;
        s.loadLanguage(store);
        EXPECT_EQ(s.LanguageIndex, loaded) << "stored " << stored;
        s.saveAll(store);
        store.sync();
        EXPECT_EQ(fileEntries()["Language/LangNo"], std::to_string(loaded));
    }
}

TEST_F(SettingsStoreFile, EntriesThatAreNotThirtyTwoBitIntegersGiveTheDefault) {
    storeRaw("Port/Number", "abc");
    storeRaw("Radio/SiSel", QVariant(qlonglong(1) << 40));
    storeRaw("WaveRec/waveRecStopSec", "2.5");
    storeRaw("CheckBox/AutoStart", "1");
    storeRaw("WinPos/top", -2147483647 - 1);
    QtSettingsStore store(application_);
    Settings s;
    s.loadWindowSettings(store, kWorkArea);
    EXPECT_EQ(s.portIndex, 0);
    EXPECT_EQ(s.pipeline.intensityScale, 0);
    EXPECT_EQ(s.recorder.recordMinSeconds, 30);
    EXPECT_EQ(s.autoStart, 1) << "a number written as text is still that number";
    EXPECT_EQ(s.windowRect.top, -2147483647 - 1);
}

TEST_F(SettingsStoreFile, StayOnTopDefaultsToItsCurrentValue) {
    QtSettingsStore store(application_);
    Settings s;
    s.stayOnTop = 0;
    s.loadWindowSettings(store, kWorkArea);
    EXPECT_EQ(s.stayOnTop, 0);
}

TEST(SettingsDefaults, TheWindowIsCentredWithTruncatingHalves) {
    EXPECT_EQ(Settings::defaultWindowRect({1367, 769}),
              (WindowRect{384 - 124, 683 - 211, 384 + 124, 683 + 211}));
    EXPECT_EQ(Settings::defaultWindowRect({0, 0}), (WindowRect{-124, -211, 124, 211}));
}

// Scaled doubles are rounded on writing, so nothing drifts across restarts.
TEST(ScaledSettings, EveryStoredValueComesBackUnchanged) {
    for (const int factor : {10, 1000}) {
        for (int stored = -5000; stored <= 5000; ++stored) {
            ASSERT_EQ(scaledToStored(storedToScaled(stored, factor), factor), stored)
                << stored << " / " << factor;
        }
    }
}

TEST(ScaledSettings, ComputedValuesRoundToTheNearestStep) {
    struct Case {
        double value;
        int factor;
        int stored;
    };
    const Case cases[] = {
        {1.2 - 0.1, 10, 11},         // 10.999999999999998 once scaled
        {1001 / 1000.0, 1000, 1001}, // 1000.9999999999999 once scaled
        {-0.001, 1000, -1},
        {0.013, 1000, 13},
        {0.02, 1000, 20},
        {0.1, 1000, 100},
        {-0.9, 10, -9},
        {-1.3, 10, -13},
        {0.04, 10, 0},
        {0.06, 10, 1},
        {1e12, 10, 2147483647},
        {-1e12, 10, -2147483647 - 1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(scaledToStored(c.value, c.factor), c.stored) << c.value << " x " << c.factor;
    }
}

TEST(ColourSettings, AreShownRedGreenBlueAndParsedBack) {
    const std::pair<std::int32_t, const char*> cases[] = {
        {0x0000FF, "#FF0000"}, {0x00FF00, "#00FF00"}, {0xFF0000, "#0000FF"},
        {0xF4C39F, "#9FC3F4"}, {0x6D6D6D, "#6D6D6D"}, {0x000000, "#000000"},
    };
    for (const auto& [colour, text] : cases) {
        EXPECT_EQ(colourToHex(colour), text);
        std::int32_t parsed = -1;
        ASSERT_TRUE(hexToColour(text, parsed));
        EXPECT_EQ(parsed, colour);
    }
    std::int32_t parsed = 0;
    EXPECT_TRUE(hexToColour("#9fc3f4", parsed));
    EXPECT_EQ(parsed, 0xF4C39F);
    for (const char* bad : {"9FC3F4", "#9FC3F", "#9FC3F4A", "#GGGGGG", ""}) {
        EXPECT_FALSE(hexToColour(bad, parsed)) << bad;
    }
}

} // namespace
} // namespace kelvora::test

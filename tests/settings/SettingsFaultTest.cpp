// The settings file damaged or out of reach at start-up (garbage, cut short,
// a folder in its place, no read permission): loading gives the default for
// every entry that cannot be read and keeps those that can, and the save at
// the window's close then writes the file or fails, without a crash either
// way. The configuration folder is the binary's temporary one.
#include "settings/QtSettingsStore.h"
#include "settings/Settings.h"
#include "support/Files.h"
#include "support/MemorySettingsStore.h"
#include "support/TestNames.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>

#include <unistd.h>

namespace kelvora::test {
namespace {

namespace fs = std::filesystem;
using Entries = std::map<std::string, std::int32_t>;

constexpr WorkArea kWorkArea{1920, 1040};

void writeFile(const fs::path& file, const std::string& bytes) {
    std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
}

// Bytes of every value, a few line ends among them; the same on every run.
std::string garbage(std::size_t size) {
    std::mt19937 random(20260502);
    std::string bytes;
    for (std::size_t i = 0; i < size; ++i) {
        bytes.push_back(static_cast<char>(random() & 0xFF));
    }
    return bytes;
}

struct DamageCase {
    const char* name;
    // Makes the settings file (not there yet, its folder there) what the case says.
    void (*damage)(const fs::path& file);
    Entries readable;       // the entries that still load
    bool saveWrites;        // whether the save at close can write the file
    bool needsOrdinaryUser; // root reads and writes whatever the permissions
};

void PrintTo(const DamageCase& c, std::ostream* os) {
    *os << c.name;
}

// What a start loads, in stored form: language, window settings, colours.
Entries loadedEntries(SettingsStore& store) {
    Settings s;
    s.loadLanguage(store);
    s.loadWindowSettings(store, kWorkArea);
    s.loadColours(store);
    MemorySettingsStore memory;
    s.saveAll(memory);
    return memory.values;
}

class DamagedSettingsFile : public ::testing::TestWithParam<DamageCase> {
protected:
    void SetUp() override {
        if (GetParam().needsOrdinaryUser && ::geteuid() == 0) {
            GTEST_SKIP() << "root reads files without read permission; run as an ordinary user";
        }
        fs::create_directories(file_.parent_path());
        fs::remove_all(file_);
        GetParam().damage(file_);
    }
    void TearDown() override {
        std::error_code ec;
        fs::permissions(file_, fs::perms::owner_all, ec);
        fs::remove_all(file_, ec);
    }

    const QString application_ = QString("kelvora-damaged-%1").arg(GetParam().name);
    const fs::path file_ = QtSettingsStore(application_).fileName().toStdString();
};

// What is at the file's place: its type, permissions and (readable) bytes.
std::string snapshot(const fs::path& file) {
    const fs::file_status status = fs::symlink_status(file);
    return std::to_string(static_cast<int>(status.type())) + " " +
           std::to_string(static_cast<int>(status.permissions())) + " " +
           (fs::is_regular_file(status) ? readAll(file) : "");
}

TEST_P(DamagedSettingsFile, LoadsDefaultsForWhatCannotBeReadAndSavesOrFailsWithoutACrash) {
    const std::string damaged = snapshot(file_);
    MemorySettingsStore empty;
    Entries expected = loadedEntries(empty);
    for (const auto& [k, value] : GetParam().readable) {
        ASSERT_TRUE(expected.count(k)) << k;
        expected[k] = value;
    }
    Entries saved;
    {
        QtSettingsStore store(application_);
        ASSERT_EQ(loadedEntries(store), expected);

        // The close writes every setting, one of them changed.
        Settings s;
        s.loadLanguage(store);
        s.loadWindowSettings(store, kWorkArea);
        s.loadColours(store);
        s.portIndex = 41;
        s.saveAll(store);
        store.flush();
        MemorySettingsStore memory;
        s.saveAll(memory);
        saved = memory.values;
    }

    QtSettingsStore next(application_);
    if (GetParam().saveWrites) {
        EXPECT_EQ(loadedEntries(next), saved) << "the next start reads what was saved";
    } else {
        // The save failed and left the damage alone; the next start is as this one.
        EXPECT_EQ(snapshot(file_), damaged);
        EXPECT_EQ(loadedEntries(next), expected);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DamagedSettingsFile,
    ::testing::Values(
        DamageCase{"Empty", [](const fs::path& file) { writeFile(file, ""); }, {}, true, false},
        DamageCase{"Garbage",
                   [](const fs::path& file) { writeFile(file, garbage(4096)); },
                   {},
                   true,
                   false},
        DamageCase{"GarbageBetweenEntries",
                   [](const fs::path& file) {
                       writeFile(file, "[Port]\nNumber=7\n" + garbage(1024) +
                                           "\n\n[WaveRec]\nwaveRecStopSec=45\n");
                   },
                   {{"Port/Number", 7}, {"WaveRec/waveRecStopSec", 45}},
                   true,
                   false},
        // Cut in the middle of an entry's name: the whole entries before stay.
        DamageCase{"CutShort",
                   [](const fs::path& file) {
                       writeFile(file, "[Port]\nNumber=7\n\n[Radio]\nSiSel=1\n\n[WaveRec]\n"
                                       "waveRecStopSec=45\nwaveRecSta");
                   },
                   {{"Port/Number", 7}, {"Radio/SiSel", 1}, {"WaveRec/waveRecStopSec", 45}},
                   true,
                   false},
        DamageCase{"NulAndBrokenUtf8",
                   [](const fs::path& file) {
                       using namespace std::string_literals;
                       writeFile(file, "[Port]\nNumber=7\0\xff\xfe\n[Radio]\nSiSel=1\n"
                                       "[\xc3\x28]\n\xe2\x82=3\n"s);
                   },
                   // The reader ends a value at a NUL.
                   {{"Port/Number", 7}, {"Radio/SiSel", 1}},
                   true,
                   false},
        // What QSettings writes for a value that is no plain number, corrupted.
        DamageCase{"BrokenStoredVariant",
                   [](const fs::path& file) {
                       writeFile(file, "[Port]\nNumber=@Variant(\\0\\0\\0\\x7f\\xff\\xff\\xff)\n"
                                       "[Radio]\nSiSel=@ByteArray(\\xff\nNumber=1\n");
                   },
                   {{"Radio/Number", 1}},
                   true,
                   false},
        DamageCase{"FolderInItsPlace",
                   [](const fs::path& file) {
                       fs::create_directory(file);
                       writeFile(file / "kelvora.conf", "[Port]\nNumber=7\n");
                   },
                   {},
                   false,
                   false},
        DamageCase{"NoReadPermission",
                   [](const fs::path& file) {
                       writeFile(file, "[Port]\nNumber=7\n");
                       fs::permissions(file, fs::perms::none);
                   },
                   {},
                   false,
                   true}),
    CaseName());

} // namespace
} // namespace kelvora::test

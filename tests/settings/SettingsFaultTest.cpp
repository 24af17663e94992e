// The settings file damaged or out of reach at start-up (garbage, cut short,
// a folder, a FIFO or no permission in its place, its folder a file or read
// only): loading gives the default for every entry that cannot be read and
// keeps those that can, and the save at the window's close then writes the
// file or fails and leaves it alone; either way without a crash or a hang,
// with one line on standard error at start for a file that cannot be read
// and one at the end for a file that cannot be written. The configuration
// folder is the binary's temporary one.
#include "settings/QtSettingsStore.h"
#include "settings/Settings.h"
#include "support/ChildProcess.h"
#include "support/Files.h"
#include "support/MemorySettingsStore.h"
#include "support/TestNames.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

namespace kelvora::test {
namespace {

namespace fs = std::filesystem;
using Entries = std::map<std::string, std::int32_t>;
using namespace std::chrono_literals;

constexpr WorkArea kWorkArea{1920, 1040};
// Far beyond a load and a save; only a store that blocks reaches it.
constexpr auto kCaseLimit = 30s;

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
    // What the line on standard error gives as the reason, at start and at
    // the end; none when there is to be no line.
    const char* startReason = nullptr;
    const char* endReason = nullptr;
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
            GTEST_SKIP()
                << "root reads and writes whatever the permissions; run as an ordinary user";
        }
        fs::create_directories(file_.parent_path());
        fs::remove_all(file_);
        GetParam().damage(file_);
    }
    void TearDown() override {
        std::error_code ec;
        const fs::path folder = file_.parent_path();
        fs::permissions(folder, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::permissions(file_, fs::perms::owner_all, ec);
        fs::remove_all(file_, ec);
        if (!fs::is_directory(folder)) {
            fs::remove(folder, ec);
            fs::create_directories(folder, ec);
        }
    }

    const QString application_ = QString("kelvora-damaged-%1").arg(GetParam().name);
    const fs::path file_ = QtSettingsStore::fileNameFor(application_).toStdString();
};

// What is at the file's place and its folder's: type, permissions and
// (readable) bytes of each.
std::string snapshot(const fs::path& file) {
    std::string text;
    for (const fs::path& place : {file.parent_path(), file}) {
        std::error_code ec;
        const fs::file_status status = fs::symlink_status(place, ec);
        text += std::to_string(static_cast<int>(status.type())) + " " +
                std::to_string(static_cast<int>(status.permissions())) + " " +
                (fs::is_regular_file(status) ? readAll(place) : "") + "\n";
    }
    return text;
}

// One plain line naming the file and the reason, or nothing at all.
void expectLine(const std::string& log, const char* reason, const fs::path& file,
                const char* when) {
    if (reason == nullptr) {
        EXPECT_EQ(log, "") << when;
        return;
    }
    EXPECT_EQ(log.rfind("kelvora: ", 0), 0u) << when << ": " << log;
    EXPECT_EQ(log.find('\n'), log.size() - 1) << when << ": one line: " << log;
    EXPECT_NE(log.find(file.string()), std::string::npos) << when << ": " << log;
    EXPECT_NE(log.find(reason), std::string::npos) << when << ": " << log;
}

// Runs `body` as a start of the program: in a process of its own, as
// QSettings keeps what it could not write for the rest of a process, and with
// a limit, so a store that blocks on the file fails the case instead of
// hanging the run.
template <typename Body> void runAsAStart(const char* start, Body body) {
    const pid_t child = forkChild([&] {
        body();
        return ::testing::Test::HasFailure() ? 1 : 0;
    });
    ASSERT_GT(child, 0);
    EXPECT_EQ(exitCode(waitForChild(child, kCaseLimit)), 0) << start << ": see the failures above";
}

TEST_P(DamagedSettingsFile, LoadsDefaultsForWhatCannotBeReadAndSavesOrFailsWithoutACrash) {
    const std::string damaged = snapshot(file_);
    // What a store holding just the readable entries loads (an absent
    // threshold's default follows the scale read).
    MemorySettingsStore readable;
    for (const auto& [k, value] : GetParam().readable) {
        readable.values[k] = value;
    }
    Entries expected = loadedEntries(readable);
    for (const auto& [k, value] : GetParam().readable) {
        ASSERT_EQ(expected.count(k), 1u) << k;
    }
    // The close writes every setting, one of them changed.
    Entries saved = expected;
    saved["Port/Number"] = 41;

    runAsAStart("the first start", [&] {
        std::ostringstream log;
        QtSettingsStore store(application_, log);
        const std::string startLines = log.str();
        expectLine(startLines, GetParam().startReason, file_, "at start");
        EXPECT_EQ(loadedEntries(store), expected);

        Settings s;
        s.loadLanguage(store);
        s.loadWindowSettings(store, kWorkArea);
        s.loadColours(store);
        s.portIndex = 41;
        s.saveAll(store);
        store.flush();
        expectLine(log.str().substr(startLines.size()), GetParam().endReason, file_, "at the end");
    });

    if (HasFailure()) {
        return; // the next start would only repeat it
    }
    runAsAStart("the next start", [&] {
        std::ostringstream log;
        QtSettingsStore next(application_, log);
        if (GetParam().saveWrites) {
            EXPECT_EQ(loadedEntries(next), saved) << "the next start reads what was saved";
        } else {
            // The save failed and left the damage alone; the next start is as this one.
            EXPECT_EQ(snapshot(file_), damaged);
            EXPECT_EQ(loadedEntries(next), expected);
        }
    });
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DamagedSettingsFile,
    ::testing::Values(
        DamageCase{"Empty", [](const fs::path& file) { writeFile(file, ""); }, {}, true, false},
        DamageCase{"Garbage",
                   [](const fs::path& file) { writeFile(file, garbage(4096)); },
                   {},
                   true,
                   false,
                   "damaged"},
        DamageCase{"GarbageBetweenEntries",
                   [](const fs::path& file) {
                       writeFile(file, "[Port]\nNumber=7\n" + garbage(1024) +
                                           "\n\n[WaveRec]\nwaveRecStopSec=45\n");
                   },
                   {{"Port/Number", 7}, {"WaveRec/waveRecStopSec", 45}},
                   true,
                   false,
                   "damaged"},
        // Cut in the middle of an entry's name: the whole entries before stay.
        DamageCase{"CutShort",
                   [](const fs::path& file) {
                       writeFile(file, "[Port]\nNumber=7\n\n[Radio]\nSiSel=1\n\n[WaveRec]\n"
                                       "waveRecStopSec=45\nwaveRecSta");
                   },
                   {{"Port/Number", 7}, {"Radio/SiSel", 1}, {"WaveRec/waveRecStopSec", 45}},
                   true,
                   false,
                   "damaged"},
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
                   false,
                   "Is a directory",
                   "Is a directory"},
        // Opening it to read would wait for a writer for ever.
        DamageCase{"FifoInItsPlace",
                   [](const fs::path& file) { ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0); },
                   {},
                   false,
                   false,
                   "not a regular file",
                   "not a regular file"},
        DamageCase{"ItsFolderAFile",
                   [](const fs::path& file) {
                       fs::remove_all(file.parent_path());
                       writeFile(file.parent_path(), "[Port]\nNumber=7\n");
                   },
                   {},
                   false,
                   false,
                   "Not a directory",
                   "Not a directory"},
        DamageCase{"NoReadPermission",
                   [](const fs::path& file) {
                       writeFile(file, "[Port]\nNumber=7\n");
                       fs::permissions(file, fs::perms::none);
                   },
                   {},
                   false,
                   true,
                   "Permission denied",
                   "Permission denied"},
        DamageCase{"ReadOnlyFile",
                   [](const fs::path& file) {
                       writeFile(file, "[Port]\nNumber=7\n");
                       fs::permissions(file, fs::perms::owner_read);
                   },
                   {{"Port/Number", 7}},
                   false,
                   true,
                   nullptr,
                   "Permission denied"},
        DamageCase{"ReadOnlyFolder",
                   [](const fs::path& file) {
                       writeFile(file, "[Port]\nNumber=7\n");
                       fs::permissions(file.parent_path(),
                                       fs::perms::owner_read | fs::perms::owner_exec);
                   },
                   {{"Port/Number", 7}},
                   false,
                   true,
                   nullptr,
                   "Permission denied"},
        DamageCase{"ReadOnlyFolderWithoutTheFile",
                   [](const fs::path& file) {
                       fs::permissions(file.parent_path(),
                                       fs::perms::owner_read | fs::perms::owner_exec);
                   },
                   {},
                   false,
                   true,
                   nullptr,
                   "Permission denied"}),
    CaseName());

} // namespace
} // namespace kelvora::test

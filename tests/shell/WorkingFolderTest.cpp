// The working folder on real files: when the program stays where it was
// started, when it moves into the user's folder, what it copies there, what it
// never touches, and how it carries on when the folder cannot be had.
#include "shell/WorkingFolder.h"
#include "link/PortMap.h"
#include "shell/LinuxWorkingFolder.h"
#include "support/Files.h"
#include "support/TemporaryFolder.h"
#include "support/TestNames.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace kelvora::test {
namespace {

namespace fs = std::filesystem;

void writeFile(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

// The installed runtime data in small: the file names are the program's.
const std::map<std::string, std::string> kInstalledFiles = {
    {"Sounds/SiAlert/01.wav", "RIFF alert 1"},
    {"Sounds/SiAlert/09.wav", "RIFF alert 9"},
    {"Sounds/SiNotice/jma_01.wav", "RIFF notice jma 1"},
    {"Sounds/SiNotice/mmi_01.wav", "RIFF notice mmi 1"},
    {"Images/Language/jpn/kelvora_bg.bmp", "BM jpn"},
    {"Images/Language/eng/kelvora_bg.bmp", "BM eng"},
    {"取扱説明書.txt", "Kelvora 取扱説明書\r\n\r\nEnglish\r\n"},
};

class FakeWorkingFolder : public WorkingFolder {
public:
    WorkingFolderPlaces given;
    bool canEnter = true;
    std::vector<fs::path> entered;

    WorkingFolderPlaces places() const override { return given; }
    bool enter(const fs::path& folder) override {
        entered.push_back(folder);
        return canEnter;
    }
};

enum class Chosen { Current, User };

struct WorkingFolderCase {
    const char* name;
    bool dataInCurrent;
    bool installed;
    bool userKnown;
    bool canEnter;
    // What the user's side holds before the start; `temporary` is the test's folder.
    std::function<void(const fs::path& user, const fs::path& temporary)> before;
    Chosen chosen;
    // Files of the user's folder that must hold these bytes afterwards.
    std::map<std::string, std::string> kept;
    bool tellsAFailure;
};

void PrintTo(const WorkingFolderCase& c, std::ostream* out) {
    *out << c.name;
}

class WorkingFolderChoice : public ::testing::TestWithParam<WorkingFolderCase> {
protected:
    TemporaryFolder temporary_{"kelvora-working-folder"};
    const fs::path current_ = temporary_ / "home";
    const fs::path installed_ = temporary_ / "prefix" / "share" / "kelvora";
    const fs::path user_ = temporary_ / "data" / "Vantrell" / "Kelvora";
};

TEST_P(WorkingFolderChoice, ChoosesPreparesAndEnters) {
    const WorkingFolderCase& c = GetParam();
    fs::create_directories(current_);
    if (c.dataInCurrent) {
        for (const auto& [name, bytes] : kInstalledFiles) {
            writeFile(current_ / name, "current: " + bytes);
        }
    }
    if (c.installed) {
        for (const auto& [name, bytes] : kInstalledFiles) {
            writeFile(installed_ / name, bytes);
        }
    }
    if (c.before) {
        c.before(user_, temporary_.path());
    }

    FakeWorkingFolder platform;
    platform.given = {current_, temporary_ / "prefix" / "share" / "kelvora",
                      c.userKnown ? user_ : fs::path()};
    platform.canEnter = c.canEnter;
    std::ostringstream log;
    const fs::path chosen = enterWorkingFolder(platform, log);

    if (c.chosen == Chosen::Current) {
        EXPECT_EQ(chosen, current_);
        EXPECT_TRUE(platform.entered.empty() || !c.canEnter) << "it stays where it is";
    } else {
        EXPECT_EQ(chosen, user_);
        EXPECT_EQ(platform.entered, std::vector<fs::path>{user_});
        // Every installed file is there: the user's own where they had one,
        // the installed bytes everywhere else.
        for (const auto& [name, bytes] : kInstalledFiles) {
            if (c.kept.count(name) == 0) {
                EXPECT_EQ(readAll(user_ / name), bytes) << name;
            }
        }
        EXPECT_TRUE(holdsRuntimeData(user_));
        for (const auto& entry : fs::recursive_directory_iterator(user_)) {
            EXPECT_NE(entry.path().extension(), ".part") << entry.path() << " is left over";
        }
    }
    for (const auto& [name, bytes] : c.kept) {
        EXPECT_EQ(readAll(user_ / name), bytes) << name << " is the user's";
    }
    if (c.dataInCurrent) {
        EXPECT_EQ(readAll(current_ / "Sounds/SiAlert/01.wav"), "current: RIFF alert 1");
    }
    EXPECT_EQ(!log.str().empty(), c.tellsAFailure) << log.str();
    if (!c.before && c.chosen == Chosen::Current && c.canEnter) {
        EXPECT_FALSE(fs::exists(user_)) << "nothing is made for a folder not used";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WorkingFolderChoice,
    ::testing::Values(
        // The build's runtime folder, the demo and the tests start where the data is.
        WorkingFolderCase{"RuntimeDataInTheCurrentDirectory",
                          true,
                          true,
                          true,
                          true,
                          nullptr,
                          Chosen::Current,
                          {},
                          false},
        // The desktop menu starts in the home folder: the first start fills the user's folder.
        WorkingFolderCase{
            "FirstStartFromTheMenu", false, true, true, true, nullptr, Chosen::User, {}, false},
        // A later start after the user replaced a sound and recorded: theirs stay,
        // a file they removed comes back.
        WorkingFolderCase{"UserFilesAreNeverReplaced",
                          false,
                          true,
                          true,
                          true,
                          [](const fs::path& user, const fs::path&) {
                              writeFile(user / "Sounds/SiAlert/01.wav", "my own siren");
                              writeFile(user / "Images/Language/jpn/kelvora_bg.bmp", "BM mine");
                              writeFile(user / "Observation/20261211.txt", "2026-12-11,...\r\n");
                              writeFile(user / "ports/COM100", "");
                          },
                          Chosen::User,
                          {{"Sounds/SiAlert/01.wav", "my own siren"},
                           {"Images/Language/jpn/kelvora_bg.bmp", "BM mine"},
                           {"Observation/20261211.txt", "2026-12-11,...\r\n"},
                           {"ports/COM100", ""}},
                          false},
        // A start cut short in mid-copy left a partial file: it does not count as the user's.
        WorkingFolderCase{"APartialCopyIsRedone",
                          false,
                          true,
                          true,
                          true,
                          [](const fs::path& user, const fs::path&) {
                              writeFile(user / "Sounds/SiAlert/.01.wav.part", "RIFF al");
                          },
                          Chosen::User,
                          {},
                          false},
        // A file stands where the user's folder would be made.
        WorkingFolderCase{"UserFolderCannotBeMade",
                          false,
                          true,
                          true,
                          true,
                          [](const fs::path&, const fs::path& temporary) {
                              writeFile(temporary / "data" / "Vantrell", "not a folder");
                          },
                          Chosen::Current,
                          {},
                          true},
        // A file of the user's stands where a data folder belongs: the copy fails, and
        // the file stays.
        WorkingFolderCase{"CopyFails",
                          false,
                          true,
                          true,
                          true,
                          [](const fs::path& user, const fs::path&) {
                              writeFile(user / "Sounds", "a file called Sounds");
                          },
                          Chosen::Current,
                          {{"Sounds", "a file called Sounds"}},
                          true},
        WorkingFolderCase{"UserFolderCannotBeEntered",
                          false,
                          true,
                          true,
                          false,
                          nullptr,
                          Chosen::Current,
                          {},
                          true},
        // A build tree's program run from elsewhere: nothing installed beside it.
        WorkingFolderCase{
            "NoInstalledData", false, false, true, true, nullptr, Chosen::Current, {}, false},
        // Neither XDG_DATA_HOME nor HOME.
        WorkingFolderCase{
            "NoUserFolder", false, true, false, true, nullptr, Chosen::Current, {}, false}),
    CaseName());

// The places on Linux, from the environment the desktop gives.
struct EnvironmentCase {
    const char* name;
    std::optional<std::string> dataHome; // relative to the test's folder unless absolute
    bool home;
    const char* expected; // below the test's folder; nullptr: none
};

void PrintTo(const EnvironmentCase& c, std::ostream* out) {
    *out << c.name;
}

class LinuxUserFolder : public ::testing::TestWithParam<EnvironmentCase> {
protected:
    void SetUp() override {
        for (const char* name : {"XDG_DATA_HOME", "HOME"}) {
            if (const char* value = std::getenv(name)) {
                saved_[name] = value;
            }
            ::unsetenv(name);
        }
    }
    void TearDown() override {
        for (const char* name : {"XDG_DATA_HOME", "HOME"}) {
            ::unsetenv(name);
        }
        for (const auto& [name, value] : saved_) {
            ::setenv(name.c_str(), value.c_str(), 1);
        }
    }

    TemporaryFolder temporary_{"kelvora-user-folder"};
    std::map<std::string, std::string> saved_;
};

TEST_P(LinuxUserFolder, IsTheFolderOfThePortLinks) {
    const EnvironmentCase& c = GetParam();
    if (c.dataHome) {
        const std::string value =
            *c.dataHome == "relative" ? "relative/data" : (temporary_ / *c.dataHome).string();
        ::setenv("XDG_DATA_HOME", value.c_str(), 1);
    }
    if (c.home) {
        ::setenv("HOME", (temporary_ / "home").c_str(), 1);
    }
    const fs::path folder = LinuxWorkingFolder::userFolder();
    if (c.expected == nullptr) {
        EXPECT_TRUE(folder.empty()) << folder;
        return;
    }
    EXPECT_EQ(folder, temporary_ / c.expected);
    // The manual tells users the port links live in their working folder.
    EXPECT_EQ(folder / "ports", fs::path(PortMap::defaultLinkDirectory()));
}

INSTANTIATE_TEST_SUITE_P(
    Environments, LinuxUserFolder,
    ::testing::Values(
        EnvironmentCase{"DataHome", "data", true, "data/Vantrell/Kelvora"},
        EnvironmentCase{"DataHomeWithoutHome", "data", false, "data/Vantrell/Kelvora"},
        EnvironmentCase{"HomeOnly", std::nullopt, true, "home/.local/share/Vantrell/Kelvora"},
        // A relative XDG_DATA_HOME is to be ignored.
        EnvironmentCase{"RelativeDataHome", "relative", true, "home/.local/share/Vantrell/Kelvora"},
        EnvironmentCase{"Neither", std::nullopt, false, nullptr}),
    CaseName());

TEST(LinuxWorkingFolder, EntersAFolderAndRefusesAMissingOne) {
    TemporaryFolder temporary("kelvora-enter");
    const fs::path before = fs::current_path();
    LinuxWorkingFolder platform;
    EXPECT_FALSE(platform.enter(temporary / "missing"));
    EXPECT_EQ(fs::current_path(), before);
    ASSERT_TRUE(platform.enter(temporary.path()));
    EXPECT_EQ(fs::current_path(), fs::canonical(temporary.path()));
    EXPECT_EQ(platform.places().current, fs::canonical(temporary.path()));
    fs::current_path(before);
}

} // namespace
} // namespace kelvora::test

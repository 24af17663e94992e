// COM numbers and device paths, on a fake device folder and link folder.
#include "link/PortMap.h"

#include "link/PortLinkLock.h"

#include "support/TemporaryFolder.h"
#include "support/TestNames.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <unistd.h>

namespace kelvora::test {
namespace {

class PortMapInFolders : public ::testing::Test {
protected:
    PortMapInFolders() {
        std::filesystem::create_directories(devices_);
        std::filesystem::create_directories(links_);
    }

    void touch(const std::string& path) { std::ofstream(path).put('x'); }
    void link(int com, const std::string& target) {
        ASSERT_EQ(::symlink(target.c_str(), (links_ + "/COM" + std::to_string(com)).c_str()), 0);
    }

    TemporaryFolder temporary_{"kelvora-ports"};
    const std::string root_ = temporary_.string();
    const std::string devices_ = root_ + "/dev";
    const std::string links_ = root_ + "/links";
};

TEST_F(PortMapInFolders, BuiltInNumbersMapToTheirDeviceFamilies) {
    PortMap map(devices_, links_);
    const std::pair<int, const char*> cases[] = {
        {1, "/ttyS0"},     {3, "/ttyS2"},    {32, "/ttyS31"},   {33, "/ttyUSB0"},
        {64, "/ttyUSB31"}, {65, "/ttyACM0"}, {96, "/ttyACM31"},
    };
    for (const auto& [com, device] : cases) {
        EXPECT_EQ(map.devicePath(com), devices_ + device) << "COM" << com;
    }
    EXPECT_EQ(map.devicePath(0), "");
    EXPECT_EQ(map.devicePath(97), "") << "no built-in device beyond 96";
    EXPECT_EQ(map.devicePath(-4), "");
}

TEST_F(PortMapInFolders, ALinkOverridesTheBuiltInNumberAndAddsNewOnes) {
    touch(root_ + "/sensor");
    link(33, root_ + "/sensor");
    link(140, root_ + "/sensor");
    PortMap map(devices_, links_);
    EXPECT_EQ(map.devicePath(33), links_ + "/COM33");
    EXPECT_EQ(map.devicePath(140), links_ + "/COM140");
}

TEST_F(PortMapInFolders, PresentPortsListsExistingDevicesInAscendingOrder) {
    touch(devices_ + "/ttyS0"); // not a real UART: left out
    touch(devices_ + "/ttyUSB1");
    touch(devices_ + "/ttyACM0");
    touch(root_ + "/sensor");
    link(120, root_ + "/sensor");
    link(101, root_ + "/gone"); // dangling: its device has gone
    link(66, root_ + "/gone");  // a dangling link hides the built-in ttyACM1 too
    touch(devices_ + "/ttyACM1");
    touch(links_ + "/COMx");
    PortMap map(devices_, links_);
    EXPECT_EQ(map.presentPorts(), (std::vector<int>{34, 65, 120}));
}

// A link with the lock file a registering program keeps beside it, as it finds
// it: held by a live owner, or left behind by one that died.
enum class Lock { None, Held, LeftBehind, LeftBehindForAnotherTarget };
enum class Opens { Link, BuiltIn, Nothing };

struct LinkLockCase {
    const char* name;
    int com;
    bool dangling; // the link's device has gone too
    Lock lock;
    bool present;
    Opens opens;
};

void PrintTo(const LinkLockCase& c, std::ostream* os) {
    *os << c.name;
}

class PortMapLinkLocks : public PortMapInFolders,
                         public ::testing::WithParamInterface<LinkLockCase> {};

TEST_P(PortMapLinkLocks, AStaleLinkGivesWayToTheBuiltInDeviceAndOthersDecideTheirNumber) {
    const LinkLockCase& c = GetParam();
    touch(root_ + "/sensor");
    touch(devices_ + "/ttyUSB7"); // COM40's built-in device
    const std::string target = root_ + (c.dangling ? "/gone" : "/sensor");
    const std::string linkPath = links_ + "/COM" + std::to_string(c.com);
    std::optional<PortLinkLock> owner;
    if (c.lock != Lock::None) {
        std::string error;
        ASSERT_EQ(owner.emplace().acquire(linkPath, error), PortLinkLock::Status::Acquired)
            << error;
        ASSERT_TRUE(owner->record(
            c.lock == Lock::LeftBehindForAnotherTarget ? root_ + "/earlier" : target, error))
            << error;
    }
    link(c.com, target);
    if (c.lock != Lock::Held) {
        owner.reset(); // the owner dies: lock dropped, file left
    }
    ASSERT_EQ(std::filesystem::exists(portLinkLockPath(linkPath)), c.lock != Lock::None);

    PortMap map(devices_, links_);
    const std::vector<int> present = map.presentPorts();
    EXPECT_EQ(std::find(present.begin(), present.end(), c.com) != present.end(), c.present);
    const std::string expected = c.opens == Opens::Link      ? linkPath
                                 : c.opens == Opens::BuiltIn ? devices_ + "/ttyUSB7"
                                                             : "";
    EXPECT_EQ(map.devicePath(c.com), expected);
    EXPECT_EQ(isStaleLink(linkPath), c.opens != Opens::Link);
}

INSTANTIATE_TEST_SUITE_P(
    Links, PortMapLinkLocks,
    ::testing::Values(
        LinkLockCase{"HandMadeOverABuiltInNumber", 40, false, Lock::None, true, Opens::Link},
        LinkLockCase{"HandMadeAbove96", 150, false, Lock::None, true, Opens::Link},
        LinkLockCase{"HandMadeDanglingHidesTheBuiltIn", 40, true, Lock::None, false, Opens::Link},
        LinkLockCase{"LiveOverABuiltInNumber", 40, false, Lock::Held, true, Opens::Link},
        LinkLockCase{"LiveAbove96", 150, false, Lock::Held, true, Opens::Link},
        LinkLockCase{"LeftBehindFallsBackToTheBuiltIn", 40, false, Lock::LeftBehind, true,
                     Opens::BuiltIn},
        LinkLockCase{"LeftBehindAbove96NamesNothing", 150, false, Lock::LeftBehind, false,
                     Opens::Nothing},
        LinkLockCase{"LeftBehindDanglingFallsBackToTheBuiltIn", 40, true, Lock::LeftBehind, true,
                     Opens::BuiltIn},
        LinkLockCase{"HandMadeOverALeftOverLockFile", 150, false, Lock::LeftBehindForAnotherTarget,
                     true, Opens::Link}),
    CaseName());

TEST_F(PortMapInFolders, ALockIsTakenOnceAndItsFileGoesWithACleanRelease) {
    touch(root_ + "/sensor");
    const std::string linkPath = links_ + "/COM150";
    std::string error;
    PortLinkLock owner;
    ASSERT_EQ(owner.acquire(linkPath, error), PortLinkLock::Status::Acquired) << error;
    ASSERT_TRUE(owner.record(root_ + "/sensor", error)) << error;
    link(150, root_ + "/sensor");
    EXPECT_FALSE(isStaleLink(linkPath));

    PortLinkLock second;
    EXPECT_EQ(second.acquire(linkPath, error), PortLinkLock::Status::Held);
    EXPECT_FALSE(second.held());

    owner.remove();
    EXPECT_FALSE(std::filesystem::exists(portLinkLockPath(linkPath)));
    EXPECT_FALSE(isStaleLink(linkPath)) << "without a lock file a link counts as hand-made";
    ASSERT_EQ(second.acquire(linkPath, error), PortLinkLock::Status::Acquired) << error;
    EXPECT_FALSE(second.previousOwnersLink()) << "a fresh lock file has no previous owner";
}

TEST(PortMapDefaults, TheLinkFolderFollowsXdgDataHome) {
    const char* saved = std::getenv("XDG_DATA_HOME");
    const std::string restore = saved != nullptr ? saved : "";
    const char* savedHome = std::getenv("HOME");
    const std::string restoreHome = savedHome != nullptr ? savedHome : "";
    ::setenv("XDG_DATA_HOME", "/tmp/kelvora-data", 1);
    EXPECT_EQ(PortMap::defaultLinkDirectory(), "/tmp/kelvora-data/Vantrell/Kelvora/ports");
    ::setenv("XDG_DATA_HOME", "relative/is/ignored", 1);
    ::setenv("HOME", "/home/someone", 1);
    EXPECT_EQ(PortMap::defaultLinkDirectory(), "/home/someone/.local/share/Vantrell/Kelvora/ports");
    ::setenv("HOME", restoreHome.c_str(), 1);
    if (saved != nullptr) {
        ::setenv("XDG_DATA_HOME", restore.c_str(), 1);
    } else {
        ::unsetenv("XDG_DATA_HOME");
    }
}

} // namespace
} // namespace kelvora::test

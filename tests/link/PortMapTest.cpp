// COM numbers and device paths, on a fake device folder and link folder.
#include "link/PortMap.h"

#include "support/TemporaryFolder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
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

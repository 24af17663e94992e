// The simulator's COM link, in-process on a temporary link folder: which links
// and lock files already there leave a number free, what a registration leaves
// in the folder, and that a reader testing the lock does not turn it away.
#include "SimulatedLine.h"
#include "link/PortLinkLock.h"
#include "link/PortMap.h"
#include "support/TemporaryFolder.h"
#include "support/TestNames.h"
#include "support/Waiting.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <unistd.h>

namespace kelvora::test {
namespace {

namespace fs = std::filesystem;
using Status = sim::PortLink::Status;

// What the link of a number names before the simulator starts.
enum class Link { None, TheDevice, AnotherFile, Dangling };
// Its lock file: none (a hand-made link), held by a live owner, or left by one
// that died, recording the link's target or some earlier one.
enum class Lock { None, Held, LeftBehind, LeftBehindForAnotherTarget };

struct ClaimCase {
    const char* name;
    int existingCom;
    Link link;
    Lock lock;
    int requested; // 0: the lowest free number from 100
    Status expected;
    int expectedCom = 0;
};

void PrintTo(const ClaimCase& c, std::ostream* os) {
    *os << c.name;
}

class PortLinkInFolder : public ::testing::Test {
protected:
    PortLinkInFolder() {
        fs::create_directories(devices_);
        std::ofstream(device_).put('x');
        std::ofstream(other_).put('x');
    }

    std::string linkPath(int com) const { return links_ + "/COM" + std::to_string(com); }

    std::string target(Link link) const {
        return link == Link::TheDevice     ? device_
               : link == Link::AnotherFile ? other_
                                           : root_ + "/gone";
    }

    // Lays out a number as a hand, a live owner or a dead one left it; a live
    // owner's lock is kept in `owner_`.
    void prepare(int com, Link link, Lock lock) {
        fs::create_directories(links_);
        if (lock != Lock::None) {
            std::string error;
            ASSERT_EQ(owner_.emplace().acquire(linkPath(com), error),
                      PortLinkLock::Status::Acquired)
                << error;
            ASSERT_TRUE(owner_->record(lock == Lock::LeftBehindForAnotherTarget ? root_ + "/earlier"
                                                                                : target(link),
                                       error))
                << error;
        }
        if (link != Link::None) {
            fs::create_symlink(target(link), linkPath(com));
        }
        if (lock != Lock::Held) {
            owner_.reset(); // dies: the lock is dropped, the file stays
        }
    }

    static std::string linkTarget(const std::string& path) {
        std::error_code ec;
        return fs::read_symlink(path, ec).string();
    }

    TemporaryFolder temporary_{"kelvora-portlink"};
    const std::string root_ = temporary_.string();
    const std::string links_ = root_ + "/links";
    const std::string devices_ = root_ + "/dev";
    const std::string device_ = root_ + "/pts-3"; // what the simulator was handed
    const std::string other_ = root_ + "/ttyUSB3";
    std::optional<PortLinkLock> owner_;
};

class PortLinkClaims : public PortLinkInFolder, public ::testing::WithParamInterface<ClaimCase> {};

TEST_P(PortLinkClaims, ReplacesOnlyLinksWhoseOwnerHasGone) {
    const ClaimCase& c = GetParam();
    prepare(c.existingCom, c.link, c.lock);
    const std::string before = linkTarget(linkPath(c.existingCom));

    sim::PortLink link;
    std::string error;
    const Status status = link.create(links_, c.requested, device_, error);
    ASSERT_EQ(status, c.expected) << error;
    const PortMap map(devices_, links_);

    if (c.expected == Status::Taken) {
        EXPECT_NE(error.find("COM" + std::to_string(c.requested) + " is taken"), std::string::npos)
            << error;
        EXPECT_EQ(linkTarget(linkPath(c.existingCom)), before) << "left as it was";
        EXPECT_FALSE(isStaleLink(linkPath(c.existingCom)));
        return;
    }
    const std::string path = linkPath(c.expectedCom);
    EXPECT_EQ(link.comNumber(), c.expectedCom);
    EXPECT_EQ(linkTarget(path), device_);
    EXPECT_TRUE(fs::is_regular_file(portLinkLockPath(path)));
    EXPECT_FALSE(isStaleLink(path)) << "its lock is held while the simulator runs";
    EXPECT_EQ(map.devicePath(c.expectedCom), path);
    const std::vector<int> present = map.presentPorts();
    EXPECT_NE(std::find(present.begin(), present.end(), c.expectedCom), present.end());
    if (c.existingCom != c.expectedCom) {
        EXPECT_EQ(linkTarget(linkPath(c.existingCom)), before) << "another number's link";
    }

    link.remove();
    EXPECT_FALSE(fs::exists(fs::symlink_status(path)));
    EXPECT_FALSE(fs::exists(portLinkLockPath(path)));
}

INSTANTIATE_TEST_SUITE_P(
    Links, PortLinkClaims,
    ::testing::Values(
        ClaimCase{"FreeNumber", 150, Link::None, Lock::None, 150, Status::Registered, 150},
        ClaimCase{"DanglingLink", 150, Link::Dangling, Lock::None, 150, Status::Registered, 150},
        // The pseudo-terminal a killed simulator had is handed to the next one.
        ClaimCase{"LeftBehindNamingTheVeryDevice", 150, Link::TheDevice, Lock::LeftBehind, 150,
                  Status::Registered, 150},
        ClaimCase{"LeftBehindNamingAnotherTerminal", 150, Link::AnotherFile, Lock::LeftBehind, 150,
                  Status::Registered, 150},
        ClaimCase{"LeftBehindDangling", 150, Link::Dangling, Lock::LeftBehind, 150,
                  Status::Registered, 150},
        ClaimCase{"LeftBehindTakenAutomatically", 100, Link::AnotherFile, Lock::LeftBehind, 0,
                  Status::Registered, 100},
        ClaimCase{"LiveOneSkippedAutomatically", 100, Link::AnotherFile, Lock::Held, 0,
                  Status::Registered, 101},
        ClaimCase{"HandMade", 150, Link::AnotherFile, Lock::None, 150, Status::Taken},
        ClaimCase{"HandMadeOverALeftOverLockFile", 150, Link::AnotherFile,
                  Lock::LeftBehindForAnotherTarget, 150, Status::Taken},
        ClaimCase{"Live", 150, Link::AnotherFile, Lock::Held, 150, Status::Taken},
        ClaimCase{"LiveOwnerWhoseLinkWasRemoved", 150, Link::None, Lock::Held, 150, Status::Taken}),
    CaseName());

TEST_F(PortLinkInFolder, AReaderTestingTheLockAtTheSameMomentDoesNotTurnTheSimulatorAway) {
    prepare(150, Link::TheDevice, Lock::LeftBehind);
    const std::string lockFile = portLinkLockPath(linkPath(150));
    // A reader in the middle of its staleness test holds a shared lock.
    const int reader = ::open(lockFile.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    ASSERT_EQ(::flock(reader, LOCK_SH | LOCK_NB), 0);
    // Every try of the simulator opens the lock file: the reader lets go once
    // a few have met its lock, however slow the machine.
    const int watch = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    ASSERT_GE(watch, 0);
    ASSERT_GE(::inotify_add_watch(watch, lockFile.c_str(), IN_OPEN), 0);
    std::atomic<bool> created{false};
    std::atomic<int> opens{0};
    std::thread release([&] {
        waitFor(
            [&] {
                alignas(inotify_event) char events[4096];
                for (ssize_t n; (n = ::read(watch, events, sizeof events)) > 0;) {
                    for (ssize_t at = 0; at < n;) {
                        const auto* event = reinterpret_cast<const inotify_event*>(events + at);
                        opens += (event->mask & IN_OPEN) != 0 ? 1 : 0;
                        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
                    }
                }
                return opens >= 5 || created;
            },
            std::chrono::seconds(30));
        ::close(reader);
    });

    sim::PortLink link;
    std::string error;
    const Status status = link.create(links_, 150, device_, error);
    created = true;
    release.join();
    ::close(watch);
    EXPECT_GE(opens, 5) << "the simulator never met the reader's lock";
    EXPECT_EQ(status, Status::Registered) << error;
    EXPECT_FALSE(isStaleLink(linkPath(150)));
}

} // namespace
} // namespace kelvora::test

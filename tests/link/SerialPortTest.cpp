// The port on a real pseudo-terminal: what an open leaves behind once closed.
// The exclusive flag only refuses ordinary users, so these tests mean most
// when run as one.
#include "link/SerialPort.h"
#include "PseudoTerminal.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace kelvora::test {
namespace {

using namespace std::chrono_literals;

// Opens the device the way any other program would; errno when refused.
int plainOpenErrno(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return errno;
    }
    ::close(fd);
    return 0;
}

TEST(SerialPortOnPseudoTerminal, AClosedPortCanBeOpenedAgainByUsAndByOthers) {
    PseudoTerminal line;
    SerialPort port{100ms};
    for (int run = 0; run < 3; ++run) {
        ASSERT_TRUE(port.open(line.slavePath())) << "run " << run;
        ASSERT_TRUE(port.applyLineSettings());
        ASSERT_TRUE(port.applyTimeouts());
        port.close();
        EXPECT_EQ(plainOpenErrno(line.slavePath()), 0)
            << "run " << run << ": " << std::strerror(plainOpenErrno(line.slavePath()));
    }
}

TEST(SerialPortOnPseudoTerminal, AnOpenPortKeepsOtherOpenersOut) {
    PseudoTerminal line;
    SerialPort port{100ms};
    ASSERT_TRUE(port.open(line.slavePath()));
    SerialPort second{100ms};
    EXPECT_FALSE(second.open(line.slavePath()));
    if (::geteuid() != 0) {
        EXPECT_EQ(plainOpenErrno(line.slavePath()), EBUSY) << "exclusive while open";
    }
    port.close();
    EXPECT_TRUE(second.open(line.slavePath()));
}

TEST(SerialPortOnPseudoTerminal, ClosingPutsBackTheSettingsFoundAtOpen) {
    PseudoTerminal line;
    // An ordinary terminal: cooked, echoing, 9600 baud.
    termios before{};
    ASSERT_EQ(::tcgetattr(line.holder(), &before), 0);
    before.c_iflag |= ICRNL | IXON;
    before.c_oflag |= OPOST | ONLCR;
    before.c_lflag |= ICANON | ECHO | ISIG;
    before.c_cc[VMIN] = 1;
    before.c_cc[VTIME] = 0;
    ::cfsetspeed(&before, B9600);
    ASSERT_EQ(::tcsetattr(line.holder(), TCSANOW, &before), 0);
    ASSERT_EQ(::tcgetattr(line.holder(), &before), 0);

    SerialPort port{100ms};
    ASSERT_TRUE(port.open(line.slavePath()));
    ASSERT_TRUE(port.applyLineSettings());
    ASSERT_TRUE(port.applyTimeouts());
    termios during{};
    ASSERT_EQ(::tcgetattr(line.holder(), &during), 0);
    ASSERT_EQ(during.c_lflag & (ICANON | ECHO), 0u) << "the port runs raw";
    port.close();

    termios after{};
    ASSERT_EQ(::tcgetattr(line.holder(), &after), 0);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(after.c_oflag, before.c_oflag);
    EXPECT_EQ(after.c_cflag, before.c_cflag);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(::cfgetispeed(&after), ::cfgetispeed(&before));
    EXPECT_EQ(after.c_cc[VMIN], before.c_cc[VMIN]);
    EXPECT_EQ(after.c_cc[VTIME], before.c_cc[VTIME]);
}

// A configured port on the line, its sensor end written through `line`.
class SerialPortReads : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(port_.open(line_.slavePath()));
        ASSERT_TRUE(port_.applyLineSettings());
        ASSERT_TRUE(port_.applyTimeouts());
    }
    std::string readAll(std::size_t count) {
        std::string bytes;
        while (bytes.size() < count) {
            const ReadResult read = port_.readByte();
            if (!read.received) {
                break;
            }
            bytes.push_back(static_cast<char>(read.byte));
        }
        return bytes;
    }

    PseudoTerminal line_;
    SerialPort port_{200ms};
};

TEST_F(SerialPortReads, ABurstComesInOrderFromFewReads) {
    std::string burst;
    for (int i = 0; i < 600; ++i) {
        burst.push_back(static_cast<char>(i * 7));
    }
    line_.write(burst.data(), burst.size());
    EXPECT_EQ(readAll(burst.size()), burst);
    EXPECT_LE(port_.deviceReads(), 20u) << "one system call per byte is back";
    EXPECT_FALSE(port_.readByte().received) << "then the line is quiet";
}

TEST_F(SerialPortReads, APurgeAndACloseDropWhatWasReadButNotHandedOut) {
    line_.write("abcdef", 6);
    ASSERT_EQ(readAll(1), "a"); // the rest waits in the port
    ASSERT_TRUE(port_.purge());
    line_.write("Z", 1);
    EXPECT_EQ(readAll(1), "Z");

    line_.write("ghij", 4);
    ASSERT_EQ(readAll(1), "g");
    port_.close();
    ASSERT_TRUE(port_.open(line_.slavePath()));
    ASSERT_TRUE(port_.applyLineSettings());
    ASSERT_TRUE(port_.applyTimeouts());
    ASSERT_TRUE(port_.purge());
    line_.write("Y", 1);
    EXPECT_EQ(readAll(1), "Y");
}

} // namespace
} // namespace kelvora::test

#include "link/PortMap.h"

#include "link/PortLinkLock.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kelvora {

namespace {

bool exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

// A /dev/ttyS node exists for every possible UART; only a real one counts. A
// node the user may not open is listed, so the user sees it and the open error.
bool isRealUart(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return errno == EACCES || errno == EBUSY;
    }
    serial_struct info{};
    const bool real = ::ioctl(fd, TIOCGSERIAL, &info) == 0 && info.type != PORT_UNKNOWN;
    ::close(fd);
    return real;
}

// A link decides its number, unless a process that registered it has gone and
// left it behind: its device path may name an unrelated terminal by now.
bool hasDecidingLink(const std::string& link) {
    struct stat st {};
    return ::lstat(link.c_str(), &st) == 0 && !isStaleLink(link);
}

} // namespace

PortMap::PortMap() : PortMap("/dev", defaultLinkDirectory()) {}

PortMap::PortMap(std::string deviceDirectory, std::string linkDirectory)
    : deviceDirectory_(std::move(deviceDirectory)), linkDirectory_(std::move(linkDirectory)) {}

std::string PortMap::userDataFolder() {
    std::string base;
    if (const char* data = std::getenv("XDG_DATA_HOME"); data != nullptr && data[0] == '/') {
        base = data;
    } else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0') {
        base = std::string(home) + "/.local/share";
    } else {
        return {};
    }
    return base + "/Vantrell/Kelvora";
}

std::string PortMap::defaultLinkDirectory() {
    const std::string folder = userDataFolder();
    return (folder.empty() ? std::string("/tmp/Vantrell/Kelvora") : folder) + "/ports";
}

std::string PortMap::linkPath(int comNumber) const {
    return linkDirectory_ + "/COM" + std::to_string(comNumber);
}

std::string PortMap::builtInPath(int comNumber) const {
    if (comNumber >= 1 && comNumber <= 32) {
        return deviceDirectory_ + "/ttyS" + std::to_string(comNumber - 1);
    }
    if (comNumber >= 33 && comNumber <= 64) {
        return deviceDirectory_ + "/ttyUSB" + std::to_string(comNumber - 33);
    }
    if (comNumber >= 65 && comNumber <= 96) {
        return deviceDirectory_ + "/ttyACM" + std::to_string(comNumber - 65);
    }
    return {};
}

std::string PortMap::devicePath(int comNumber) const {
    if (comNumber < 1) {
        return {};
    }
    if (std::string link = linkPath(comNumber); hasDecidingLink(link)) {
        return link;
    }
    return builtInPath(comNumber);
}

std::vector<int> PortMap::presentPorts() const {
    std::vector<int> candidates;
    for (int n = 1; n <= kHighestBuiltIn; ++n) {
        candidates.push_back(n);
    }
    if (DIR* dir = ::opendir(linkDirectory_.c_str()); dir != nullptr) {
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            const bool digits = name.size() > 3 && name.size() <= 12 &&
                                std::all_of(name.begin() + 3, name.end(),
                                            [](char c) { return c >= '0' && c <= '9'; });
            if (digits && name.compare(0, 3, "COM") == 0) {
                candidates.push_back(std::atoi(name.c_str() + 3));
            }
        }
        ::closedir(dir);
    }
    std::sort(candidates.begin(), candidates.end());
    candidates.erase(std::unique(candidates.begin(), candidates.end()), candidates.end());

    std::vector<int> ports;
    for (const int n : candidates) {
        if (n < 1) {
            continue;
        }
        if (const std::string link = linkPath(n); hasDecidingLink(link)) {
            // Present while its device is.
            if (exists(link)) {
                ports.push_back(n);
            }
            continue;
        }
        const std::string path = builtInPath(n);
        if (path.empty() || !exists(path)) {
            continue;
        }
        if (n <= 32 && !isRealUart(path)) {
            continue;
        }
        ports.push_back(n);
    }
    return ports;
}

} // namespace kelvora

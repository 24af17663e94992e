#pragma once

#include <string>
#include <vector>

namespace kelvora {

// COM port numbers on Linux: COM1-32 are /dev/ttyS0-31, COM33-64 /dev/ttyUSB0-31,
// COM65-96 /dev/ttyACM0-31, and a per-user link
// $XDG_DATA_HOME/Vantrell/Kelvora/ports/COM<n> gives any number any device
// (it overrides the built-in one). The simulator registers itself that way; a
// link it left behind when killed is stale (see PortLinkLock.h) and ignored.
class PortMap {
public:
    // Uses /dev and the user's data folder from the environment.
    PortMap();
    PortMap(std::string deviceDirectory, std::string linkDirectory);

    static constexpr int kHighestBuiltIn = 96;

    // The device path COM<comNumber> opens; empty when the number names none. A
    // stale link gives way to the built-in device, if any.
    std::string devicePath(int comNumber) const;
    // The numbers whose device is present, ascending.
    std::vector<int> presentPorts() const;

    // The folder of the per-user links.
    const std::string& linkDirectory() const { return linkDirectory_; }
    // The ports folder of userDataFolder() (of /tmp/Vantrell/Kelvora when the
    // environment names none).
    static std::string defaultLinkDirectory();
    // The per-user data folder, also the installed program's working folder:
    // $XDG_DATA_HOME/Vantrell/Kelvora (an absolute XDG_DATA_HOME only), else
    // $HOME/.local/share/Vantrell/Kelvora; empty without either.
    static std::string userDataFolder();
    std::string linkPath(int comNumber) const;

private:
    std::string builtInPath(int comNumber) const;

    std::string deviceDirectory_;
    std::string linkDirectory_;
};

} // namespace kelvora

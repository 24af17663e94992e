#pragma once

#include <QString>

#include <cstdint>
#include <vector>

namespace kelvora {

// A serial port the settings dialog offers: its COM number and the device
// it opens, so a Linux user can tell which one it is.
struct SerialPortChoice {
    int number = 0; // COM number
    QString device; // "/dev/ttyUSB0"
};

// What the settings dialog reads from the running program: the two live
// read-outs, whether reception runs, and the ports present now. The main
// window provides it; tests give fixed values.
class SettingsDialogSource {
public:
    virtual ~SettingsDialogSource() = default;
    // Good frames in the last second.
    virtual std::int32_t framesPerSecond() const = 0;
    // The JMA acceleration read-out as the display shows it ("%9.3f gal").
    virtual QString jmaAccelText() const = 0;
    // Reception runs: the port, the JMA window and the scale are not to change.
    virtual bool receiveActive() const = 0;
    // The ports present now, by ascending number.
    virtual std::vector<SerialPortChoice> ports() const = 0;
};

} // namespace kelvora

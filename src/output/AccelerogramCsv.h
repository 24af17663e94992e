#pragma once

#include "output/LocalTime.h"

#include <cstddef>
#include <string>
#include <vector>

namespace kelvora {

// The longest line read, its line end not counted. A recorder's row is about
// 125 bytes; the limit keeps a file with an endless line (a device such as
// /dev/zero, or a binary file) from filling the memory.
inline constexpr std::size_t kLongestAccelerogramLine = 4096;

// One row of a recorded accelerogram: one frame.
struct AccelerogramRow {
    double intensity = 0.0;
    double siGal = 0.0;
    double accelX = 0.0;
    double accelY = 0.0;
    double accelZ = 0.0;
    double velocity = 0.0;
};

struct Accelerogram {
    LocalTime start; // the first row's time stamp
    std::vector<AccelerogramRow> rows;
};

// Reads an accelerogram as the monitor's recorder writes it: a UTF-8 byte order
// mark, a header line, an empty line, then one row per frame,
//   YYYY-MM-DD,HH:MM:SS,mmm, intensity, siGal, X, Y, Z, pgv
// with the numbers space-padded and CR LF line ends. LF line ends, a missing
// byte order mark and empty lines are accepted; so is a pipe or a device
// rather than a file. Every number must fit the sensor's single-precision
// floats, as every recorded one does. False with a message in `error` naming
// the file, and the line of the first malformed row (a file cut short in a
// row among them) or of a line longer than the limit.
bool readAccelerogramCsv(const std::string& path, Accelerogram& accelerogram, std::string& error);

} // namespace kelvora

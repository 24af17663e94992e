#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace kelvora::sim {

// The longest line read, its line end not counted. A recorder's row is about
// 125 bytes; the limit keeps a file with an endless line (a device such as
// /dev/zero, or a binary file) from filling the memory.
inline constexpr std::size_t kLongestAccelerogramLine = 4096;

// What the sensor sent in one frame of a recorded accelerogram.
struct AccelerogramRow {
    float sensorSiGal = 0.0f;
    float accelX = 0.0f;
    float accelY = 0.0f;
    float accelZ = 0.0f;
    float sensorVelocity = 0.0f;
};

// Reads an accelerogram as the monitor's recorder writes it: a UTF-8 byte order
// mark, a header line, an empty line, then one row per frame,
//   YYYY-MM-DD,HH:MM:SS,mmm, intensity, siGal, X, Y, Z, pgv
// with the numbers space-padded and CR LF line ends. LF line ends, a missing
// byte order mark and empty lines are accepted; so is a pipe or a device
// rather than a file. False with a message in `error` naming the file, and the
// line of the first malformed row or of a line longer than the limit.
bool readAccelerogramCsv(const std::string& path, std::vector<AccelerogramRow>& rows,
                         std::string& error);

} // namespace kelvora::sim

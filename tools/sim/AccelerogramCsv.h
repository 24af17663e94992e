#pragma once

#include <string>
#include <vector>

namespace kelvora::sim {

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
// byte order mark and empty lines are accepted. False with a message in
// `error` naming the file, and the line of the first malformed row.
bool readAccelerogramCsv(const std::string& path, std::vector<AccelerogramRow>& rows,
                         std::string& error);

} // namespace kelvora::sim

#pragma once

#include "core/DisplayTexts.h"
#include "output/LocalTime.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kelvora {

// One line a minute of the environment readings, in one file per local day
// ("YYYYMMDD.txt", no byte order mark, no header):
//   YYYY-MM-DD,hh:mm:00,temperature,humidity,pressure,sea-level pressure,0,0 CR LF
// with the log texts of the last display tick. The window calls tick() first
// thing on every timer tick with the local time it read for that tick; the
// first tick whose second is 0 and differs from the previous tick's second
// writes the line. A program started during second 0, or a second 0 without
// any tick, gets no line for that minute.
//
// Each line opens its file for appending (creating it), writes and closes it,
// so no file stays open and the first line after midnight lands in the new
// day's file. A file that cannot be opened loses that minute's line and
// nothing else: the tick is remembered as usual, so the open is not retried
// on every tick of that second. Nothing is reported.
class ObservationLog {
public:
    // folder: the observation folder, in the platform's form; it is not
    // created here.
    explicit ObservationLog(std::string_view folder);

    // Runs on the user-interface thread 100 times a second: a tick that
    // writes no line only compares and stores the time, and allocates
    // nothing. observationLogEnabled is the setting's value; only 1 writes.
    void tick(const LocalTime& now, std::int32_t observationLogEnabled,
              const DisplayTextBoard& texts);

private:
    void writeLine(const LocalTime& time, const ObservationTexts& texts);

    std::string path_; // the folder, the separator, then room for a day's name
    std::size_t folderLength_ = 0;
    LocalTime previousTick_{0, 0, 0, 0, 0, 0, 0};
};

} // namespace kelvora

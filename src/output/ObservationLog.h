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
// with the log texts of the last display tick; a line after a minute without
// a display tick (no frame came: reception stopped, the line silent or gone)
// has the placeholders "---.-" and "----.--" instead of stale readings. The window calls tick()
// first thing on every timer tick with the local time it read for that tick; the first tick in a
// later minute than the tick before writes that minute's line, stamped hh:mm:00. Usually that is
// the first tick of second 0; when the window thread was held up through second 0 it is the first
// tick after, so no minute in which the log was ticking loses its line. The first tick of all
// writes nothing: a program started in the middle of a minute (second 0
// included) begins with the next one. A clock set forward writes the line of
// the minute it lands in, not the minutes it skipped; a clock set back writes
// nothing until its next minute begins.
//
// Each line opens its file for appending (creating it), writes and closes it,
// so no file stays open and the first line after midnight lands in the new
// day's file. A folder that has gone is made again. The file is opened
// without blocking and used only when it is a regular file (a FIFO or a
// device in its place never holds up the window). A line that cannot be
// written is lost, and the next minute tries again; the first such failure is
// said once on standard error, and that it works again when it does.
class ObservationLog {
public:
    // folder: the observation folder, in the platform's form; made again
    // when a line finds it missing.
    explicit ObservationLog(std::string_view folder);

    // Runs on the user-interface thread 100 times a second: a tick that
    // writes no line only compares and stores the time, and allocates
    // nothing. observationLogEnabled is the setting's value; only 1 writes.
    void tick(const LocalTime& now, std::int32_t observationLogEnabled,
              const DisplayTextBoard& texts);

private:
    // The error of the line, 0 when it was written whole.
    int writeLine(const LocalTime& time, const ObservationTexts& texts);
    int openDaysFile();

    std::string folder_;
    std::string path_; // the folder, the separator, then room for a day's name
    std::size_t folderLength_ = 0;
    bool ticked_ = false;
    std::int64_t previousMinute_ = 0;        // minutes since 1970 of the previous tick
    bool troubleSaid_ = false;               // a failure was said and no line written since
    std::uint64_t displayTicksAtMinute_ = 0; // the board's count at the last minute's turn
};

} // namespace kelvora

#include "output/ObservationLog.h"

#include "core/NativePath.h"
#include "output/OutputFolders.h"
#include "output/RegularFile.h"
#include "output/StandardError.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace kelvora {

namespace {

// Room for "%04d%02d%02d.txt" with three full-range integers.
constexpr std::size_t kNameCapacity = 64;
// Six full-range integers, four texts of FieldText::kCapacity and the rest.
constexpr std::size_t kLineCapacity = 256;

} // namespace

ObservationLog::ObservationLog(std::string_view folder) : folder_(folder) {
    path_.assign(folder);
    path_ += nativePath("\\");
    folderLength_ = path_.size();
    path_.resize(folderLength_ + kNameCapacity);
}

void ObservationLog::tick(const LocalTime& now, std::int32_t observationLogEnabled,
                          const DisplayTextBoard& texts) {
    const std::int64_t minute =
        daysFromCivil(now.year, now.month, now.day) * 1440 + now.hour * 60 + now.minute;
    // Only forward: a clock set back would otherwise log a minute twice
    // (once now, stamped with a minute that has already had its line).
    const bool minuteTurned = ticked_ && minute > previousMinute_;
    // Remembered before anything can go wrong, so a failed line is not tried
    // again on the next tick of the same minute.
    ticked_ = true;
    previousMinute_ = minute;
    if (!minuteTurned) {
        return;
    }
    ObservationTexts line = texts.observationTexts();
    const bool frameCame = line.displayTicks != displayTicksAtMinute_;
    displayTicksAtMinute_ = line.displayTicks;
    if (observationLogEnabled != 1) {
        return;
    }
    if (!frameCame) {
        line.temperature.assign("---.-");
        line.humidity.assign("---.-");
        line.pressure.assign("----.--");
        line.seaLevelPressure.assign("----.--");
    }
    LocalTime stamp = now;
    stamp.second = 0;
    stamp.millisecond = 0;
    const int error = writeLine(stamp, line);
    if (error != 0 && !troubleSaid_) {
        troubleSaid_ = true;
        // A folder that cannot be made is named as such; anything else by the file.
        const std::string& place = error == ENOENT || error == ENOTDIR ? folder_ : path_;
        char text[128];
        sayOnStandardError(
            "cannot write the observation log to %s: %s; the next minute tries again",
            place.c_str(), fileErrorText(error, text, sizeof text));
    } else if (error == 0 && troubleSaid_) {
        troubleSaid_ = false;
        sayOnStandardError("the observation log is written to %s again", folder_.c_str());
    }
}

int ObservationLog::openDaysFile() {
    // 0666 and the umask, as a C stream would create it.
    const int flags = O_WRONLY | O_CREAT | O_APPEND;
    int fd = openRegularFile(path_.c_str(), flags, 0666);
    if (fd < 0 && errno == ENOENT) {
        // The folder was removed while the program runs.
        if (!makeFolder(folder_.c_str())) {
            return -1;
        }
        fd = openRegularFile(path_.c_str(), flags, 0666);
    }
    return fd;
}

int ObservationLog::writeLine(const LocalTime& time, const ObservationTexts& texts) {
    char line[kLineCapacity];
    const int length = std::snprintf(
        line, sizeof line, "%04d-%02d-%02d,%02d:%02d:%02d,%s,%s,%s,%s,0,0\r\n", time.year,
        time.month, time.day, time.hour, time.minute, time.second, texts.temperature.c_str(),
        texts.humidity.c_str(), texts.pressure.c_str(), texts.seaLevelPressure.c_str());
    if (length <= 0 || static_cast<std::size_t>(length) >= sizeof line) {
        return EOVERFLOW;
    }
    char* const name = path_.data() + folderLength_;
    std::snprintf(name, kNameCapacity, "%04d%02d%02d.txt", time.year, time.month, time.day);

    const int fd = openDaysFile();
    if (fd < 0) {
        return errno;
    }
    // A line cut short (a full disk) is taken back, or the next minute's line
    // would be glued to its broken half.
    const off_t start = ::lseek(fd, 0, SEEK_END);
    int error = 0;
    std::size_t done = 0;
    while (done < static_cast<std::size_t>(length)) {
        const ssize_t n = ::write(fd, line + done, static_cast<std::size_t>(length) - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            error = n < 0 && errno != 0 ? errno : ENOSPC; // 0: no room
            if (done > 0 && start >= 0) {
                (void)::ftruncate(fd, start);
            }
            break; // a refused write is not retried: the line is lost
        }
        done += static_cast<std::size_t>(n);
    }
    (void)::close(fd);
    return error;
}

} // namespace kelvora

#include "output/ObservationLog.h"

#include "core/NativePath.h"

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

ObservationLog::ObservationLog(std::string_view folder) {
    path_.assign(folder);
    path_ += nativePath("\\");
    folderLength_ = path_.size();
    path_.resize(folderLength_ + kNameCapacity);
}

void ObservationLog::tick(const LocalTime& now, std::int32_t observationLogEnabled,
                          const DisplayTextBoard& texts) {
    const bool newMinute =
        now.second == 0 && now.second != previousTick_.second && observationLogEnabled == 1;
    // Remembered before anything can go wrong, so a failed line is not tried
    // again on the next tick of the same second.
    previousTick_ = now;
    if (newMinute) {
        writeLine(now, texts.observationTexts());
    }
}

void ObservationLog::writeLine(const LocalTime& time, const ObservationTexts& texts) {
    char line[kLineCapacity];
    const int length = std::snprintf(
        line, sizeof line, "%04d-%02d-%02d,%02d:%02d:%02d,%s,%s,%s,%s,0,0\r\n", time.year,
        time.month, time.day, time.hour, time.minute, time.second, texts.temperature.c_str(),
        texts.humidity.c_str(), texts.pressure.c_str(), texts.seaLevelPressure.c_str());
    if (length <= 0 || static_cast<std::size_t>(length) >= sizeof line) {
        return;
    }
    char* const name = path_.data() + folderLength_;
    std::snprintf(name, kNameCapacity, "%04d%02d%02d.txt", time.year, time.month, time.day);

    // 0666 and the umask, as a C stream would create it.
    int fd;
    do {
        fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        return;
    }
    // A line cut short (a full disk) is taken back, or the next minute's line
    // would be glued to its broken half.
    const off_t start = ::lseek(fd, 0, SEEK_END);
    std::size_t done = 0;
    while (done < static_cast<std::size_t>(length)) {
        const ssize_t n = ::write(fd, line + done, static_cast<std::size_t>(length) - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            if (done > 0 && start >= 0) {
                (void)::ftruncate(fd, start);
            }
            break; // a refused write is not retried: the line is lost
        }
        done += static_cast<std::size_t>(n);
    }
    (void)::close(fd);
}

} // namespace kelvora

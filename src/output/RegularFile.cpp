#include "output/RegularFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kelvora {

namespace {

// strerror_r is the GNU one (char*) or the POSIX one (int), by the library.
[[maybe_unused]] const char* errorText(char* result, char* /*buffer*/) {
    return result;
}
[[maybe_unused]] const char* errorText(int result, char* buffer) {
    return result == 0 ? buffer : "unknown error";
}

} // namespace

int openRegularFile(const char* path, int flags, mode_t mode) {
    int fd;
    do {
        fd = ::open(path, flags | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, mode);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        // A FIFO nobody reads refuses a non-blocking open for writing.
        struct stat info {};
        if (errno == ENXIO && ::stat(path, &info) == 0 && !S_ISREG(info.st_mode)) {
            errno = kNotARegularFile;
        }
        return -1;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        const int error = S_ISREG(info.st_mode) ? errno : kNotARegularFile;
        (void)::close(fd);
        errno = error;
        return -1;
    }
    const int status = ::fcntl(fd, F_GETFL);
    if (status < 0 || ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK) != 0) {
        const int error = errno;
        (void)::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

const char* fileErrorText(int error, char* buffer, std::size_t size) {
    if (error == kNotARegularFile) {
        return "not a regular file";
    }
    if (size > 0) {
        buffer[0] = '\0';
    }
    return errorText(::strerror_r(error, buffer, size), buffer);
}

} // namespace kelvora

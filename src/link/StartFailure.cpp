#include "link/StartFailure.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace kelvora {

namespace {

PortOpenCause causeOfOpenError(int error) {
    switch (error) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case ENOTDIR:
        return PortOpenCause::NoDevice;
    case EACCES:
    case EPERM:
    case EROFS:
        return PortOpenCause::PermissionDenied;
    case EBUSY: // TIOCEXCL set by another opener
        return PortOpenCause::Held;
    default:
        return PortOpenCause::Other;
    }
}

} // namespace

PortOpenFailure diagnosePortOpen(std::int64_t comNumber, const std::string& device) {
    PortOpenFailure failure;
    failure.comNumber = comNumber;
    failure.device = device;
    if (device.empty()) {
        failure.cause = PortOpenCause::Unmapped;
        return failure;
    }
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        failure.error = errno;
        failure.cause = causeOfOpenError(failure.error);
        return failure;
    }
    if (!::isatty(fd)) {
        failure.cause = PortOpenCause::NotSerial;
    } else if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        failure.error = errno;
        failure.cause = failure.error == EWOULDBLOCK ? PortOpenCause::Held : PortOpenCause::Other;
    } else {
        // Free now: whatever refused the open has gone.
        failure.cause = PortOpenCause::Other;
    }
    ::close(fd);
    return failure;
}

} // namespace kelvora

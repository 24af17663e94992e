#include "shell/SingleInstance.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace kelvora {

std::string SingleInstance::lockPath(const std::string& name) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && runtime[0] == '/') {
        return std::string(runtime) + "/" + name + ".lock";
    }
    return "/tmp/" + name + "-" + std::to_string(::getuid()) + ".lock";
}

SingleInstance::Result SingleInstance::acquire(const std::string& name) {
    release();
    const std::string path = lockPath(name);
    // O_NOFOLLOW: in the shared /tmp another user could plant a link.
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        return Result::Unavailable;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        return error == EWOULDBLOCK ? Result::AlreadyRunning : Result::Unavailable;
    }
    fd_ = fd;
    return Result::Acquired;
}

void SingleInstance::release() {
    if (fd_ >= 0) {
        ::close(fd_); // drops the lock; the file stays for the next start
        fd_ = -1;
    }
}

} // namespace kelvora

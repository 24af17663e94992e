#include "shell/SingleInstance.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kelvora {

namespace {

void closeIfOpen(int fd) {
    if (fd >= 0) {
        ::close(fd);
    }
}

// $XDG_RUNTIME_DIR when it is a folder of ours; -1 otherwise.
int openRuntimeFolder(std::string& path) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime == nullptr || runtime[0] != '/') {
        return -1;
    }
    const int fd = ::open(runtime, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    struct stat info {};
    if (fd < 0 || ::fstat(fd, &info) != 0 || info.st_uid != ::geteuid()) {
        closeIfOpen(fd);
        return -1;
    }
    path = runtime;
    return fd;
}

// Our own folder in the shared temporary folder, where another user may
// have made the name first: a folder of theirs or a link is refused.
int openPrivateFolder(std::string& path) {
    const char* temporary = std::getenv("TMPDIR");
    const std::string base =
        temporary != nullptr && temporary[0] == '/' ? std::string(temporary) : "/tmp";
    const std::string folder = base + "/Kelvora-" + std::to_string(::geteuid());
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        return -1;
    }
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat info {};
    if (fd < 0 || ::fstat(fd, &info) != 0 || info.st_uid != ::geteuid()) {
        closeIfOpen(fd);
        return -1;
    }
    // Ours, but perhaps opened to others since: private again.
    if ((info.st_mode & 07777) != 0700 && ::fchmod(fd, 0700) != 0) {
        ::close(fd);
        return -1;
    }
    path = folder;
    return fd;
}

bool isOwnRegularFile(int fd) {
    struct stat info {};
    return ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == ::geteuid();
}

// The lock file in `folder`, never through a link; anything else by its name
// (left while the folder was open to others) is replaced by our own file.
int openLockFile(int folder, const std::string& name) {
    constexpr int kFlags = O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW;
    int fd = ::openat(folder, name.c_str(), kFlags, 0600);
    if (fd >= 0 && isOwnRegularFile(fd)) {
        return fd;
    }
    closeIfOpen(fd);
    if (::unlinkat(folder, name.c_str(), 0) != 0) {
        return -1;
    }
    fd = ::openat(folder, name.c_str(), kFlags | O_EXCL, 0600);
    if (fd >= 0 && isOwnRegularFile(fd)) {
        return fd;
    }
    closeIfOpen(fd);
    return -1;
}

} // namespace

SingleInstance::Result SingleInstance::acquire(const std::string& name) {
    release();
    path_.clear();
    std::string folderPath;
    int folder = openRuntimeFolder(folderPath);
    if (folder < 0) {
        folder = openPrivateFolder(folderPath);
    }
    if (folder < 0) {
        return Result::Unavailable;
    }
    const std::string fileName = name + ".lock";
    const int fd = openLockFile(folder, fileName);
    ::close(folder);
    if (fd < 0) {
        return Result::Unavailable;
    }
    path_ = folderPath + "/" + fileName;
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

#include "output/RecordFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace kelvora {

RecordFile::RecordFile(PositionedWrite write)
    : write_(write), buffer_(std::make_unique<char[]>(kBufferSize)) {}

RecordFile::~RecordFile() {
    close();
}

bool RecordFile::create(const char* path) {
    close();
    // 0666 and the umask, as a C stream would create it.
    int fd;
    do {
        fd = ::open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        return false;
    }
    fd_ = fd;
    used_ = 0;
    end_ = 0;
    lostData_ = false;
    return true;
}

void RecordFile::append(const char* data, std::size_t size) {
    if (fd_ < 0) {
        return;
    }
    // Whole appends go into one piece, so pieces end at line ends.
    if (size > kBufferSize - used_) {
        flush();
    }
    while (size > kBufferSize - used_) {
        const std::size_t n = kBufferSize - used_;
        std::memcpy(buffer_.get() + used_, data, n);
        used_ += n;
        data += n;
        size -= n;
        flush();
    }
    std::memcpy(buffer_.get() + used_, data, size);
    used_ += size;
}

void RecordFile::flush() {
    if (fd_ < 0 || used_ == 0) {
        return;
    }
    std::size_t done = 0;
    while (done < used_) {
        const ssize_t n =
            write_(fd_, buffer_.get() + done, used_ - done, end_ + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            // The piece is lost; a part of it that did reach the file would
            // leave a broken line between whole ones.
            if (done > 0) {
                (void)::ftruncate(fd_, end_);
            }
            used_ = 0;
            lostData_ = true;
            return;
        }
        done += static_cast<std::size_t>(n);
    }
    end_ += static_cast<off_t>(done);
    used_ = 0;
}

void RecordFile::abandon() {
    if (fd_ < 0) {
        return;
    }
    used_ = 0;
    (void)::close(fd_);
    fd_ = -1;
}

void RecordFile::close() {
    if (fd_ < 0) {
        return;
    }
    flush();
    (void)::fsync(fd_);
    (void)::close(fd_);
    fd_ = -1;
}

} // namespace kelvora

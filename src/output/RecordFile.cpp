#include "output/RecordFile.h"

#include "output/RegularFile.h"

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
    const int fd = openRegularFile(path, O_WRONLY | O_CREAT | O_EXCL, 0666);
    if (fd < 0) {
        return false;
    }
    fd_ = fd;
    used_ = 0;
    end_ = 0;
    error_ = 0;
    return true;
}

void RecordFile::append(const char* data, std::size_t size) {
    if (fd_ < 0 || error_ != 0) {
        return;
    }
    // Whole appends go into one piece, so pieces end at line ends.
    if (size > kBufferSize - used_ && !flush()) {
        return;
    }
    while (size > kBufferSize - used_) {
        const std::size_t n = kBufferSize - used_;
        std::memcpy(buffer_.get() + used_, data, n);
        used_ += n;
        data += n;
        size -= n;
        if (!flush()) {
            return;
        }
    }
    std::memcpy(buffer_.get() + used_, data, size);
    used_ += size;
}

bool RecordFile::flush() {
    if (error_ != 0) {
        return false;
    }
    if (fd_ < 0 || used_ == 0) {
        return true;
    }
    std::size_t done = 0;
    while (done < used_) {
        const ssize_t n =
            write_(fd_, buffer_.get() + done, used_ - done, end_ + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            error_ = n < 0 && errno != 0 ? errno : ENOSPC; // 0: no room
            endAtLastLine(done);
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    end_ += static_cast<off_t>(done);
    used_ = 0;
    return true;
}

void RecordFile::endAtLastLine(std::size_t written) {
    // Lines after a refused one would leave a hole, and a part of a line
    // would be a broken row: the file ends with the last whole line written.
    std::size_t whole = written;
    while (whole > 0 && buffer_[whole - 1] != '\n') {
        --whole;
    }
    end_ += static_cast<off_t>(whole);
    if (whole != written) {
        (void)::ftruncate(fd_, end_);
    }
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
    (void)flush();
    (void)::fsync(fd_);
    (void)::close(fd_);
    fd_ = -1;
}

} // namespace kelvora

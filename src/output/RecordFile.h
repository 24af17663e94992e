#pragma once

#include <cstddef>
#include <memory>
#include <sys/types.h>

namespace kelvora {

// A recording's file. Bytes gather in a fixed buffer and reach the kernel in
// large pieces: on flush(), or when an append would not fit (an append that
// fits the buffer is never split between two pieces, so pieces end where
// lines end). Nothing allocates after construction. A piece the kernel
// refuses (disk full, I/O error) is dropped whole and the file cut back to its
// last complete piece, so the file keeps whole lines and later pieces follow.
class RecordFile {
public:
    // pwrite(2), or a stand-in that tests make fail.
    using PositionedWrite = ssize_t (*)(int fd, const void* data, std::size_t size, off_t offset);
    static constexpr std::size_t kBufferSize = 64 * 1024;

    explicit RecordFile(PositionedWrite write);
    ~RecordFile();
    RecordFile(const RecordFile&) = delete;
    RecordFile& operator=(const RecordFile&) = delete;

    // Creates the file at path, which must not exist yet. False, with errno
    // set, when it exists or cannot be created.
    bool create(const char* path);
    bool isOpen() const { return fd_ >= 0; }
    void append(const char* data, std::size_t size);
    // Hands the buffered bytes to the kernel.
    void flush();
    // Flushes, waits until the file is on the disk and closes it.
    void close();
    // Closes without writing what is buffered; the caller removes the file.
    void abandon();
    // Whether a piece was lost since the file was created.
    bool lostData() const { return lostData_; }

private:
    PositionedWrite write_;
    std::unique_ptr<char[]> buffer_;
    std::size_t used_ = 0;
    off_t end_ = 0; // the file's length in complete pieces
    int fd_ = -1;
    bool lostData_ = false;
};

} // namespace kelvora

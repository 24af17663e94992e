#pragma once

#include <cstddef>
#include <memory>
#include <sys/types.h>

namespace kelvora {

// A recording's file. Bytes gather in a fixed buffer and reach the kernel in
// large pieces: on flush(), or when an append would not fit (an append that
// fits the buffer is never split between two pieces). Nothing allocates after
// construction. Every append ends with a line end. The first piece the kernel
// refuses (disk full, I/O error) ends the file: it is cut back to its last
// whole line, and every later append and flush is dropped, so a file never
// has a hole between lines.
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
    // Hands the buffered bytes to the kernel; false once a write has failed.
    bool flush();
    // Flushes, waits until the file is on the disk and closes it.
    void close();
    // Closes without writing what is buffered; the caller removes the file.
    void abandon();
    // Whether a write failed since the file was created, and its errno.
    bool failed() const { return error_ != 0; }
    int error() const { return error_; }

private:
    void endAtLastLine(std::size_t written);

    PositionedWrite write_;
    std::unique_ptr<char[]> buffer_;
    std::size_t used_ = 0;
    off_t end_ = 0; // the file's length in complete pieces
    int fd_ = -1;
    int error_ = 0;
};

} // namespace kelvora

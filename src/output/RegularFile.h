#pragma once

#include <cstddef>
#include <sys/types.h>

namespace kelvora {

// The error of openRegularFile for a path that names a FIFO, a device, a
// folder or a socket; no system call reports it.
inline constexpr int kNotARegularFile = 0x10000;

// open(2) that never waits: the open is non-blocking, so a FIFO without a
// writer (or reader) or a device cannot hold up the caller, and what it opened
// is kept only when it is a regular file; O_NONBLOCK is then cleared again.
// O_CLOEXEC and O_NOCTTY are always added. The descriptor, or -1 with errno set
// (kNotARegularFile when the path is no regular file).
int openRegularFile(const char* path, int flags, mode_t mode = 0);

// An error of openRegularFile or of any system call as a short English text,
// as strerror gives it ("not a regular file" for kNotARegularFile). Uses
// buffer when it must; allocates nothing.
const char* fileErrorText(int error, char* buffer, std::size_t size);

} // namespace kelvora

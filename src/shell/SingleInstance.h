#pragma once

#include <string>

namespace kelvora {

// One running monitor per user: an exclusive lock on a file in the user's
// runtime folder. The kernel drops the lock when the process ends, however it
// ends, so a crashed instance never blocks the next start.
class SingleInstance {
public:
    SingleInstance() = default;
    ~SingleInstance() { release(); }
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    enum class Result { Acquired, AlreadyRunning, Unavailable };

    // Unavailable when the lock file cannot be made at all; the caller then
    // goes on as if it were the only instance.
    Result acquire(const std::string& name);
    void release();

    // $XDG_RUNTIME_DIR/<name>.lock, or /tmp/<name>-<uid>.lock without it.
    static std::string lockPath(const std::string& name);

private:
    int fd_ = -1;
};

} // namespace kelvora

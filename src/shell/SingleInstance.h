#pragma once

#include <string>

namespace kelvora {

// One running monitor per user: an exclusive lock on a file in the user's
// runtime folder. The kernel drops the lock when the process ends, however it
// ends, so a crashed instance never blocks the next start.
//
// The folder is $XDG_RUNTIME_DIR when that is an absolute path to a folder
// of the user's. Otherwise (unset, missing, another user's after `su`) it is
// a private folder of our own, `$TMPDIR/Kelvora-<uid>` or `/tmp/Kelvora-<uid>`:
// made with mode 0700, and an existing one is used only when it is a real
// folder (a link by that name is never followed) owned by the user, its mode
// narrowed to 0700. Whatever else is in it by the lock's name is replaced.
class SingleInstance {
public:
    SingleInstance() = default;
    ~SingleInstance() { release(); }
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    enum class Result { Acquired, AlreadyRunning, Unavailable };

    // `name`.lock in the folder. Unavailable when no folder or lock file can
    // be had (the private folder's name taken by another user); the caller
    // then goes on as if it were the only instance.
    Result acquire(const std::string& name);
    void release();

    // The lock file of the last acquire; empty when there was none.
    const std::string& path() const { return path_; }

private:
    int fd_ = -1;
    std::string path_;
};

} // namespace kelvora

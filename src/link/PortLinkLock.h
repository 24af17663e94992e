#pragma once

#include <string>

namespace kelvora {

// A program that registers a COM link only for as long as it runs (kelvora-sim)
// keeps a lock file beside it, "COM<n>.lock", holds flock(LOCK_EX) on it and
// records the link's target in it. The kernel drops the lock when the process
// ends, however it ends (SIGKILL too), so a link it left behind is recognisable:
// its lock can be taken. Such a link must not be followed, as its device path
// may belong to an unrelated terminal by now.

// "<linkPath>.lock".
std::string portLinkLockPath(const std::string& linkPath);

// The target of a symbolic link; empty when `path` is none.
std::string linkTarget(const std::string& path);

// True for a link left behind by a process that has gone: its lock file
// records the link's target and nobody holds the lock. A link without a lock
// file (one made by hand) is never stale, nor is one whose target differs from
// the record (a hand-made link over a leftover lock file). The test takes a
// shared lock and drops it at once, so readers do not disturb one another.
bool isStaleLink(const std::string& linkPath);

// The registering side: the lock of one link's lock file, held until remove()
// or destruction. Take it before creating the link, so that no reader ever
// sees a fresh link whose lock is free.
class PortLinkLock {
public:
    enum class Status { Acquired, Held, Failed };

    PortLinkLock() = default;
    // Drops the lock but leaves the file, as a process that dies does.
    ~PortLinkLock() { drop(); }
    PortLinkLock(const PortLinkLock&) = delete;
    PortLinkLock& operator=(const PortLinkLock&) = delete;

    // Takes the lock of `linkPath`'s lock file, creating the file when there is
    // none. A reader's test holds the lock for an instant, so a busy lock is
    // retried for about a second before it counts as Held by a live process.
    // Failed with a message in `error`.
    Status acquire(const std::string& linkPath, std::string& error);
    bool held() const { return fd_ >= 0; }

    // Whether the link is the one the lock file's previous owner registered:
    // with the lock ours, that owner has gone and the link is free to replace.
    bool previousOwnersLink() const;

    // Records `target` as the link's target, replacing the previous owner's.
    // False with a message in `error`.
    bool record(const std::string& target, std::string& error);

    // Removes the lock file, then drops the lock.
    void remove();

private:
    void drop();

    int fd_ = -1;
    std::string linkPath_;
    std::string lockPath_;
    std::string previousTarget_;
};

} // namespace kelvora

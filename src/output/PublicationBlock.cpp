#include "output/PublicationBlock.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <mutex>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kelvora::publication {

namespace {

// A reader can cut the object short (ftruncate, `truncate -s 0`) at any time;
// the next store into the mapping then raises SIGBUS. No check before the
// stores can rule that out: the cut may land between the check and the store,
// and a /dev/shm object cannot be sealed against shrinking (seals are for
// memfd only). Writing through the descriptor instead would make every store
// a system call and give up the one-atomic-store-per-field readers rely on.
// So the fault itself is caught, and only at the blocks' own addresses: zero
// memory is mapped over the block, the interrupted store is repeated there
// harmlessly, and the block is marked cut short. Any other SIGBUS goes on to
// the handler there was before.
struct GuardedBlock {
    std::atomic<std::uintptr_t> address{0};
    std::atomic<bool> cutShort{false};
};
static_assert(std::atomic<std::uintptr_t>::is_always_lock_free &&
              std::atomic<bool>::is_always_lock_free);

constexpr int kGuardSlots = 32; // blocks mapped at once; the monitor has one
GuardedBlock g_guarded[kGuardSlots];
struct sigaction g_previousSigbus {};

void passOn(int signal, siginfo_t* info, void* context) {
    const struct sigaction& previous = g_previousSigbus;
    if ((previous.sa_flags & SA_SIGINFO) != 0) {
        previous.sa_sigaction(signal, info, context);
        return;
    }
    if (previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN) {
        previous.sa_handler(signal);
        return;
    }
    const bool sent = info->si_code <= 0; // by kill(), not by a fault
    if (sent && previous.sa_handler == SIG_IGN) {
        return;
    }
    // The default action: a fault repeats when the handler returns, a sent
    // signal is sent again.
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    ::sigaction(SIGBUS, &fallback, nullptr);
    if (sent) {
        ::raise(signal);
    }
}

void onSigbus(int signal, siginfo_t* info, void* context) {
    if (info->si_code > 0) {
        const auto address = reinterpret_cast<std::uintptr_t>(info->si_addr);
        for (GuardedBlock& guarded : g_guarded) {
            const std::uintptr_t begin = guarded.address.load(std::memory_order_acquire);
            if (begin != 0 && address - begin < kSize) {
                void* fresh = ::mmap(reinterpret_cast<void*>(begin), kSize, PROT_READ | PROT_WRITE,
                                     MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
                if (fresh != MAP_FAILED) {
                    guarded.cutShort.store(true, std::memory_order_relaxed);
                    return;
                }
                break;
            }
        }
    }
    passOn(signal, info, context);
}

// A slot for the block at `address`; -1 when all are taken.
int guard(std::uint8_t* address) {
    static std::once_flag installed;
    std::call_once(installed, [] {
        struct sigaction action {};
        action.sa_sigaction = onSigbus;
        action.sa_flags = SA_SIGINFO;
        ::sigemptyset(&action.sa_mask);
        ::sigaction(SIGBUS, &action, &g_previousSigbus);
    });
    for (int slot = 0; slot < kGuardSlots; ++slot) {
        std::uintptr_t expected = 0;
        if (g_guarded[slot].address.compare_exchange_strong(
                expected, reinterpret_cast<std::uintptr_t>(address), std::memory_order_acq_rel)) {
            g_guarded[slot].cutShort.store(false, std::memory_order_relaxed); // no store yet
            return slot;
        }
    }
    return -1;
}

void say(const std::string& line) {
    const std::string text = "kelvora: " + line + "\n";
    [[maybe_unused]] const auto written = ::write(STDERR_FILENO, text.data(), text.size());
}

// A block of this user's that its mode keeps even the owner out of (000,
// 0400) cannot be opened to be set back to 0600: its mode is set through the
// path. Only a regular file the user owns is touched, never through a link.
bool reopenOwnBlockForWriting(const std::string& name) {
    const std::string path = "/dev/shm/" + (name.starts_with('/') ? name.substr(1) : name);
    struct stat info {};
    if (::fstatat(AT_FDCWD, path.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(info.st_mode) || info.st_uid != ::geteuid()) {
        errno = EACCES;
        return false;
    }
    return ::fchmodat(AT_FDCWD, path.c_str(), 0600, AT_SYMLINK_NOFOLLOW) == 0;
}

// The object of that name, created by us (O_EXCL) or already there; -1 when
// it cannot be opened. A name removed between the two opens is tried again.
int openObject(const std::string& name, bool& created) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        int fd = ::shm_open(name.c_str(), O_CREAT | O_EXCL | O_RDWR, 0600);
        if (fd >= 0) {
            created = true;
            return fd;
        }
        if (errno != EEXIST) {
            return -1;
        }
        fd = ::shm_open(name.c_str(), O_RDWR, 0);
        if (fd < 0 && errno == EACCES && reopenOwnBlockForWriting(name)) {
            fd = ::shm_open(name.c_str(), O_RDWR, 0);
        }
        if (fd >= 0 || errno != ENOENT) {
            created = false;
            return fd;
        }
    }
    return -1;
}

} // namespace

bool SharedMapping::open(const std::string& name) {
    close();
    const std::string refusal = "shared-memory block " + name + ": ";
    const std::string unpublished = "; live values are not published";
    bool created = false;
    const int fd = openObject(name, created);
    if (fd < 0) {
        const int error = errno;
        say(refusal + std::strerror(error) + unpublished);
        return false;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        const int error = errno;
        say(refusal + std::strerror(error) + unpublished);
        ::close(fd);
        return false;
    }
    // A block another user owns is not ours to resize, retune or write into.
    if (info.st_uid != ::geteuid()) {
        say(refusal + "belongs to user " + std::to_string(info.st_uid) + unpublished);
        ::close(fd);
        return false;
    }
    // Ours: only the user's own programs, whatever mode it was made with. A
    // block another program made larger keeps its size: shrinking it would
    // kill that program with SIGBUS at its next access past the end.
    void* mapped = MAP_FAILED;
    if (::fchmod(fd, 0600) == 0 && (info.st_size >= static_cast<off_t>(kSize) ||
                                    ::ftruncate(fd, static_cast<off_t>(kSize)) == 0)) {
        mapped = ::mmap(nullptr, kSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    }
    const int error = errno;
    ::close(fd); // the mapping keeps the object
    const int slot = mapped == MAP_FAILED ? -1 : guard(static_cast<std::uint8_t*>(mapped));
    if (slot < 0) {
        if (mapped != MAP_FAILED) {
            ::munmap(mapped, kSize);
        }
        if (created) {
            ::shm_unlink(name.c_str());
        }
        say(refusal + (mapped == MAP_FAILED ? std::strerror(error) : "too many blocks") +
            unpublished);
        return false;
    }
    data_ = static_cast<std::uint8_t*>(mapped);
    guardSlot_ = slot;
    created_ = created;
    reported_ = false;
    device_ = info.st_dev;
    inode_ = info.st_ino;
    name_ = name;
    cutShortMessage_ = "kelvora: shared-memory block " + name +
                       " was cut short by another program; live values are no longer published\n";
    return true;
}

void SharedMapping::close() {
    if (data_ == nullptr) {
        return;
    }
    g_guarded[guardSlot_].address.store(0, std::memory_order_release);
    ::munmap(data_, kSize);
    data_ = nullptr;
    guardSlot_ = -1;
    if (!created_) {
        return; // a reader's block, or one a killed instance left: not ours to remove
    }
    // The name may have been removed and made again by someone else since.
    const int fd = ::shm_open(name_.c_str(), O_RDONLY, 0);
    if (fd < 0) {
        return;
    }
    struct stat info {};
    const bool same = ::fstat(fd, &info) == 0 && info.st_dev == device_ && info.st_ino == inode_;
    ::close(fd);
    if (same) {
        ::shm_unlink(name_.c_str());
    }
}

bool SharedMapping::cutShort() const noexcept {
    return guardSlot_ >= 0 && g_guarded[guardSlot_].cutShort.load(std::memory_order_relaxed);
}

void SharedMapping::reportCutShort() noexcept {
    if (reported_) {
        return;
    }
    reported_ = true;
    [[maybe_unused]] const auto written =
        ::write(STDERR_FILENO, cutShortMessage_.data(), cutShortMessage_.size());
}

} // namespace kelvora::publication

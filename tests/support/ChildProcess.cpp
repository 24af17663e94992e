#include "support/ChildProcess.h"

#include "support/Files.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace kelvora::test {

namespace {

using Clock = std::chrono::steady_clock;

// Puts `redirect` on standard stream `target`; runs in the forked child, so
// only async-signal-safe calls. False when the file cannot be opened.
bool applyRedirect(const Redirect& redirect, const char* path, int target) {
    switch (redirect.kind()) {
    case Redirect::Kind::Inherit:
    case Redirect::Kind::Pipe:
        return true;
    case Redirect::Kind::File: {
        const int fd = target == STDIN_FILENO ? ::open(path, O_RDONLY)
                                              : ::open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0) {
            return false;
        }
        if (fd != target) {
            ::dup2(fd, target);
            ::close(fd);
        }
        return true;
    }
    case Redirect::Kind::Descriptor:
        if (redirect.fd() == target) {
            return ::fcntl(target, F_SETFD, 0) == 0; // keep it across exec
        }
        return ::dup2(redirect.fd(), target) >= 0;
    }
    return true;
}

// The test's environment with the given variables replaced.
std::vector<std::string>
environmentWith(const std::vector<std::pair<std::string, std::string>>& changes) {
    std::vector<std::string> entries;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        bool changed = false;
        for (const auto& [name, value] : changes) {
            changed = changed || entry.rfind(name + "=", 0) == 0;
        }
        if (!changed) {
            entries.push_back(entry);
        }
    }
    for (const auto& [name, value] : changes) {
        entries.push_back(name + "=" + value);
    }
    return entries;
}

std::string drain(int fd) {
    std::string all;
    char chunk[4096];
    ssize_t n;
    while ((n = ::read(fd, chunk, sizeof chunk)) > 0) {
        all.append(chunk, static_cast<std::size_t>(n));
    }
    return all;
}

} // namespace

int exitCode(int waitStatus) {
    return WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : -1;
}

pid_t spawnChild(const std::vector<std::string>& args, const ChildOptions& options) {
    if (args.empty()) {
        ADD_FAILURE() << "no program to start";
        return -1;
    }
    // Everything the child needs is made before the fork: after it, only
    // async-signal-safe calls.
    const std::string inPath = options.in.kind() == Redirect::Kind::File ? options.in.path() : "";
    const std::string outPath =
        options.out.kind() == Redirect::Kind::File ? options.out.path() : "";
    const std::string errPath =
        options.err.kind() == Redirect::Kind::File ? options.err.path() : "";
    std::vector<std::string> argStrings = args;
    std::vector<char*> argv;
    for (std::string& a : argStrings) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    std::vector<std::string> envStrings;
    std::vector<char*> envp;
    if (!options.environment.empty()) {
        envStrings = environmentWith(options.environment);
        for (std::string& e : envStrings) {
            envp.push_back(e.data());
        }
        envp.push_back(nullptr);
    }
    char* const* const childEnvironment = envp.empty() ? environ : envp.data();
    const pid_t parent = ::getpid();
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "cannot start " << args[0] << ": no pipe";
        return -1;
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        // A test that dies (a failed assertion's abort, a sanitizer report)
        // takes its children along: an orphan holding the test's output open
        // would keep the test runner waiting until its time-out.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) {
            ::_exit(127);
        }
        int error = 0;
        if (!applyRedirect(options.in, inPath.c_str(), STDIN_FILENO) ||
            !applyRedirect(options.out, outPath.c_str(), STDOUT_FILENO) ||
            !applyRedirect(options.err, errPath.c_str(), STDERR_FILENO)) {
            error = errno;
        } else {
            ::execve(argv[0], argv.data(), childEnvironment);
            error = errno;
        }
        (void)!::write(report[1], &error, sizeof error);
        ::_exit(127);
    }
    ::close(report[1]);
    int error = 0;
    const ssize_t got = pid > 0 ? ::read(report[0], &error, sizeof error) : 0;
    ::close(report[0]);
    if (pid < 0 || got == static_cast<ssize_t>(sizeof error)) {
        if (pid > 0) {
            int status = 0;
            ::waitpid(pid, &status, 0);
        }
        ADD_FAILURE() << "cannot start " << args[0] << ": "
                      << std::strerror(pid < 0 ? errno : error);
        return -1;
    }
    return pid;
}

int waitForChild(pid_t pid, std::optional<std::chrono::milliseconds> limit) {
    if (pid <= 0) {
        return -1;
    }
    int status = 0;
    if (!limit) {
        pid_t waited;
        do {
            waited = ::waitpid(pid, &status, 0);
        } while (waited < 0 && errno == EINTR);
        if (waited != pid) {
            ADD_FAILURE() << "waitpid: " << std::strerror(errno);
            return -1;
        }
        return status;
    }
    const auto deadline = Clock::now() + *limit;
    for (;;) {
        const pid_t waited = ::waitpid(pid, &status, WNOHANG);
        if (waited == pid) {
            return status;
        }
        if (waited < 0 && errno != EINTR) {
            ADD_FAILURE() << "waitpid: " << std::strerror(errno);
            return -1;
        }
        if (Clock::now() > deadline) {
            ADD_FAILURE() << "child " << pid << " did not end in time: killed";
            ::kill(pid, SIGKILL);
            return ::waitpid(pid, &status, 0) == pid ? status : -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

ChildProcess::ChildProcess(const std::vector<std::string>& args, ChildOptions options)
    : options_(std::move(options)) {
    if (options_.in.kind() == Redirect::Kind::Pipe) {
        ADD_FAILURE() << "standard input on a pipe: give a descriptor instead";
        return;
    }
    // The child's ends go in as descriptors; the test's ends are close-on-exec.
    ChildOptions spawnOptions = options_;
    int outPipe[2] = {-1, -1};
    int errPipe[2] = {-1, -1};
    const auto openPipe = [](Redirect& redirect, int(&fds)[2]) {
        if (redirect.kind() != Redirect::Kind::Pipe) {
            return true;
        }
        if (::pipe2(fds, O_CLOEXEC) != 0) {
            ADD_FAILURE() << "no pipe: " << std::strerror(errno);
            return false;
        }
        redirect = Redirect::descriptor(fds[1]);
        return true;
    };
    if (openPipe(spawnOptions.out, outPipe) && openPipe(spawnOptions.err, errPipe)) {
        pid_ = spawnChild(args, spawnOptions);
    }
    for (int fd : {outPipe[1], errPipe[1]}) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
    out_ = outPipe[0];
    err_ = errPipe[0];
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0) {
        ::kill(pid_, options_.endSignal);
        ::waitpid(pid_, nullptr, 0);
    }
    for (int fd : {out_, err_}) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

std::optional<std::string> ChildProcess::readLine(std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    for (;;) {
        const auto end = buffer_.find('\n');
        if (end != std::string::npos) {
            std::string line = buffer_.substr(0, end);
            buffer_.erase(0, end + 1);
            return line;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0 || out_ < 0) {
            return std::nullopt;
        }
        pollfd p{out_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) {
            continue;
        }
        char chunk[4096];
        const ssize_t n = ::read(out_, chunk, sizeof chunk);
        if (n <= 0) {
            return std::nullopt;
        }
        buffer_.append(chunk, static_cast<std::size_t>(n));
    }
}

bool ChildProcess::signal(int sig) {
    return pid_ > 0 && ::kill(pid_, sig) == 0;
}

int ChildProcess::wait(std::optional<std::chrono::milliseconds> limit) {
    const int status = waitForChild(pid_, limit);
    pid_ = -1;
    return status;
}

std::optional<int> ChildProcess::tryWait() {
    int status = 0;
    if (pid_ <= 0 || ::waitpid(pid_, &status, WNOHANG) != pid_) {
        return std::nullopt;
    }
    pid_ = -1;
    return status;
}

int ChildProcess::stop() {
    if (pid_ <= 0) {
        return -1;
    }
    ::kill(pid_, options_.endSignal);
    return wait();
}

ToolRun ChildProcess::finish(std::optional<std::chrono::milliseconds> limit) {
    ToolRun run;
    if (out_ >= 0) {
        run.out = buffer_ + drain(out_);
        buffer_.clear();
    }
    if (err_ >= 0) {
        run.err = drain(err_);
    }
    run.exitStatus = exitCode(wait(limit));
    if (options_.out.kind() == Redirect::Kind::File) {
        run.out = readAll(options_.out.path());
    }
    if (options_.err.kind() == Redirect::Kind::File) {
        run.err = readAll(options_.err.path());
    }
    return run;
}

ToolRun runTool(const std::vector<std::string>& args, ChildOptions options,
                std::optional<std::chrono::milliseconds> limit) {
    ChildProcess child(args, std::move(options));
    return child.finish(limit);
}

} // namespace kelvora::test

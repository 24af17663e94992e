#pragma once

// Programs run by the tests as child processes: started with fork and exec, with
// each standard stream inherited, on a file, on a descriptor of the test's, or
// (output only) on a pipe the test reads; waited for with or without a limit.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <signal.h>
#include <sys/prctl.h>
#include <sys/types.h>
#include <unistd.h>

namespace kelvora::test {

// Where one standard stream of a child goes.
class Redirect {
public:
    enum class Kind { Inherit, File, Descriptor, Pipe };

    static Redirect inherit() { return Redirect(Kind::Inherit); }
    // Input reads the file; output creates or truncates it.
    static Redirect file(std::filesystem::path path) {
        Redirect r(Kind::File);
        r.path_ = std::move(path);
        return r;
    }
    // The test's own descriptor; the test still owns it and closes it.
    static Redirect descriptor(int fd) {
        Redirect r(Kind::Descriptor);
        r.fd_ = fd;
        return r;
    }
    // Output only: read with ChildProcess::readLine and finish.
    static Redirect pipe() { return Redirect(Kind::Pipe); }

    Kind kind() const { return kind_; }
    const std::filesystem::path& path() const { return path_; }
    int fd() const { return fd_; }

private:
    explicit Redirect(Kind kind) : kind_(kind) {}

    Kind kind_;
    std::filesystem::path path_;
    int fd_ = -1;
};

struct ChildOptions {
    Redirect in = Redirect::inherit();
    Redirect out = Redirect::pipe();
    Redirect err = Redirect::pipe();
    // Set for the child on top of the test's own environment, which is
    // otherwise passed on unchanged.
    std::vector<std::pair<std::string, std::string>> environment = {};
    // Sent to a child still running when its ChildProcess goes.
    int endSignal = SIGKILL;
};

// How a run ended: the exit status, and what the child wrote to the streams
// it had on a pipe or a file.
struct ToolRun {
    int exitStatus = -1; // -1 when the child did not exit normally
    std::string out;
    std::string err;
};

// The exit status of a wait status; -1 when the child did not exit normally.
int exitCode(int waitStatus);

// Starts args[0] with `args`; pipes are not for this one. The pid, or -1 with
// a test failure when the program cannot be started.
pid_t spawnChild(const std::vector<std::string>& args, const ChildOptions& options);

// Runs `body` in a forked copy of the test, without exec, that ends with
// body's return value and never runs the test's own clean-up; it is killed
// when the test dies. For code under test that needs a process of its own (to
// be killed, or to have its own limits). The pid, or -1 with a test failure.
template <typename Body> pid_t forkChild(Body body) {
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) {
            ::_exit(127);
        }
        ::_exit(body());
    }
    if (pid < 0) {
        ADD_FAILURE() << "cannot fork";
    }
    return pid;
}

// The raw wait status of the child; with a limit, a child still running then
// is killed (a test failure) and waited for. -1 when waitpid fails.
int waitForChild(pid_t pid, std::optional<std::chrono::milliseconds> limit = std::nullopt);

class ChildProcess {
public:
    explicit ChildProcess(const std::vector<std::string>& args, ChildOptions options = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // -1 once the child has been waited for, or when it did not start.
    pid_t pid() const { return pid_; }

    // The next line of standard output without its newline; none when the
    // limit passes first or the output ends.
    std::optional<std::string> readLine(std::chrono::milliseconds limit);

    bool signal(int sig);

    // The raw wait status (see waitForChild).
    int wait(std::optional<std::chrono::milliseconds> limit = std::nullopt);
    // The raw wait status if the child has ended, without waiting.
    std::optional<int> tryWait();
    // Sends the end signal and waits: the raw wait status.
    int stop();

    // Waits for the end; the rest of the piped outputs and the contents of
    // the output files are collected.
    ToolRun finish(std::optional<std::chrono::milliseconds> limit = std::nullopt);

private:
    ChildOptions options_;
    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
    std::string buffer_;
};

// A run to its end. Piped outputs are read only at the end, so they must fit
// the pipes: a few lines.
ToolRun runTool(const std::vector<std::string>& args, ChildOptions options = {},
                std::optional<std::chrono::milliseconds> limit = std::nullopt);

} // namespace kelvora::test

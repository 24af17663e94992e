#pragma once

// A tool run as a child process with its standard output and error on pipes:
// read line by line with a time limit while it runs, or collected whole.
#include <chrono>
#include <cstdlib>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace kelvora::test {

struct ToolRun {
    int status = -1; // exit status; -1 when the child did not exit normally
    std::string out;
    std::string err;
};

class ChildProcess {
public:
    explicit ChildProcess(const std::vector<std::string>& args) {
        int out[2];
        int err[2];
        if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
            throw std::runtime_error("no pipe");
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
        std::vector<char*> argv;
        for (const std::string& a : args) {
            argv.push_back(const_cast<char*>(a.c_str()));
        }
        argv.push_back(nullptr);
        const int spawned = ::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        ::close(err[1]);
        out_ = out[0];
        err_ = err[0];
        if (spawned != 0) {
            pid_ = -1;
            throw std::runtime_error("cannot start " + args[0]);
        }
    }
    ~ChildProcess() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        ::close(out_);
        ::close(err_);
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // The next line of standard output without its newline; none when the
    // limit passes first or the output ends.
    std::optional<std::string> readLine(std::chrono::milliseconds limit) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        for (;;) {
            const auto end = buffer_.find('\n');
            if (end != std::string::npos) {
                std::string line = buffer_.substr(0, end);
                buffer_.erase(0, end + 1);
                return line;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
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

    void signal(int sig) { ::kill(pid_, sig); }

    // Waits for the end; the rest of both outputs is collected.
    ToolRun finish() {
        ToolRun run;
        run.out = buffer_ + drain(out_);
        buffer_.clear();
        run.err = drain(err_);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return run;
    }

private:
    static std::string drain(int fd) {
        std::string all;
        char chunk[4096];
        ssize_t n;
        while ((n = ::read(fd, chunk, sizeof chunk)) > 0) {
            all.append(chunk, static_cast<std::size_t>(n));
        }
        return all;
    }

    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
    std::string buffer_;
};

// A run to its end: outputs of a few lines fit the pipes.
inline ToolRun runTool(const std::vector<std::string>& args) {
    ChildProcess child(args);
    return child.finish();
}

} // namespace kelvora::test

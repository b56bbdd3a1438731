// Child processes: fork and exec with pipes read with poll (the Windows
// half is in child_process_win32.cpp), and the parts common to both.
#include "tests/tools/child_process.h"

#if !defined(_WIN32)
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#endif

namespace lxd::test {

#if !defined(_WIN32)
ChildProcess::~ChildProcess() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) {
        close(out_);
    }
    if (err_ >= 0) {
        close(err_);
    }
}

bool ChildProcess::Start(const std::vector<std::string>& arguments) {
    int outPipe[2];
    int errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0) {
        return false;
    }
    if (pipe2(errPipe, O_CLOEXEC) != 0) {
        close(outPipe[0]);
        close(outPipe[1]);
        return false;
    }
    std::vector<char*> argv;
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
        const int null = open("/dev/null", O_RDONLY);
        dup2(null, STDIN_FILENO);
        dup2(outPipe[1], STDOUT_FILENO);
        dup2(errPipe[1], STDERR_FILENO);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(outPipe[1]);
    close(errPipe[1]);
    out_ = outPipe[0];
    err_ = errPipe[0];
    return pid_ > 0;
}

bool ChildProcess::Pump(std::chrono::milliseconds wait) {
    pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
    if (out_ < 0 && err_ < 0) {
        return false;
    }
    if (poll(fds, 2, static_cast<int>(wait.count())) <= 0) {
        return true;
    }
    int* const ends[2] = {&out_, &err_};
    std::string* const texts[2] = {&result_.out, &result_.err};
    for (int i = 0; i < 2; ++i) {
        if (fds[i].revents == 0) {
            continue;
        }
        char buffer[4096];
        const ssize_t n = read(*ends[i], buffer, sizeof buffer);
        if (n > 0) {
            texts[i]->append(buffer, static_cast<std::size_t>(n));
        } else {
            close(*ends[i]);
            *ends[i] = -1;
        }
    }
    return out_ >= 0 || err_ >= 0;
}

void ChildProcess::Interrupt() {
    if (pid_ > 0) {
        kill(pid_, SIGINT);
    }
}

void ChildProcess::Hangup() {
    if (pid_ > 0) {
        kill(pid_, SIGHUP);
    }
}

ProcessResult ChildProcess::Finish(std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (Pump(std::chrono::milliseconds(50))) {
        if (std::chrono::steady_clock::now() >= end) {
            kill(pid_, SIGKILL);
        }
    }
    int status = 0;
    if (pid_ > 0 && waitpid(pid_, &status, 0) == pid_) {
        result_.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    pid_ = -1;
    return result_;
}

std::string ProgramDirectory() {
    char path[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    std::string self(path, n > 0 ? static_cast<std::size_t>(n) : 0);
    return self.substr(0, self.find_last_of('/') + 1);
}
#endif

bool ChildProcess::WaitForError(const std::string& text, std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (result_.err.find(text) == std::string::npos) {
        if (std::chrono::steady_clock::now() >= end || !Pump(std::chrono::milliseconds(50))) {
            return result_.err.find(text) != std::string::npos;
        }
    }
    return true;
}

ProcessResult RunProcess(const std::vector<std::string>& arguments,
                         std::chrono::milliseconds timeout) {
    ChildProcess child;
    if (!child.Start(arguments)) {
        return {};
    }
    return child.Finish(timeout);
}

}  // namespace lxd::test

// Runs a program with its output captured, in the foreground or beside the
// test (Linux and Windows).
#pragma once

#if !defined(_WIN32)
#include <sys/types.h>
#endif

#include <chrono>
#include <string>
#include <vector>

namespace lxd::test {

struct ProcessResult {
    int exitCode = -1;  // -1: killed or not started
    std::string out;
    std::string err;
};

class ChildProcess {
  public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts `arguments` (the program's path first) with stdin from the null
    // device. On Windows the text read back has its "\r\n" turned into "\n".
    bool Start(const std::vector<std::string>& arguments);
    // Reads output until stderr holds `text`; false on timeout or exit.
    bool WaitForError(const std::string& text, std::chrono::milliseconds timeout);
#if !defined(_WIN32)
    // Sends SIGINT, as Ctrl-C does.
    void Interrupt();
    // Sends SIGHUP, as `systemctl reload` does.
    void Hangup();
    pid_t Pid() const {
        return pid_;
    }
#endif
    // Waits for the exit and returns everything written; kills it after `timeout`.
    ProcessResult Finish(std::chrono::milliseconds timeout);

  private:
    // Reads what is available within `wait`; false once both pipes are closed.
    bool Pump(std::chrono::milliseconds wait);

#if defined(_WIN32)
    void* process_ = nullptr;  // HANDLEs
    void* out_ = nullptr;
    void* err_ = nullptr;
#else
    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
#endif
    ProcessResult result_;
};

// Starts a program and waits for it (at most `timeout`).
ProcessResult RunProcess(const std::vector<std::string>& arguments,
                         std::chrono::milliseconds timeout = std::chrono::seconds(20));

// The directory that holds the running test program (and the tools beside it).
std::string ProgramDirectory();

}  // namespace lxd::test

// Runs a program with its output captured, in the foreground or beside the
// test (Linux).
#pragma once

#include <sys/types.h>

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

    // Starts `arguments` (the program's path first) with stdin from /dev/null.
    bool Start(const std::vector<std::string>& arguments);
    // Reads output until stderr holds `text`; false on timeout or exit.
    bool WaitForError(const std::string& text, std::chrono::milliseconds timeout);
    // Sends SIGINT, as Ctrl-C does.
    void Interrupt();
    // Waits for the exit and returns everything written; kills it after `timeout`.
    ProcessResult Finish(std::chrono::milliseconds timeout);

  private:
    // Reads what is available within `wait`; false once both pipes are closed.
    bool Pump(std::chrono::milliseconds wait);

    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
    ProcessResult result_;
};

// Starts a program and waits for it (at most `timeout`).
ProcessResult RunProcess(const std::vector<std::string>& arguments,
                         std::chrono::milliseconds timeout = std::chrono::seconds(20));

// The directory that holds the running test program (and the tools beside it).
std::string ProgramDirectory();

}  // namespace lxd::test

// Child processes on Windows: CreateProcess with its output on two pipes,
// read without blocking (PeekNamedPipe) so that neither pipe can fill up.
#include <windows.h>

#include <thread>

#include "tests/tools/child_process.h"

namespace lxd::test {
namespace {

void CloseIfOpen(void*& handle) {
    if (handle != nullptr) {
        CloseHandle(handle);
        handle = nullptr;
    }
}

}  // namespace

ChildProcess::~ChildProcess() {
    if (process_ != nullptr) {
        TerminateProcess(process_, 1);
        WaitForSingleObject(process_, INFINITE);
    }
    CloseIfOpen(process_);
    CloseIfOpen(out_);
    CloseIfOpen(err_);
}

bool ChildProcess::Start(const std::vector<std::string>& arguments) {
    // Two pipes whose write ends (only) the child inherits.
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    void* writeEnds[2] = {nullptr, nullptr};
    void** const readEnds[2] = {&out_, &err_};
    for (int i = 0; i < 2; ++i) {
        if (!CreatePipe(readEnds[i], &writeEnds[i], &inherit, 0)) {
            CloseIfOpen(writeEnds[0]);
            return false;
        }
        SetHandleInformation(*readEnds[i], HANDLE_FLAG_INHERIT, 0);
    }
    HANDLE null = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                              OPEN_EXISTING, 0, nullptr);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = null;
    startup.hStdOutput = writeEnds[0];
    startup.hStdError = writeEnds[1];
    // Each argument in quotes, as the C runtime's command-line parser reads it
    // back; the tests pass no argument with a quote or a trailing backslash.
    std::string line;
    for (const std::string& argument : arguments) {
        line += (line.empty() ? "\"" : " \"") + argument + '"';
    }
    PROCESS_INFORMATION info{};
    const BOOL started = CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE,
                                        CREATE_NO_WINDOW, nullptr, nullptr, &startup, &info);
    CloseIfOpen(writeEnds[0]);
    CloseIfOpen(writeEnds[1]);
    if (null != INVALID_HANDLE_VALUE) {
        CloseHandle(null);
    }
    if (!started) {
        return false;
    }
    CloseHandle(info.hThread);
    process_ = info.hProcess;
    return true;
}

bool ChildProcess::Pump(std::chrono::milliseconds wait) {
    const auto end = std::chrono::steady_clock::now() + wait;
    void** const ends[2] = {&out_, &err_};
    std::string* const texts[2] = {&result_.out, &result_.err};
    for (;;) {
        bool read = false;
        for (int i = 0; i < 2; ++i) {
            if (*ends[i] == nullptr) {
                continue;
            }
            DWORD available = 0;
            if (!PeekNamedPipe(*ends[i], nullptr, 0, nullptr, &available, nullptr)) {
                CloseIfOpen(*ends[i]);  // the child closed its end
                continue;
            }
            char buffer[4096];
            DWORD n = 0;
            if (available > 0 &&
                ReadFile(*ends[i], buffer, available < sizeof buffer ? available : sizeof buffer,
                         &n, nullptr)) {
                for (DWORD k = 0; k < n; ++k) {
                    if (buffer[k] != '\r') {
                        texts[i]->push_back(buffer[k]);
                    }
                }
                read = read || n > 0;
            }
        }
        if (out_ == nullptr && err_ == nullptr) {
            return false;
        }
        if (read || std::chrono::steady_clock::now() >= end) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

ProcessResult ChildProcess::Finish(std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    bool killed = false;
    while (Pump(std::chrono::milliseconds(50))) {
        if (!killed && std::chrono::steady_clock::now() >= end) {
            killed = TerminateProcess(process_, 1) != 0;
        }
    }
    DWORD code = 0;
    if (process_ != nullptr && WaitForSingleObject(process_, INFINITE) == WAIT_OBJECT_0 &&
        GetExitCodeProcess(process_, &code) && !killed) {
        result_.exitCode = static_cast<int>(code);
    }
    CloseIfOpen(process_);
    return result_;
}

std::string ProgramDirectory() {
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    const std::string self(path, n < MAX_PATH ? n : 0);
    return self.substr(0, self.find_last_of("\\/") + 1);
}

}  // namespace lxd::test

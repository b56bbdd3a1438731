// Asio (through the runner) brings winsock2.h and windows.h, in the order
// they need, before this file's own Windows calls.
#include "tools/bridge/service/runner.h"

#include <atomic>
#include <string>
#include <vector>

#include "tools/bridge/service/log.h"
#include "tools/bridge/service/options.h"
#include "tools/bridge/service/service.h"

namespace lxd::bridge {
namespace {

// The service's log beside its configuration, at most twice this size
// (the file and the one before it).
constexpr std::uint64_t kLogBytes = 1024 * 1024;
constexpr DWORD kStartWait = 10000;
constexpr DWORD kStopWait = 5000;

// What the service controller's threads share with the service's own.
struct Service {
    int argc = 0;
    char** argv = nullptr;
    SERVICE_STATUS_HANDLE handle = nullptr;
    std::atomic<Runner*> runner{nullptr};
    std::atomic<bool> stopAsked{false};
    int code = 0;
};
Service service;

void Report(DWORD state, int code, DWORD wait) {
    SERVICE_STATUS status{};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted =
        state == SERVICE_RUNNING
            ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN | SERVICE_ACCEPT_PARAMCHANGE
            : 0;
    status.dwWin32ExitCode = code == 0 ? NO_ERROR : ERROR_SERVICE_SPECIFIC_ERROR;
    status.dwServiceSpecificExitCode = static_cast<DWORD>(code);
    status.dwWaitHint = wait;
    SetServiceStatus(service.handle, &status);
}

DWORD WINAPI Control(DWORD control, DWORD, LPVOID, LPVOID) {
    switch (control) {
        case SERVICE_CONTROL_STOP:
        case SERVICE_CONTROL_SHUTDOWN:
            Report(SERVICE_STOP_PENDING, 0, kStopWait);
            service.stopAsked = true;
            if (Runner* runner = service.runner.load()) {
                runner->RequestStop();
            }
            return NO_ERROR;
        case SERVICE_CONTROL_PARAMCHANGE:
            if (Runner* runner = service.runner.load()) {
                runner->RequestReload();
            }
            return NO_ERROR;
        case SERVICE_CONTROL_INTERROGATE:
            return NO_ERROR;
        default:
            return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

// The configuration named on the service's command line, or the default
// one in the machine's ProgramData folder.
std::string ConfigOf(std::vector<std::string>& args) {
    for (std::size_t i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == "--config") {
            return args[i + 1];
        }
    }
    char data[MAX_PATH];
    const DWORD n = GetEnvironmentVariableA("ProgramData", data, sizeof data);
    const std::string base = n > 0 && n < sizeof data ? data : "C:\\ProgramData";
    args.push_back("--config");
    args.push_back(base + "\\Dravik Lighting\\lxdravik\\bridge.toml");
    return args.back();
}

int Run(Log& log) {
    std::vector<std::string> args(service.argv, service.argv + service.argc);
    const std::string config = ConfigOf(args);
    const std::size_t slash = config.find_last_of("\\/");
    const std::string folder = slash == std::string::npos ? "." : config.substr(0, slash);
    log.ToFile(folder + "\\bridge.log", kLogBytes);

    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    Options options;
    std::string error;
    if (const int code = ParseOptions(static_cast<int>(argv.size()), argv.data(), options, &error);
        code >= 0) {
        log.Line("not started: " + error);
        return code;
    }
    Runner runner(options, log, false);
    if (!runner.Open(error)) {
        log.Line("not started: " + error);
        return 1;
    }
    service.runner = &runner;
    if (service.stopAsked) {
        runner.RequestStop();
    }
    Report(SERVICE_RUNNING, 0, 0);
    const std::string summary = runner.Run();
    service.runner = nullptr;
    log.Line("stopped; " + summary.substr(0, summary.find('\n')));
    return 0;
}

void WINAPI ServiceMain(DWORD, LPWSTR*) {
    service.handle = RegisterServiceCtrlHandlerExW(L"lxdravik-bridge", Control, nullptr);
    if (service.handle == nullptr) {
        return;
    }
    Report(SERVICE_START_PENDING, 0, kStartWait);
    Log log;
    service.code = Run(log);
    Report(SERVICE_STOPPED, service.code, 0);
}

}  // namespace

bool RunAsService(int argc, char** argv, int& code) {
    service.argc = argc;
    service.argv = argv;
    SERVICE_TABLE_ENTRYW table[] = {{const_cast<LPWSTR>(L"lxdravik-bridge"), ServiceMain},
                                    {nullptr, nullptr}};
    // Fails at once (ERROR_FAILED_SERVICE_CONTROLLER_CONNECT) when the
    // program was not started by the service controller.
    if (!StartServiceCtrlDispatcherW(table)) {
        return false;
    }
    code = service.code;
    return true;
}

}  // namespace lxd::bridge

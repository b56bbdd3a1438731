// The parts of ChildProcess that do not depend on the system.
#include "tests/tools/child_process.h"

namespace lxd::test {

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

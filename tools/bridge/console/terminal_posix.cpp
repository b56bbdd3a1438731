#include <sys/ioctl.h>
#include <unistd.h>

#include "tools/bridge/console/terminal.h"

namespace lxd::bridge {

bool IsTerminal(std::FILE* stream) {
    return isatty(fileno(stream)) != 0;
}

void SetUpTerminal(std::FILE*) {}

int TerminalColumns(std::FILE* stream) {
    winsize size{};
    if (ioctl(fileno(stream), TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
        return size.ws_col;
    }
    return 80;
}

bool WriteAll(std::FILE* stream, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = write(fileno(stream), data, size);
        if (n <= 0) {
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace lxd::bridge

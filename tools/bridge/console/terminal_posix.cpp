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

long WriteSome(std::FILE* stream, const char* data, std::size_t size) {
    return write(fileno(stream), data, size);
}

}  // namespace lxd::bridge

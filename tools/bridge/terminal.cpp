#include "tools/bridge/terminal.h"

// Platform-specific: terminal detection.
#if defined(_WIN32)
#include <io.h>
#include <windows.h>
#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif
#else
#include <unistd.h>
#endif

namespace lxd::bridge {

bool IsTerminal(std::FILE* stream) {
#if defined(_WIN32)
    if (_isatty(_fileno(stream)) == 0) {
        return false;
    }
    const HANDLE console = GetStdHandle(stream == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (GetConsoleMode(console, &mode)) {
        SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
    }
    return true;
#else
    return isatty(fileno(stream)) != 0;
#endif
}

void Redraw(std::FILE* stream, const char* text) {
    std::fprintf(stream, "\033[H\033[2J%s", text);
    std::fflush(stream);
}

}  // namespace lxd::bridge

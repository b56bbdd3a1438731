#include <io.h>
#include <windows.h>

#include "tools/bridge/console/terminal.h"

#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif

namespace lxd::bridge {
namespace {

HANDLE ConsoleOf(std::FILE* stream) {
    return GetStdHandle(stream == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
}

}  // namespace

bool IsTerminal(std::FILE* stream) {
    return _isatty(_fileno(stream)) != 0;
}

void SetUpTerminal(std::FILE* stream) {
    DWORD mode = 0;
    if (GetConsoleMode(ConsoleOf(stream), &mode)) {
        SetConsoleMode(ConsoleOf(stream), mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
    }
    SetConsoleOutputCP(CP_UTF8);
    // A selection (QuickEdit) would stop every write.
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    if (GetConsoleMode(input, &mode)) {
        SetConsoleMode(
            input, (mode & ~static_cast<DWORD>(ENABLE_QUICK_EDIT_MODE)) | ENABLE_EXTENDED_FLAGS);
    }
}

int TerminalColumns(std::FILE* stream) {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (GetConsoleScreenBufferInfo(ConsoleOf(stream), &info)) {
        return info.srWindow.Right - info.srWindow.Left + 1;
    }
    return 80;
}

long WriteSome(std::FILE* stream, const char* data, std::size_t size) {
    return _write(_fileno(stream), data, static_cast<unsigned>(size));
}

}  // namespace lxd::bridge

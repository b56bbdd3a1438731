#include "tools/bridge/terminal.h"

// Platform-specific: terminal detection, size and raw writes.
#if defined(_WIN32)
#include <io.h>
#include <windows.h>
#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif
#else
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace lxd::bridge {

bool IsTerminal(std::FILE* stream) {
#if defined(_WIN32)
    return _isatty(_fileno(stream)) != 0;
#else
    return isatty(fileno(stream)) != 0;
#endif
}

void SetUpTerminal(std::FILE* stream) {
#if defined(_WIN32)
    const HANDLE console = GetStdHandle(stream == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (GetConsoleMode(console, &mode)) {
        SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
    }
    SetConsoleOutputCP(CP_UTF8);
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    if (GetConsoleMode(input, &mode)) {
        SetConsoleMode(
            input, (mode & ~static_cast<DWORD>(ENABLE_QUICK_EDIT_MODE)) | ENABLE_EXTENDED_FLAGS);
    }
#else
    (void)stream;
#endif
}

int TerminalColumns(std::FILE* stream) {
#if defined(_WIN32)
    CONSOLE_SCREEN_BUFFER_INFO info;
    const HANDLE console = GetStdHandle(stream == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    if (GetConsoleScreenBufferInfo(console, &info)) {
        return info.srWindow.Right - info.srWindow.Left + 1;
    }
#else
    winsize size{};
    if (ioctl(fileno(stream), TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
        return size.ws_col;
    }
#endif
    return 80;
}

void Redraw(std::FILE* stream, const std::string& text) {
    const std::string all = "\033[H\033[2J" + text;
    const int fd = fileno(stream);
    std::size_t at = 0;
    while (at < all.size()) {
#if defined(_WIN32)
        const int n = _write(fd, all.data() + at, static_cast<unsigned>(all.size() - at));
#else
        const ssize_t n = write(fd, all.data() + at, all.size() - at);
#endif
        if (n <= 0) {
            return;
        }
        at += static_cast<std::size_t>(n);
    }
}

}  // namespace lxd::bridge

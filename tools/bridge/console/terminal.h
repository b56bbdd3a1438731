// The terminal, where the status view goes. POSIX and Windows each in a file
// of their own.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

namespace lxd::bridge {

// Whether `stream` is a terminal.
bool IsTerminal(std::FILE* stream);

// Readies the terminal of `stream` for the status view: on Windows turns on
// ANSI escapes and UTF-8 output, and turns QuickEdit off (a selection would
// stop every write); nothing elsewhere.
void SetUpTerminal(std::FILE* stream);

// The terminal's width in columns (80 when unknown).
int TerminalColumns(std::FILE* stream);

// Writes what it can of `data` straight to the descriptor, blocking (no
// stdio buffer or lock): the bytes written, 0 or less when the terminal is
// gone.
long WriteSome(std::FILE* stream, const char* data, std::size_t size);

// Clears the terminal and writes `text` from the top left corner, with
// blocking writes straight to the descriptor (no stdio buffer or lock).
void Redraw(std::FILE* stream, const std::string& text);

}  // namespace lxd::bridge

// The terminal, where the status view goes.
#pragma once

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

// Clears the terminal and writes `text` from the top left corner, with
// blocking writes straight to the descriptor (no stdio buffer or lock).
void Redraw(std::FILE* stream, const std::string& text);

}  // namespace lxd::bridge

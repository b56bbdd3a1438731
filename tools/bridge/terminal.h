// The terminal, where the status view goes.
#pragma once

#include <cstdio>

namespace lxd::bridge {

// Whether `stream` is a terminal; on Windows also turns on ANSI escapes.
bool IsTerminal(std::FILE* stream);

// Clears the terminal and writes `text` from the top left corner.
void Redraw(std::FILE* stream, const char* text);

}  // namespace lxd::bridge

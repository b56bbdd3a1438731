// Text cut to a terminal's columns.
#pragma once

#include <string>

namespace lxd::bridge {

// Columns that valid UTF-8 `text` takes on a terminal (wide East Asian
// characters two, combining marks none).
int DisplayWidth(const std::string& text);
// The longest start of `text` that fits in `columns`, cut between characters.
std::string CutToWidth(const std::string& text, int columns);

}  // namespace lxd::bridge

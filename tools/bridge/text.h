// Text from the network made safe to show: names and addresses as valid
// UTF-8 without controls, and cut to a terminal's columns.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace lxd::bridge {

// A source name or address as text safe to print: valid UTF-8 without C0 or
// C1 controls or bidirectional overrides (U+202A-U+202E, U+2066-U+2069); each
// bad byte or such character becomes '?'. At most `size` - 1 bytes of `text`
// up to its first NUL, never cut inside a character.
void CopyPrintable(const std::uint8_t* text, std::size_t length, char* out, std::size_t size);

// Columns that valid UTF-8 `text` takes on a terminal (wide East Asian
// characters two, combining marks none).
int DisplayWidth(const std::string& text);
// The longest start of `text` that fits in `columns`, cut between characters.
std::string CutToWidth(const std::string& text, int columns);

}  // namespace lxd::bridge

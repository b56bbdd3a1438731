// Text from the network made safe to keep and show: names as valid UTF-8
// without controls.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lxd::bridge {

// A source name or address as text safe to print: valid UTF-8 without C0 or
// C1 controls or bidirectional overrides (U+202A-U+202E, U+2066-U+2069); each
// bad byte or such character becomes '?'. At most `size` - 1 bytes of `text`
// up to its first NUL, never cut inside a character.
void CopyPrintable(const std::uint8_t* text, std::size_t length, char* out, std::size_t size);

// Length of the valid UTF-8 sequence at p (at most `left` bytes), 0 if none.
std::size_t Utf8Sequence(const std::uint8_t* p, std::size_t left);
// The code point of the valid `n`-byte sequence at p.
std::uint32_t CodePoint(const std::uint8_t* p, std::size_t n);

}  // namespace lxd::bridge

// Small parsers of command-line values shared by the tools.
#pragma once

#include <cstdint>
#include <string>

namespace lxd::host {

// A whole decimal number of at most 9 digits; false for anything else
// (signs, spaces, junk).
bool ParseWholeNumber(const std::string& text, long& value);

// HOST:PORT with a port in 1..65535; false otherwise.
bool ParseHostPort(const std::string& text, std::string& host, std::uint16_t& port);

}  // namespace lxd::host

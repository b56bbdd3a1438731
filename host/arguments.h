// Small parsers of command-line values shared by the tools.
#pragma once

#include <cstdint>
#include <string>

namespace lxd::host {

// A whole decimal number of at most 9 digits; false for anything else
// (signs, spaces, junk).
bool ParseWholeNumber(const std::string& text, long& value);

// A dotted IPv4 address into `address` (host order); false for anything else.
bool ParseIpv4(const std::string& text, std::uint32_t& address);
// Whether `text` is an IPv4 or IPv6 address.
bool IsIpAddress(const std::string& text);

// HOST:PORT with a port in 1..65535; false otherwise.
bool ParseHostPort(const std::string& text, std::string& host, std::uint16_t& port);

// The exit code of a command line that a tool refuses.
inline constexpr int kBadCommandLine = 2;

// Prints "PROGRAM: MESSAGE" on standard error; returns kBadCommandLine.
int Fail(const char* program, const std::string& message);

// The driver on this machine, HOST:PORT: the tools' default --to.
std::string LocalDriverAddress();

// Reads --to's HOST:PORT into `host` and `port`; otherwise prints why as Fail
// does and returns false.
bool ParseDestination(const char* program, const std::string& to, std::string& host,
                      std::uint16_t& port);
// The same for a destination that `where` names (an option, a line of a
// file): false with why in `error`.
bool ParseDestination(const std::string& where, const std::string& to, std::string& host,
                      std::uint16_t& port, std::string& error);

}  // namespace lxd::host

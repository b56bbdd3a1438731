#include "host/arguments.h"

// inet_pton: Winsock's header first on Windows, as it must be.
#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#endif

#include <cstdio>

#include "protocol/layout.h"

namespace lxd::host {

bool ParseWholeNumber(const std::string& text, long& value) {
    if (text.empty() || text.size() > 9) {
        return false;
    }
    value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + (c - '0');
    }
    return true;
}

bool ParseIpv4(const std::string& text, std::uint32_t& address) {
    in_addr a{};
    if (inet_pton(AF_INET, text.c_str(), &a) != 1) {
        return false;
    }
    address = ntohl(a.s_addr);
    return true;
}

bool IsIpAddress(const std::string& text) {
    std::uint8_t any[16];
    return inet_pton(AF_INET, text.c_str(), any) == 1 ||
           inet_pton(AF_INET6, text.c_str(), any) == 1;
}

bool ParseHostPort(const std::string& text, std::string& host, std::uint16_t& port) {
    const std::size_t colon = text.rfind(':');
    long value = 0;
    if (colon == std::string::npos || colon == 0 || text.size() - colon - 1 > 5 ||
        !ParseWholeNumber(text.substr(colon + 1), value) || value < 1 || value > 65535) {
        return false;
    }
    host = text.substr(0, colon);
    port = static_cast<std::uint16_t>(value);
    return true;
}

int Fail(const char* program, const std::string& message) {
    std::fprintf(stderr, "%s: %s\n", program, message.c_str());
    return kBadCommandLine;
}

std::string LocalDriverAddress() {
    return "127.0.0.1:" + std::to_string(kIntakePort);
}

bool ParseDestination(const char* program, const std::string& to, std::string& host,
                      std::uint16_t& port) {
    std::string error;
    if (ParseDestination("--to", to, host, port, error)) {
        return true;
    }
    Fail(program, error);
    return false;
}

bool ParseDestination(const std::string& where, const std::string& to, std::string& host,
                      std::uint16_t& port, std::string& error) {
    if (ParseHostPort(to, host, port)) {
        return true;
    }
    error = where + ": expected HOST:PORT with a port in 1..65535, got '" + to + "'";
    return false;
}

}  // namespace lxd::host

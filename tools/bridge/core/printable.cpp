#include "tools/bridge/core/printable.h"

#include <cstring>

namespace lxd::bridge {
namespace {

bool Unsafe(std::uint32_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || (c >= 0x202A && c <= 0x202E) ||
           (c >= 0x2066 && c <= 0x2069);
}

}  // namespace

std::size_t Utf8Sequence(const std::uint8_t* p, std::size_t left) {
    const std::uint8_t b = p[0];
    std::size_t n;
    std::uint8_t low = 0x80;
    std::uint8_t high = 0xBF;
    if (b < 0x80) {
        return 1;
    } else if (b >= 0xC2 && b <= 0xDF) {
        n = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
        n = 3;
        low = b == 0xE0 ? 0xA0 : 0x80;
        high = b == 0xED ? 0x9F : 0xBF;
    } else if (b >= 0xF0 && b <= 0xF4) {
        n = 4;
        low = b == 0xF0 ? 0x90 : 0x80;
        high = b == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (n > left || p[1] < low || p[1] > high) {
        return 0;
    }
    for (std::size_t i = 2; i < n; ++i) {
        if (p[i] < 0x80 || p[i] > 0xBF) {
            return 0;
        }
    }
    return n;
}

std::uint32_t CodePoint(const std::uint8_t* p, std::size_t n) {
    if (n == 1) {
        return p[0];
    }
    std::uint32_t c = p[0] & (0x7F >> n);
    for (std::size_t i = 1; i < n; ++i) {
        c = c << 6 | (p[i] & 0x3F);
    }
    return c;
}

void CopyPrintable(const std::uint8_t* text, std::size_t length, char* out, std::size_t size) {
    std::size_t used = 0;
    for (std::size_t at = 0; at < length && text[at] != 0;) {
        const std::size_t n = Utf8Sequence(text + at, length - at);
        const bool bad = n == 0 || Unsafe(CodePoint(text + at, n));
        const std::size_t put = bad ? 1 : n;
        if (used + put >= size) {
            break;
        }
        if (bad) {
            out[used] = '?';
        } else {
            std::memcpy(out + used, text + at, n);
        }
        used += put;
        at += n == 0 ? 1 : n;
    }
    out[used] = 0;
}

}  // namespace lxd::bridge

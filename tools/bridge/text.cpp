#include "tools/bridge/text.h"

#include <cstring>

namespace lxd::bridge {
namespace {

// Length of the valid UTF-8 sequence at p (at most `left` bytes), 0 if none.
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

bool Unsafe(std::uint32_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || (c >= 0x202A && c <= 0x202E) ||
           (c >= 0x2066 && c <= 0x2069);
}

int Columns(std::uint32_t c) {
    if ((c >= 0x0300 && c <= 0x036F) || (c >= 0x200B && c <= 0x200F) ||
        (c >= 0xFE00 && c <= 0xFE0F)) {
        return 0;
    }
    const bool wide = (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF) ||
                      (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
                      (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
                      (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x1F300 && c <= 0x1F64F) ||
                      (c >= 0x1F900 && c <= 0x1F9FF) || (c >= 0x20000 && c <= 0x3FFFD);
    return wide ? 2 : 1;
}

// Walks `text` character by character; a byte that starts no valid sequence
// counts as one character of one column.
template <typename Visit>
void EachCharacter(const std::string& text, Visit visit) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(text.data());
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t n = Utf8Sequence(p + at, text.size() - at);
        const std::size_t take = n == 0 ? 1 : n;
        if (!visit(at, take, n == 0 ? 1 : Columns(CodePoint(p + at, n)))) {
            return;
        }
        at += take;
    }
}

}  // namespace

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

int DisplayWidth(const std::string& text) {
    int width = 0;
    EachCharacter(text, [&](std::size_t, std::size_t, int columns) {
        width += columns;
        return true;
    });
    return width;
}

std::string CutToWidth(const std::string& text, int columns) {
    std::size_t end = 0;
    int width = 0;
    EachCharacter(text, [&](std::size_t at, std::size_t n, int w) {
        if (width + w > columns) {
            return false;
        }
        width += w;
        end = at + n;
        return true;
    });
    return text.substr(0, end);
}

}  // namespace lxd::bridge

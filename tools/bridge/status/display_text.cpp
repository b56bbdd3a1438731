#include "tools/bridge/status/display_text.h"

#include "tools/bridge/core/printable.h"

namespace lxd::bridge {
namespace {

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

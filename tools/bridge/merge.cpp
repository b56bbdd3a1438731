#include "tools/bridge/merge.h"

#include <cstring>

namespace lxd::bridge {

void MergeLevels(const MergeInput* inputs, int count, std::uint8_t* out) {
    if (count == 1 && inputs[0].priorities == nullptr) {
        std::memcpy(out, inputs[0].levels, kChannels);
        return;
    }
    for (int c = 0; c < kChannels; ++c) {
        int best = -1;
        std::uint8_t level = 0;
        for (int i = 0; i < count; ++i) {
            const MergeInput& in = inputs[i];
            const int priority = in.priorities != nullptr ? in.priorities[c] : in.priority;
            if (in.priorities != nullptr && priority == 0) {
                continue;
            }
            if (priority > best) {
                best = priority;
                level = in.levels[c];
            } else if (priority == best && in.levels[c] > level) {
                level = in.levels[c];
            }
        }
        out[c] = level;
    }
}

void MergedOutput::Update(const MergeInput* inputs, int count) {
    std::uint8_t next[kChannels];
    if (count == 0) {
        if (hold_) {
            return;
        }
        std::memset(next, 0, sizeof next);
    } else {
        MergeLevels(inputs, count, next);
    }
    if (std::memcmp(next, levels_, sizeof next) != 0) {
        std::memcpy(levels_, next, sizeof next);
        changed_ = true;
    }
}

bool MergedOutput::TakeChange() {
    const bool changed = changed_;
    changed_ = false;
    return changed;
}

namespace {

// Length of the valid UTF-8 sequence at p (at most `left` bytes), 0 if none.
std::size_t Utf8Sequence(const std::uint8_t* p, std::size_t left) {
    const std::uint8_t b = p[0];
    std::size_t n;
    std::uint8_t low = 0x80;
    std::uint8_t high = 0xBF;
    if (b >= 0x20 && b < 0x7F) {
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

}  // namespace

void CopyPrintable(const std::uint8_t* text, std::size_t length, char* out, std::size_t size) {
    std::size_t used = 0;
    for (std::size_t at = 0; at < length && text[at] != 0;) {
        const std::size_t n = Utf8Sequence(text + at, length - at);
        const std::size_t take = n == 0 ? 1 : n;
        if (used + take >= size) {
            break;
        }
        if (n == 0) {
            out[used] = '?';
        } else {
            std::memcpy(out + used, text + at, n);
        }
        used += take;
        at += take;
    }
    out[used] = 0;
}

}  // namespace lxd::bridge

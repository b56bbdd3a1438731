#include "tools/bridge/core/merge.h"

#include <algorithm>
#include <cstring>

namespace lxd::bridge {

bool MergeLevels(const MergeInput* inputs, int count, std::uint8_t* out, bool* driven) {
    if (count == 1 && inputs[0].priorities == nullptr) {
        std::memcpy(out, inputs[0].levels, kChannelsPerPort);
        return true;
    }
    bool all = true;
    for (int c = 0; c < kChannelsPerPort; ++c) {
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
        all = all && best >= 0;
        if (driven != nullptr) {
            driven[c] = best >= 0;
        }
    }
    return all;
}

void MergedOutput::Update(const MergeInput* inputs, int count, bool afterLoss) {
    std::uint8_t next[kChannelsPerPort];
    bool driven[kChannelsPerPort];
    if (MergeLevels(inputs, count, next, driven)) {
        // Every channel driven (the common case): nothing held.
        if (!allDriven_) {
            std::fill(std::begin(driven_), std::end(driven_), true);
            std::fill(std::begin(held_), std::end(held_), false);
            allDriven_ = true;
        }
    } else {
        for (int c = 0; c < kChannelsPerPort; ++c) {
            if (driven[c]) {
                held_[c] = false;
            } else if (hold_ && (held_[c] || (afterLoss && driven_[c]))) {
                held_[c] = true;  // its last source is gone: it keeps its level
                next[c] = levels_[c];
            }
            driven_[c] = driven[c];
        }
        allDriven_ = false;
    }
    started_ = started_ || count > 0;
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

}  // namespace lxd::bridge

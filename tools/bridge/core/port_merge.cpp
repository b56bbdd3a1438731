#include "tools/bridge/core/port_merge.h"

#include <algorithm>
#include <cstring>

namespace lxd::bridge {

void TakeLevels(const std::uint8_t* data, int count, std::uint8_t* levels, std::uint32_t* changes,
                std::uint32_t* clock) {
    if (clock == nullptr) {
        std::memcpy(levels, data, static_cast<std::size_t>(count));
        std::memset(levels + count, 0, static_cast<std::size_t>(kChannelsPerPort - count));
        return;
    }
    for (int c = 0; c < kChannelsPerPort; ++c) {
        const std::uint8_t level = c < count ? data[c] : 0;
        if (level != levels[c]) {
            levels[c] = level;
            changes[c] = ++*clock;
        }
    }
}

void PortMerge::Configure(const PortRoute* routes, int count, Merge merge, bool hold) {
    count_ = std::min(count, kMaxRoutesPerPort);
    std::copy(routes, routes + count_, routes_);
    merge_ = merge;
    hold_ = hold;
    std::fill(std::begin(winners_), std::end(winners_), -1);
}

void PortMerge::Update(int first, int count, bool afterLoss) {
    const int end = std::min(first + count, kChannelsPerPort);
    if (first < 0 || first >= end) {
        return;
    }
    // Per channel the best so far: priority (-1: none), level, change stamp.
    std::int16_t best[kChannelsPerPort];
    std::uint8_t level[kChannelsPerPort];
    std::uint32_t stamp[kChannelsPerPort];
    std::int8_t winner[kChannelsPerPort];
    std::fill(best + first, best + end, std::int16_t{-1});
    std::fill(winner + first, winner + end, std::int8_t{-1});
    const bool ltp = merge_ == Merge::kLtp;
    for (int r = 0; r < count_; ++r) {
        const PortRoute& route = routes_[r];
        const int lo = std::max<int>(first, route.to);
        const int hi = std::min<int>(end, route.to + route.count);
        const int shift = route.from - route.to;  // input channel = port channel + shift
        for (int s = 0; s < (route.input != nullptr ? route.input->count : 0); ++s) {
            const SourceLevels& src = route.input->sources[s];
            const bool given = route.priority != kPriorityNotGiven;
            for (int c = lo; c < hi; ++c) {
                const int in = c + shift;
                std::int16_t priority = given ? route.priority : src.priority;
                if (!given && src.priorities != nullptr) {
                    priority = src.priorities[in];
                    if (priority == 0) {
                        continue;  // this source does not drive the channel
                    }
                }
                const std::uint8_t l = src.levels[in];
                const std::uint32_t t = ltp && src.changes != nullptr ? src.changes[in] : 0;
                if (priority > best[c] ||
                    (priority == best[c] && (ltp ? t > stamp[c] : l > level[c]))) {
                    best[c] = priority;
                    level[c] = l;
                    stamp[c] = t;
                    winner[c] = static_cast<std::int8_t>(r);
                }
            }
        }
    }
    bool changed = false;
    for (int c = first; c < end; ++c) {
        std::uint8_t next = 0;
        if (best[c] >= 0) {
            next = level[c];
            held_[c] = false;
        } else if (hold_ && (held_[c] || (afterLoss && winners_[c] >= 0))) {
            next = levels_[c];  // its last input is gone: it keeps its level
            held_[c] = true;
        }
        started_ = started_ || best[c] >= 0;
        winners_[c] = winner[c];
        changed = changed || next != levels_[c];
        levels_[c] = next;
    }
    changed_ = changed_ || changed;
}

void PortMerge::Reset() {
    std::fill(std::begin(levels_), std::end(levels_), std::uint8_t{0});
    std::fill(std::begin(held_), std::end(held_), false);
    std::fill(std::begin(winners_), std::end(winners_), std::int8_t{-1});
    started_ = false;
}

bool PortMerge::TakeChange() {
    const bool changed = changed_;
    changed_ = false;
    return changed;
}

}  // namespace lxd::bridge

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
    allWon_ = false;
    std::fill(std::begin(winners_), std::end(winners_), -1);
}

namespace {

// Highest-takes-precedence as one number per channel: (priority + 1) << 8 |
// level, 0 where a source does not drive the channel, so that the best of
// several is their maximum (which the compiler vectorises).
using Key = std::uint16_t;

template <bool kPerChannel>
void CompeteHtp(const SourceLevels& src, int priority, int lo, int hi, int shift, Key route,
                Key* best, Key* winner) {
    const Key constant = static_cast<Key>((priority + 1) << 8);
    for (int c = lo; c < hi; ++c) {
        const int in = c + shift;
        Key key = static_cast<Key>(constant | src.levels[in]);
        if constexpr (kPerChannel) {
            const Key p = src.priorities[in];
            key = p == 0 ? Key{0} : static_cast<Key>((p + 1) << 8 | src.levels[in]);
        }
        const bool take = key > best[c];
        best[c] = take ? key : best[c];
        winner[c] = take ? route : winner[c];
    }
}

// Latest-takes-precedence: among the highest priority, the latest change.
void CompeteLtp(const SourceLevels& src, int given, int lo, int hi, int shift, Key route, Key* best,
                std::uint32_t* stamp, Key* winner) {
    const bool perChannel = given == kPriorityNotGiven && src.priorities != nullptr;
    const int constant = given != kPriorityNotGiven ? given : src.priority;
    for (int c = lo; c < hi; ++c) {
        const int in = c + shift;
        const int p = perChannel ? src.priorities[in] : constant;
        const std::uint32_t t = src.changes != nullptr ? src.changes[in] : 0;
        const bool take = !(perChannel && p == 0) &&
                          (p + 1 > (best[c] >> 8) || (p + 1 == (best[c] >> 8) && t > stamp[c]));
        best[c] = take ? static_cast<Key>((p + 1) << 8 | src.levels[in]) : best[c];
        stamp[c] = take ? t : stamp[c];
        winner[c] = take ? route : winner[c];
    }
}

}  // namespace

void PortMerge::Update(int first, int count, bool afterLoss) {
    const int end = std::min(first + count, kChannelsPerPort);
    if (first < 0 || first >= end) {
        return;
    }
    const int n = end - first;
    std::uint8_t next[kChannelsPerPort];
    // One route with one source that drives every channel (the common case):
    // its levels as they are.
    const PortRoute& only = routes_[0];
    if (count_ == 1 && only.input != nullptr && only.input->count == 1 && only.to <= first &&
        only.to + only.count >= end &&
        (only.input->sources[0].priorities == nullptr || only.priority != kPriorityNotGiven)) {
        if (!allWon_ || first != 0 || n != kChannelsPerPort) {
            std::fill(winners_ + first, winners_ + end, std::int8_t{0});
            std::fill(held_ + first, held_ + end, std::uint8_t{0});
            allWon_ = first == 0 && n == kChannelsPerPort;
        }
        started_ = true;
        const std::uint8_t* from = only.input->sources[0].levels + (first + only.from - only.to);
        if (std::memcmp(levels_ + first, from, static_cast<std::size_t>(n)) != 0) {
            std::memcpy(levels_ + first, from, static_cast<std::size_t>(n));
            changed_ = true;
        }
        return;
    }
    allWon_ = false;
    Key best[kChannelsPerPort];
    Key winner[kChannelsPerPort];
    std::uint32_t stamp[kChannelsPerPort];
    std::fill(best + first, best + end, Key{0});
    std::fill(winner + first, winner + end, Key{0xFF});
    const bool ltp = merge_ == Merge::kLtp;
    if (ltp) {
        std::fill(stamp + first, stamp + end, std::uint32_t{0});
    }
    for (int r = 0; r < count_; ++r) {
        const PortRoute& route = routes_[r];
        const int lo = std::max<int>(first, route.to);
        const int hi = std::min<int>(end, route.to + route.count);
        const int shift = route.from - route.to;  // input channel = port channel + shift
        for (int s = 0; lo < hi && s < (route.input != nullptr ? route.input->count : 0); ++s) {
            const SourceLevels& src = route.input->sources[s];
            const bool given = route.priority != kPriorityNotGiven;
            const Key index = static_cast<Key>(r);
            if (ltp) {
                CompeteLtp(src, route.priority, lo, hi, shift, index, best, stamp, winner);
            } else if (!given && src.priorities != nullptr) {
                CompeteHtp<true>(src, 0, lo, hi, shift, index, best, winner);
            } else {
                CompeteHtp<false>(src, given ? route.priority : src.priority, lo, hi, shift, index,
                                  best, winner);
            }
        }
    }
    // A channel whose last input is gone keeps its level when held. (Bit
    // operations, not branches: the loop vectorises.)
    const std::uint8_t hold = hold_ ? 1 : 0;
    const std::uint8_t loss = afterLoss ? 1 : 0;
    std::uint8_t anyDriven = 0;
    for (int c = first; c < end; ++c) {
        const auto driven = static_cast<std::uint8_t>(best[c] != 0);
        const auto all = static_cast<std::uint8_t>(-driven);  // 0xFF where driven
        const auto won =
            static_cast<std::uint8_t>((static_cast<std::uint8_t>(winners_[c]) >> 7) ^ 1);
        const auto keep =
            static_cast<std::uint8_t>((driven ^ 1) & hold & (held_[c] | (loss & won)));
        next[c] = static_cast<std::uint8_t>((best[c] & all) | (levels_[c] & -keep));
        held_[c] = keep;
        winners_[c] = static_cast<std::int8_t>((winner[c] & all) | static_cast<std::uint8_t>(~all));
        anyDriven |= driven;
    }
    started_ = started_ || anyDriven != 0;
    if (std::memcmp(levels_ + first, next + first, static_cast<std::size_t>(n)) != 0) {
        std::memcpy(levels_ + first, next + first, static_cast<std::size_t>(n));
        changed_ = true;
    }
}

void PortMerge::Reset() {
    allWon_ = false;
    std::fill(std::begin(levels_), std::end(levels_), std::uint8_t{0});
    std::fill(std::begin(held_), std::end(held_), std::uint8_t{0});
    std::fill(std::begin(winners_), std::end(winners_), std::int8_t{-1});
    started_ = false;
}

bool PortMerge::TakeChange() {
    const bool changed = changed_;
    changed_ = false;
    return changed;
}

}  // namespace lxd::bridge

// The universes (or Art-Net port-addresses) seen on the network but not
// mapped: a fixed table of the most recently seen, for the status page, where
// a console one universe off shows at once.
#pragma once

#include <cstdint>

#include "tools/bridge/core/io.h"

namespace lxd::bridge {

class UnmappedSeen {
  public:
    static constexpr int kEntries = 16;
    struct Entry {
        std::uint16_t universe = 0;
        std::uint64_t packets = 0;
        Millis last{0};
    };

    // One packet of `universe`; when the table is full, the entry seen
    // longest ago makes room.
    void Note(std::uint16_t universe, Millis now) {
        int oldest = 0;
        for (int i = 0; i < count_; ++i) {
            if (entries_[i].universe == universe) {
                ++entries_[i].packets;
                entries_[i].last = now;
                return;
            }
            if (entries_[i].last < entries_[oldest].last) {
                oldest = i;
            }
        }
        const int at = count_ < kEntries ? count_++ : oldest;
        entries_[at] = {universe, 1, now};
    }
    int Count() const { return count_; }
    const Entry& At(int i) const { return entries_[i]; }

  private:
    Entry entries_[kEntries];
    int count_ = 0;
};

}  // namespace lxd::bridge

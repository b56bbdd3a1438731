// How often ArtPoll is answered: a few reply sets a second to each poller
// and a bound for all pollers together, so that a flood of polls (or of
// forged poller addresses) neither multiplies into replies nor takes the
// event loop's time from the levels. Fixed size: nothing is allocated per
// poll.
#pragma once

#include <cstdint>

#include "tools/bridge/core/io.h"

namespace lxd::bridge {

inline constexpr int kPollRepliesPerPoller = 3;   // reply sets a second to one poller
inline constexpr int kPollRepliesPerSecond = 20;  // reply sets a second to all pollers together
inline constexpr int kPollersKept = 32;           // the one heard longest ago makes room

class PollLimit {
  public:
    // Whether a poll from `poller` at `now` is answered; counts it when it is.
    bool Allow(std::uint32_t poller, Millis now) {
        if (!started_ || now - allSince_ >= kWindow) {
            allSince_ = now;
            all_ = 0;
            started_ = true;
        }
        Poller* p = Find(poller, now);
        if (now - p->since >= kWindow) {
            p->since = now;
            p->count = 0;
        }
        p->last = now;
        if (all_ >= kPollRepliesPerSecond || p->count >= kPollRepliesPerPoller) {
            return false;
        }
        ++p->count;
        ++all_;
        return true;
    }

  private:
    static constexpr Millis kWindow{1000};
    struct Poller {
        std::uint32_t address;
        bool used;
        int count;
        Millis since;  // its window's start
        Millis last;
    };
    // The poller's entry, or a fresh one in place of the one heard longest ago.
    Poller* Find(std::uint32_t address, Millis now) {
        Poller* room = &pollers_[0];
        for (Poller& p : pollers_) {
            if (p.used && p.address == address) {
                return &p;
            }
            if (room->used && (!p.used || p.last < room->last)) {
                room = &p;
            }
        }
        *room = {address, true, 0, now, now};
        return room;
    }

    Poller pollers_[kPollersKept] = {};
    Millis allSince_{0};
    int all_ = 0;
    bool started_ = false;
};

}  // namespace lxd::bridge

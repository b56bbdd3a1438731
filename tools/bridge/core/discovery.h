// The sACN sources that announce their universes (universe discovery): a
// fixed table of the most recent, each with the list its pages give.
#pragma once

#include <cstdint>

#include "tools/bridge/core/io.h"
#include "tools/bridge/core/sacn.h"

namespace lxd::bridge {

// Sources announce every 10 s; one silent for this long is dropped.
inline constexpr Millis kDiscoveryTimeout{30000};

class DiscoveredSources {
  public:
    static constexpr int kSources = 32;
    static constexpr int kUniverses = 1024;  // kept per source; more are cut off

    struct Source {
        bool used = false;
        std::uint8_t cid[16] = {};
        char name[65] = {};  // printable form
        std::uint32_t address = 0;
        Millis last{0};  // last page taken
        std::uint16_t universes[kUniverses] = {};
        int count = 0;
        bool cut = false;  // it announces more than kUniverses
        int nextPage = 0;  // the page that continues the list, or 0
    };

    // One page from IPv4 address `from`. Page 0 starts the list afresh and
    // each later page continues it; a page out of turn is ignored (false).
    // When the table is full, the source heard from longest ago makes room.
    bool Note(const SacnDiscovery& page, std::uint32_t from, Millis now);
    // Drops sources silent for kDiscoveryTimeout.
    void Expire(Millis now);
    const Source& Slot(int i) const { return sources_[i]; }

  private:
    Source sources_[kSources];
};

}  // namespace lxd::bridge

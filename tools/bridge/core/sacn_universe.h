// The sources of one sACN universe as a careful receiver follows them:
// sequence order, stream termination, timeouts, per-address priority, the
// sampling period, waiting for a new source's priorities and settled loss.
// The ports it feeds merge the sources it lists as driving (Levels()).
#pragma once

#include <cstdint>

#include "tools/bridge/core/counts.h"
#include "tools/bridge/core/io.h"
#include "tools/bridge/core/port_merge.h"
#include "tools/bridge/core/sacn.h"
#include "tools/bridge/core/sync.h"

namespace lxd::bridge {

inline constexpr int kSacnMaxSources = kMaxSourcesPerInput;  // more are turned away
inline constexpr Millis kSacnSourceTimeout{2500};
// Sources are collected this long when a universe starts receiving, before
// anything is merged.
inline constexpr Millis kSacnSamplePeriod{1500};
// A new source's levels wait this long for its first per-address priorities.
inline constexpr Millis kSacnPriorityWait{1500};
// A source that ended its stream stays gone this long, whatever it sends.
inline constexpr Millis kSacnEndedHold{2500};

// What became of one data packet.
enum class SacnVerdict : std::uint8_t {
    kLevels,          // start code 0x00: levels taken
    kPriorities,      // start code 0xDD: per-address priorities taken
    kTerminated,      // the source ended its stream and is gone
    kEnded,           // from a source not known, or that ended less than 2.5 s ago
    kOtherStartCode,  // neither levels nor priorities: not used
    kPreview,         // dropped: preview data
    kOutOfOrder,      // dropped: 1..19 sequence numbers behind (or repeated)
    kSourceLimit,     // dropped: a new source while kSacnMaxSources are known
    kDuplicate,       // the packet just taken, arrived again on another interface
    kHeld,            // start code 0x00: levels kept aside until a synchronisation
};
inline constexpr int kSacnVerdicts = 10;

struct SacnSource {
    bool used = false;
    SourceState state = SourceState::kWaiting;
    std::uint8_t cid[16] = {};
    char name[65] = {};  // printable form of the source name
    Arrival from;        // of the last packet taken
    std::uint8_t priority = 0;
    std::uint8_t sequence = 0;
    bool hasLevels = false;
    bool hasPriorities = false;
    Millis lastLevels{0};
    Millis lastPriorities{0};
    Millis lastHeard{0};  // any packet taken
    Millis waitUntil{0};  // kWaiting: merged from then on
    Millis lostAt{0};     // kLost
    std::uint64_t packets = 0;
    std::uint64_t sequenceErrors = 0;
    std::uint32_t generation = 0;   // changes when the slot takes a new source
    std::uint16_t syncAddress = 0;  // named by its last levels packet
    bool hasHeld = false;           // levels waiting for a synchronisation
    std::uint16_t heldFor = 0;      // the synchronisation universe they wait for; 0: any
    std::uint8_t heldPriority = 0;
    std::uint8_t levels[kChannelsPerPort] = {};
    std::uint8_t priorities[kChannelsPerPort] = {};  // 0..200
    std::uint32_t changes[kChannelsPerPort] = {};    // when each level last changed
    std::uint8_t held[kChannelsPerPort] = {};
};

class SacnUniverse {
  public:
    SacnUniverse() = default;
    // The ports' merge reads the sources in place: a universe stays where it is.
    SacnUniverse(const SacnUniverse&) = delete;
    SacnUniverse& operator=(const SacnUniverse&) = delete;

    // The universe starts receiving at `now` (start-up, or its group joined on
    // another interface): sources new in the next 1.5 s are merged together
    // when it ends. Before the first Listen every source is merged at once.
    void Listen(Millis now);
    // Applies one parsed data packet of this universe received at `now`.
    // Levels with a `hold` are kept aside (kHeld) until ReleaseHeld; newer
    // levels replace them, and levels without a hold make them void.
    SacnVerdict Apply(const SacnPacket& packet, Millis now, Arrival from = {},
                      Hold hold = Hold::kNo);
    // Merges the held levels of the sources with `cid` that wait for
    // `address` (none when `cid` is null) and, with `any`, of every source
    // that waits for any synchronisation. True when levels were released.
    bool ReleaseHeld(const std::uint8_t* cid, std::uint16_t address, bool any);
    // Times sources out (2.5 s without levels), forgets per-address priorities
    // not repeated for 2.5 s, merges sources whose wait is over and settles
    // losses. Returns the number of sources lost.
    int Expire(Millis now);

    // The sources that drive the ports this universe feeds: merged and
    // not lost, or lost while the loss settles.
    const InputLevels& Levels() const { return levels_; }
    // True once after those sources or their levels changed; `afterLoss`
    // is set when sources left.
    bool TakeChange(bool& afterLoss) { return change_.Take(afterLoss); }
    // From now on each source stamps every level that changes with the next
    // value of `clock` (for ports that merge latest-takes-precedence).
    void StampChanges(std::uint32_t* clock) { clock_ = clock; }
    // Merged sources not lost: those that drive.
    int LiveSources() const;
    // The highest universe priority among the merged sources, -1 without any.
    int TopPriority() const;
    bool AnyPerAddressPriority() const;
    bool Sampling() const { return sampling_; }
    std::uint32_t SourcesSeen() const { return seen_; }
    const SacnSource& Slot(int i) const { return sources_[i]; }

  private:
    SacnSource* Find(const std::uint8_t* cid);
    SacnSource* Add(const SacnPacket& packet, Millis now);
    bool Ended(const std::uint8_t* cid, Millis now) const;
    void RememberEnded(const std::uint8_t* cid, Millis now);
    void Lose(SacnSource& source, Millis now);
    // Merges waiting sources whose time has come; true when one was.
    bool Release(Millis now);
    // Drops the lost sources once every other merged source was heard after
    // the last loss (or is lost too); true when it did.
    bool Settle();
    void Remerge(bool afterLoss = false);

    struct Ending {
        std::uint8_t cid[16];
        Millis at;
        bool used;
    };

    SacnSource sources_[kSacnMaxSources];
    Ending ended_[kSacnMaxSources] = {};
    InputLevels levels_;
    InputChange change_;
    std::uint32_t* clock_ = nullptr;
    std::uint32_t seen_ = 0;
    bool listening_ = false;
    bool sampling_ = false;
    Millis sampleEnd_{0};
};

}  // namespace lxd::bridge

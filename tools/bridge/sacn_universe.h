// The sources of one sACN universe as a receiver follows them: sequence
// order, stream termination, timeouts, per-address priority, and their merge.
#pragma once

#include <cstdint>

#include "tools/bridge/merge.h"
#include "tools/bridge/sacn.h"

namespace lxd::bridge {

inline constexpr int kSacnMaxSources = 8;  // per universe; more are turned away
inline constexpr Millis kSacnSourceTimeout{2500};

// What became of one data packet.
enum class SacnVerdict : std::uint8_t {
    kLevels,          // start code 0x00: levels taken
    kPriorities,      // start code 0xDD: per-address priorities taken
    kTerminated,      // the source ended its stream and is gone
    kEnded,           // a stream end from a source not (or no longer) known
    kOtherStartCode,  // neither levels nor priorities: not used
    kPreview,         // dropped: preview data
    kOutOfOrder,      // dropped: 1..19 sequence numbers behind (or repeated)
    kSourceLimit,     // dropped: a new source while kSacnMaxSources are live
};
inline constexpr int kSacnVerdicts = 8;

struct SacnSource {
    bool used = false;
    std::uint8_t cid[16] = {};
    char name[65] = {};  // printable form of the source name
    std::uint8_t priority = 0;
    std::uint8_t sequence = 0;
    bool hasLevels = false;
    bool hasPriorities = false;
    Millis lastLevels{0};
    Millis lastPriorities{0};
    std::uint8_t levels[kChannels] = {};
    std::uint8_t priorities[kChannels] = {};
};

class SacnUniverse {
  public:
    explicit SacnUniverse(bool holdOnLoss = true) : output_(holdOnLoss) {}

    // Applies one parsed data packet of this universe received at `now`.
    SacnVerdict Apply(const SacnPacket& packet, Millis now);
    // Forgets sources without levels for 2.5 s, and per-address priorities
    // not repeated for 2.5 s. Returns the number of sources lost.
    int Expire(Millis now);

    MergedOutput& Output() { return output_; }
    const MergedOutput& Output() const { return output_; }
    // Sources that have sent levels and not been lost: those that drive.
    int LiveSources() const;
    // The highest universe priority among them, -1 without any.
    int TopPriority() const;
    bool AnyPerAddressPriority() const;
    std::uint32_t SourcesSeen() const { return seen_; }
    const SacnSource& Slot(int i) const { return sources_[i]; }

  private:
    SacnSource* Find(const std::uint8_t* cid);
    SacnSource* Add(const SacnPacket& packet);
    void Remerge();

    SacnSource sources_[kSacnMaxSources];
    MergedOutput output_;
    std::uint32_t seen_ = 0;
};

}  // namespace lxd::bridge

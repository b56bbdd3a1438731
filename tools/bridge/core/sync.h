// Universe synchronisation: which data waits for a synchronisation packet,
// and the fixed tables that follow the synchronisation streams of sACN
// sources (CID and synchronisation universe) and the Art-Net sources that
// send ArtSync.
#pragma once

#include <cstdint>

#include "tools/bridge/core/io.h"

namespace lxd::bridge {

enum class SyncMode : std::uint8_t {
    kAuto,  // sACN synchronisation and ArtSync, each for the data of its own source
    kAll,   // besides, while any synchronisation arrives, every other input waits for it too
    kOff,   // everything is applied as it comes
};
const char* SyncModeName(SyncMode mode);

// A stream whose synchronisation packets stop for this long is applied as it
// comes again, or keeps its look (see SyncState).
inline constexpr Millis kSacnSyncTimeout{2500};
// An Art-Net source without ArtSync for this long is applied as it comes again.
inline constexpr Millis kArtSyncTimeout{4000};
// A stream neither named by data nor synchronised for this long is forgotten.
inline constexpr Millis kSyncStreamForget{10000};

// What a packet of levels waits for before it is merged.
enum class Hold : std::uint8_t {
    kNo,       // nothing: merged at once
    kForSync,  // its own source's synchronisation (sACN) or ArtSync
    kForAny,   // sync = "all": the next synchronisation of any source
};

enum class SyncState : std::uint8_t {
    kFree,    // no synchronisation packet yet, or they stopped: data is applied as it comes
    kSynced,  // synchronisation packets arrive: data waits for the next one
    kLocked,  // they stopped, and the data asks to keep the synchronised look until they return
};
const char* SyncStateName(SyncState state);

struct SyncStream {
    bool used = false;
    std::uint8_t cid[16] = {};
    std::uint16_t address = 0;  // the synchronisation universe the data names
    SyncState state = SyncState::kFree;
    bool lockOnLoss = false;  // the data's Force_Synchronization option is clear
    bool sequenced = false;   // `sequence` and `via` hold the last packet taken
    std::uint8_t sequence = 0;
    std::uint32_t via = 0;
    Millis lastSync{0};
    Millis lastData{0};
    std::uint64_t syncs = 0;      // synchronisation packets taken
    std::uint64_t fallbacks = 0;  // times they stopped while synchronised
    std::uint64_t sequenceErrors = 0;
};

enum class SyncVerdict : std::uint8_t {
    kRelease,     // taken: the data that waits for it goes now
    kOutOfOrder,  // 1..19 sequence numbers behind (or repeated)
    kDuplicate,   // the packet just taken, arrived again on another interface
    kUnknown,     // no data we receive names it
};

class SacnSyncStreams {
  public:
    static constexpr int kStreams = 32;

    // Whether data of `cid` that names `address` waits for its synchronisation.
    bool Holds(const std::uint8_t* cid, std::uint16_t address) const;
    // Data of `cid` naming `address` was taken at `now`; when the table is
    // full, the stream heard from longest ago makes room.
    void NoteData(const std::uint8_t* cid, std::uint16_t address, bool lockOnLoss, Millis now);
    SyncVerdict OnSync(const std::uint8_t* cid, std::uint16_t address, std::uint8_t sequence,
                       std::uint32_t via, Millis now);
    // Streams whose synchronisation stopped kSacnSyncTimeout ago fall back
    // (kFree) or lock (kLocked); the index of each goes into `lost` (room for
    // kStreams). Streams silent for kSyncStreamForget are forgotten.
    int Expire(Millis now, int* lost);

    const SyncStream& At(int i) const { return streams_[i]; }
    const SyncStream* Find(const std::uint8_t* cid, std::uint16_t address) const;
    // The synchronisation universes the streams name (each once), and a count
    // that changes whenever a stream comes or goes.
    int Addresses(std::uint16_t* out, int room) const;
    std::uint32_t Version() const { return version_; }

  private:
    SyncStream* Lookup(const std::uint8_t* cid, std::uint16_t address);

    SyncStream streams_[kStreams];
    std::uint32_t version_ = 0;
};

// The Art-Net sources in synchronous mode: ArtSync within kArtSyncTimeout.
class ArtSyncSources {
  public:
    static constexpr int kSources = 8;

    bool Synced(std::uint32_t address) const;
    // An ArtSync taken from `address`; the oldest makes room when all are in use.
    void OnSync(std::uint32_t address, Millis now);
    // Sources without ArtSync for kArtSyncTimeout leave synchronous mode:
    // their addresses go into `lost` (room for kSources).
    int Expire(Millis now, std::uint32_t* lost);

  private:
    struct Source {
        bool used = false;
        std::uint32_t address = 0;
        Millis last{0};
    };
    Source sources_[kSources];
};

}  // namespace lxd::bridge

// What both bridge targets share: one Bridge kept across inputs (so that
// sources, sequence numbers and timeouts carry over), mapping sACN universes
// 1-4 and Art-Net port-addresses 0-3, whose block packets are applied to a
// store as the driver applies them; the datagrams reach it in batches through
// the sockets' own Delivery. After every input the store must hold exactly
// the bridge's merged levels of every port it has sent.
#pragma once

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/fuzz_inputs.h"
#include "intake/datagram.h"
#include "protocol/layout.h"
#include "tools/bridge/core/bridge.h"
#include "tools/bridge/net/delivery.h"

namespace lxd::fuzz {

inline void BridgeFail(const char* target, const char* what) {
    std::fprintf(stderr, "%s: %s\n", target, what);
    std::abort();
}

struct StoreSink : bridge::DatagramSink {
    std::unique_ptr<std::uint8_t[]> store{new std::uint8_t[kStoreSize]()};
    bool Send(const std::uint8_t* data, std::size_t size) override {
        if (size > static_cast<std::size_t>(kLargestDatagram)) {
            BridgeFail("bridge", "a block packet longer than the driver takes");
        }
        ApplyDatagram(data, static_cast<std::uint32_t>(size), store.get(),
                      {nullptr, nullptr, nullptr});
        return true;
    }
};

struct ReplyCheck : bridge::ReplySink {
    std::uint32_t OwnAddressFor(std::uint32_t) override { return 0x7F000001; }
    void Reply(std::uint32_t, const std::uint8_t* data, std::size_t size) override {
        if (size != bridge::kArtPollReplySize || std::memcmp(data, "Art-Net", 8) != 0) {
            BridgeFail("bridge", "a malformed ArtPollReply");
        }
    }
};

class BridgeRig {
  public:
    BridgeRig() {
        std::string error;
        mapping_.Add(bridge::Protocol::kSacn, "1-4", error);
        mapping_.Add(bridge::Protocol::kArtnet, "0-3@4", error);
        bridge_ = std::make_unique<bridge::Bridge>(mapping_, false, sink_);
        delivery_.Accept(true, {1, 2});
    }
    bridge::Bridge& Bridge() { return *bridge_; }
    // Taking datagrams from interfaces 1 and 2 (and those not told).
    bridge::Delivery& Delivery() { return delivery_; }
    ReplyCheck& Replies() { return replies_; }
    bridge::Millis Advance(std::uint32_t steps, int stepMs) {
        now_ += bridge::Millis(steps * stepMs);
        bridge_->Tick(now_);
        return now_;
    }
    // Every port sent at least once holds what the bridge merged.
    void Check(const char* target) {
        bridge_->Flush(now_);
        for (int p = 0; p < 8; ++p) {
            const std::uint8_t* levels = bridge_->Port(p).Levels();
            if (bridge_->Output().Datagrams(p) > 0 &&
                std::memcmp(sink_.store.get() + p * 512, levels, 512) != 0) {
                BridgeFail(target, "the driver's store differs from the merged levels");
            }
        }
    }

  private:
    bridge::Mapping mapping_;
    StoreSink sink_;
    ReplyCheck replies_;
    bridge::Delivery delivery_;
    std::unique_ptr<bridge::Bridge> bridge_;
    bridge::Millis now_{0};
};

// Two bits of an input as the synchronisation mode: auto, all, off, auto.
inline bridge::SyncMode SyncModeOf(std::uint32_t bits) {
    const bridge::SyncMode modes[] = {bridge::SyncMode::kAuto, bridge::SyncMode::kAll,
                                      bridge::SyncMode::kOff, bridge::SyncMode::kAuto};
    return modes[bits & 3];
}

// An exact-size copy of the datagram, so that AddressSanitizer sees any read
// past its end.
inline std::unique_ptr<std::uint8_t[]> ExactCopy(const std::uint8_t* data, std::size_t size) {
    std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[size == 0 ? 1 : size]);
    if (size != 0) {
        std::memcpy(copy.get(), data, size);
    }
    return copy;
}

// One receive's batch: the bytes cut at each kBatchCut (at most kMaxBatch
// datagrams), each an exact-size copy, sent from `address` + its place and
// arrived on the interface its place gives: 0 (not told), 1, 2, or 3, which
// the rig's Delivery does not take.
class FuzzBatch {
  public:
    FuzzBatch(const std::uint8_t* data, std::size_t size, std::uint32_t address) {
        const std::uint8_t* end = data + size;
        while (count_ < bridge::kMaxBatch) {
            const std::uint8_t* cut =
                count_ + 1 < bridge::kMaxBatch
                    ? std::search(data, end, kBatchCut, kBatchCut + sizeof kBatchCut)
                    : end;
            const auto n = static_cast<std::size_t>(cut - data);
            copies_.push_back(ExactCopy(data, n));
            const auto place = static_cast<std::uint32_t>(count_);
            received_[count_++] = {copies_.back().get(), n, {address + place, place % 4}};
            if (cut == end) {
                break;
            }
            data = cut + sizeof kBatchCut;
        }
    }
    int Count() const { return count_; }
    const bridge::Received* Datagrams() const { return received_; }
    const bridge::Received& operator[](int i) const { return received_[i]; }
    // The datagrams that arrived on an interface the rig does not take.
    int Foreign() const { return count_ / 4; }

  private:
    std::vector<std::unique_ptr<std::uint8_t[]>> copies_;
    bridge::Received received_[bridge::kMaxBatch];
    int count_ = 0;
};

}  // namespace lxd::fuzz

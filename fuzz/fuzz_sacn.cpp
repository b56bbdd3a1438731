// The sACN path of the bridge on arbitrary batches of datagrams, handed over
// as the sockets hand over what one receive took: ParseSacn reads only
// inside each datagram and reports fields within their ranges (data,
// synchronisation, discovery pages); the universe read before parsing is the
// one a data packet has; the datagrams of interfaces not taken are dropped
// and counted; one Bridge kept across inputs applies the others (sources,
// sequence numbers, per-address priorities, timeouts, levels held for
// synchronisation under the mode the input's second byte picks, discovered
// sources), and the block packets it sends give the driver exactly the
// merged levels.
#include <cstdint>

#include "fuzz/bridge_rig.h"
#include "fuzz/fuzz_inputs.h"
#include "protocol/pack.h"

namespace {

void CheckParse(const lxd::bridge::Received& d) {
    lxd::bridge::SacnPacket packet;
    lxd::bridge::SacnSync sync;
    lxd::bridge::SacnDiscovery page;
    const lxd::bridge::SacnParse parsed =
        lxd::bridge::ParseSacn(d.data, d.size, packet, sync, page);
    const std::uint8_t* end = d.data + d.size;
    if (parsed == lxd::bridge::SacnParse::kData &&
        (packet.slotCount > 512 || packet.slots + packet.slotCount > end || packet.priority > 200 ||
         packet.universe < 1 || packet.universe > 63999)) {
        lxd::fuzz::BridgeFail("fuzz_sacn", "a parsed field outside its range");
    }
    std::uint16_t universe = 0;
    const bool peeked = lxd::bridge::PeekSacnUniverse(d.data, d.size, universe);
    if ((parsed == lxd::bridge::SacnParse::kData && (!peeked || universe != packet.universe)) ||
        (peeked && (parsed == lxd::bridge::SacnParse::kSync ||
                    parsed == lxd::bridge::SacnParse::kDiscovery))) {
        lxd::fuzz::BridgeFail("fuzz_sacn", "the universe read first is not the packet's");
    }
    if (parsed == lxd::bridge::SacnParse::kSync && (sync.address < 1 || sync.address > 63999)) {
        lxd::fuzz::BridgeFail("fuzz_sacn", "a synchronisation address outside its range");
    }
    if (parsed == lxd::bridge::SacnParse::kDiscovery) {
        if (page.count > 512 || page.universes + 2 * page.count > end ||
            page.page > page.lastPage) {
            lxd::fuzz::BridgeFail("fuzz_sacn", "a discovery page outside its bounds");
        }
        for (int i = 1; i < page.count; ++i) {
            if (lxd::ReadBig16(page.universes + 2 * i) <=
                lxd::ReadBig16(page.universes + 2 * i - 2)) {
                lxd::fuzz::BridgeFail("fuzz_sacn", "a discovery list out of order");
            }
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static lxd::fuzz::BridgeRig rig;
    lxd::fuzz::BridgeInput in;
    if (!lxd::fuzz::SplitBridgeInput(data, size, &in)) {
        return 0;
    }
    const lxd::fuzz::FuzzBatch batch(in.datagram, in.size, 0x0A000001);
    for (int i = 0; i < batch.Count(); ++i) {
        CheckParse(batch[i]);
    }
    rig.Bridge().SetSync(lxd::fuzz::SyncModeOf(in.source));
    const lxd::bridge::Millis now = rig.Advance(in.advance, 20);
    const std::uint64_t before = rig.Bridge().Sacn().datagrams;
    const std::uint64_t foreign = rig.Delivery().Foreign();
    const int taken = rig.Delivery().Sacn(rig.Bridge(), batch.Datagrams(), batch.Count(), now);
    if (taken != batch.Count() - batch.Foreign() ||
        rig.Bridge().Sacn().datagrams - before != static_cast<std::uint64_t>(taken) ||
        rig.Delivery().Foreign() - foreign != static_cast<std::uint64_t>(batch.Foreign())) {
        lxd::fuzz::BridgeFail("fuzz_sacn", "a datagram of the batch lost or taken twice");
    }
    rig.Check("fuzz_sacn");
    return 0;
}

// The sACN path of the bridge on arbitrary datagrams: ParseSacn reads only
// inside the datagram and reports fields within their ranges (data,
// synchronisation, discovery pages); one Bridge kept across inputs applies
// them (sources, sequence numbers, per-address priorities, timeouts, levels
// held for synchronisation under the mode the input's second byte picks,
// discovered sources), and the block packets it sends give the driver
// exactly the merged levels.
#include <cstdint>

#include "fuzz/bridge_rig.h"
#include "fuzz/fuzz_inputs.h"
#include "protocol/pack.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static lxd::fuzz::BridgeRig rig;
    lxd::fuzz::BridgeInput in;
    if (!lxd::fuzz::SplitBridgeInput(data, size, &in)) {
        return 0;
    }
    const auto datagram = lxd::fuzz::ExactCopy(in.datagram, in.size);
    lxd::bridge::SacnPacket packet;
    lxd::bridge::SacnSync sync;
    lxd::bridge::SacnDiscovery page;
    const lxd::bridge::SacnParse parsed =
        lxd::bridge::ParseSacn(datagram.get(), in.size, packet, sync, page);
    const std::uint8_t* end = datagram.get() + in.size;
    if (parsed == lxd::bridge::SacnParse::kData &&
        (packet.slotCount > 512 || packet.slots + packet.slotCount > end || packet.priority > 200 ||
         packet.universe < 1 || packet.universe > 63999)) {
        lxd::fuzz::BridgeFail("fuzz_sacn", "a parsed field outside its range");
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
    rig.Bridge().SetSync(lxd::fuzz::SyncModeOf(in.source));
    const lxd::bridge::Millis now = rig.Advance(in.advance, 20);
    rig.Bridge().OnSacn(datagram.get(), in.size, now);
    rig.Check("fuzz_sacn");
    return 0;
}

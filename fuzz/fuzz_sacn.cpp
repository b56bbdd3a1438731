// The sACN path of the bridge on arbitrary datagrams: ParseSacn reads only
// inside the datagram and reports fields within their ranges; one Bridge kept
// across inputs applies them (sources, sequence numbers, per-address
// priorities, timeouts), and the block packets it sends give the driver
// exactly the merged levels.
#include <cstdint>

#include "fuzz/bridge_rig.h"
#include "fuzz/fuzz_inputs.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static lxd::fuzz::BridgeRig rig;
    lxd::fuzz::BridgeInput in;
    if (!lxd::fuzz::SplitBridgeInput(data, size, &in)) {
        return 0;
    }
    const auto datagram = lxd::fuzz::ExactCopy(in.datagram, in.size);
    lxd::bridge::SacnPacket packet;
    if (lxd::bridge::ParseSacn(datagram.get(), in.size, packet) == lxd::bridge::SacnParse::kData) {
        const std::uint8_t* end = datagram.get() + in.size;
        if (packet.slotCount > 512 || packet.slots + packet.slotCount > end ||
            packet.priority > 200 || packet.universe < 1 || packet.universe > 63999) {
            lxd::fuzz::BridgeFail("fuzz_sacn", "a parsed field outside its range");
        }
    }
    const lxd::bridge::Millis now = rig.Advance(in.advance, 20);
    rig.Bridge().OnSacn(datagram.get(), in.size, now);
    rig.Check("fuzz_sacn");
    return 0;
}

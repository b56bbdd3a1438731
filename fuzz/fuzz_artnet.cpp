// The Art-Net path of the bridge on arbitrary datagrams from one of four
// source addresses: ParseArtnet reads only inside the datagram; one Bridge
// kept across inputs merges ArtDmx (two sources, timeouts, held for ArtSync
// under the mode the first byte's top bits pick), answers ArtPoll with
// well-formed replies, and its block packets give the driver exactly the
// merged levels.
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
    lxd::bridge::ArtDmx dmx;
    lxd::bridge::ArtPoll poll;
    if (lxd::bridge::ParseArtnet(datagram.get(), in.size, dmx, poll) ==
            lxd::bridge::ArtnetParse::kDmx &&
        (dmx.length < 1 || dmx.length > 512 || dmx.data + dmx.length > datagram.get() + in.size ||
         dmx.portAddress > 0x7FFF)) {
        lxd::fuzz::BridgeFail("fuzz_artnet", "a parsed ArtDmx outside its bounds");
    }
    rig.Bridge().SetSync(lxd::fuzz::SyncModeOf(in.advance >> 6));
    const lxd::bridge::Millis now = rig.Advance(in.advance, 100);
    rig.Bridge().OnArtnet(datagram.get(), in.size, 0x0A000001 + in.source, now, rig.Replies());
    rig.Check("fuzz_artnet");
    return 0;
}

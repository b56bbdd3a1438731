// The Art-Net path of the bridge on arbitrary batches of datagrams from
// consecutive source addresses (the first one of four), handed over as the
// sockets hand over what one receive took: ParseArtnet reads only inside
// each datagram; the datagrams of interfaces not taken are dropped; one
// Bridge kept across inputs merges ArtDmx (two sources, timeouts, held for
// ArtSync under the mode the first byte's top bits pick), answers ArtPoll
// with well-formed replies, and its block packets give the driver exactly
// the merged levels.
#include <cstdint>

#include "fuzz/bridge_rig.h"
#include "fuzz/fuzz_inputs.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static lxd::fuzz::BridgeRig rig;
    lxd::fuzz::BridgeInput in;
    if (!lxd::fuzz::SplitBridgeInput(data, size, &in)) {
        return 0;
    }
    const lxd::fuzz::FuzzBatch batch(in.datagram, in.size, 0x0A000001 + in.source);
    for (int i = 0; i < batch.Count(); ++i) {
        lxd::bridge::ArtDmx dmx;
        lxd::bridge::ArtPoll poll;
        if (lxd::bridge::ParseArtnet(batch[i].data, batch[i].size, dmx, poll) ==
                lxd::bridge::ArtnetParse::kDmx &&
            (dmx.length < 1 || dmx.length > 512 ||
             dmx.data + dmx.length > batch[i].data + batch[i].size || dmx.portAddress > 0x7FFF)) {
            lxd::fuzz::BridgeFail("fuzz_artnet", "a parsed ArtDmx outside its bounds");
        }
    }
    rig.Bridge().SetSync(lxd::fuzz::SyncModeOf(in.advance >> 6));
    const lxd::bridge::Millis now = rig.Advance(in.advance, 100);
    const std::uint64_t before = rig.Bridge().Artnet().datagrams;
    const int taken =
        rig.Delivery().Artnet(rig.Bridge(), batch.Datagrams(), batch.Count(), now, rig.Replies());
    // The replies leave by the interface of the last datagram taken (the
    // last one, unless it came from the interface not taken).
    const int last = batch.Count() - 1 - (batch.Count() % 4 == 0 ? 1 : 0);
    if (taken != batch.Count() - batch.Foreign() ||
        rig.Bridge().Artnet().datagrams - before != static_cast<std::uint64_t>(taken) ||
        rig.Delivery().ArtnetVia() != batch[last].from.via) {
        lxd::fuzz::BridgeFail("fuzz_artnet", "a datagram of the batch lost or taken twice");
    }
    rig.Check("fuzz_artnet");
    return 0;
}

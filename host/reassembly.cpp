#include "host/reassembly.h"

#include <cstring>

namespace lxd::host {
namespace {

constexpr std::uint8_t kUdpProtocol = 17;

}  // namespace

Reassembler::Reassembler() {
    for (Slot& slot : slots_) {
        slot.bytes.resize(kMaxPayload);
    }
}

Reassembler::Slot& Reassembler::SlotFor(const Ipv4Fragment& fragment) {
    Slot* oldest = &slots_[0];
    for (Slot& slot : slots_) {
        if (slot.used && slot.from == fragment.from && slot.to == fragment.to &&
            slot.identification == fragment.identification) {
            return slot;
        }
        if (!slot.used || (oldest->used && slot.age < oldest->age)) {
            oldest = &slot;
        }
    }
    oldest->used = true;
    oldest->from = fragment.from;
    oldest->to = fragment.to;
    oldest->identification = fragment.identification;
    oldest->age = ++clock_;
    oldest->total = 0;
    oldest->received = 0;
    oldest->pieces = 0;
    oldest->units.reset();
    return *oldest;
}

bool Reassembler::Add(const Ipv4Fragment& fragment, const std::uint8_t*& payload,
                      std::uint32_t& size) {
    if (fragment.protocol != kUdpProtocol || fragment.offset > kMaxPayload ||
        fragment.size > kMaxPayload - fragment.offset ||
        (fragment.more && fragment.size % 8 != 0)) {
        return false;
    }
    Slot& slot = SlotFor(fragment);
    const std::uint32_t end = fragment.offset + fragment.size;
    if (!fragment.more) {
        slot.total = end;
    }
    std::memcpy(slot.bytes.data() + fragment.offset, fragment.bytes, fragment.size);
    ++slot.pieces;
    for (std::uint32_t unit = fragment.offset / 8; unit < (end + 7) / 8; ++unit) {
        if (!slot.units.test(unit)) {
            slot.units.set(unit);
            ++slot.received;
        }
    }
    if (slot.total == 0 || slot.received < (slot.total + 7) / 8) {
        return false;
    }
    // Every unit up to the end is in (units past it would mean a bad last fragment).
    slot.used = false;
    if (slot.received != (slot.total + 7) / 8) {
        return false;
    }
    payload = slot.bytes.data();
    size = slot.total;
    pieces_ = slot.pieces;
    return true;
}

}  // namespace lxd::host

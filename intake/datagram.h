// How one datagram is applied to the port store.
#pragma once

#include <cstdint>

#include "protocol/layout.h"

namespace lxd {

// Called with `context` around every write to the store; either may be null.
struct StoreWriteHooks {
    void* context;
    void (*beforeWrite)(void* context);
    void (*afterWrite)(void* context);
};

// Applies one received datagram of `length` bytes to the 18,432-byte store.
// Reads nothing outside the datagram and writes nothing outside the store.
void ApplyDatagram(const std::uint8_t* datagram, std::uint32_t length, std::uint8_t* store,
                   const StoreWriteHooks& hooks);

}  // namespace lxd

// Detection: the driver's one device entry in the host's detection list.
#pragma once

#include <cstdint>

#include "protocol/device.h"

namespace lxd {

// Appends an entry for `address` (a 16-byte IPv4 socket address) unless the
// list is full, its count is negative, or an entry in use has the same IPv4
// address.
void AppendDeviceEntry(std::uint16_t hostWord, void* list, const std::uint8_t* address,
                       const char* tag);

// Appends the one device, "Dravik Valtrix" at 127.0.0.1 and the intake
// port, to `list`.
void AppendOwnDevice(std::uint16_t hostWord, void* list);

}  // namespace lxd

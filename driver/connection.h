// The intake connection: a counted connection and the one UDP socket on 2501.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace lxd {

inline constexpr std::uint16_t kIntakePort = 2501;
// What Connect asks of the system for the socket's receive queue: a second of
// full traffic (36 ports x 44 Hz of 1,090-byte datagrams) with room to spare.
inline constexpr int kReceiveBufferRequest = 4 * 1024 * 1024;
// The device name that detection writes and Connect accepts.
inline constexpr char kDeviceName[] = "Dravik Valtrix";

std::int32_t ConnectionCount();
// Sets the count to 0 without touching the socket (module attach).
void ResetConnectionCount();
// The open intake socket, or kInvalidSocket while no connection is open.
platform::Socket IntakeSocket();
// Drops every open connection at once, closing the intake socket, so that an
// unloaded module never leaves UDP 2501 held in the host's process.
void DropAllConnections();

}  // namespace lxd

// The few operating-system operations that the driver needs. One implementation
// folder (win32, posix or fake) is linked in; the driver core never asks which.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lxd::platform {

// A socket handle as the platform gives it; all bits set means "no socket".
using Socket = std::uintptr_t;
inline constexpr Socket kInvalidSocket = ~Socket{0};

// Starts the socket layer, asking for version 1.0. Returns 0 on success and
// stores the major number of the version that the layer will use.
int StartSocketLayer(std::uint8_t* majorVersion);
void StopSocketLayer();

// An IPv4 UDP socket, or kInvalidSocket.
Socket OpenUdpSocket();
// Asks the system for a receive buffer of `bytes`; false when refused.
bool RequestReceiveBuffer(Socket socket, int bytes);
// Keeps other programs from binding the same port with address reuse, where
// the platform offers that; false when refused.
bool ClaimPortExclusively(Socket socket);
// Binds to `port` on every local IPv4 address.
bool BindAnyAddress(Socket socket, std::uint16_t port);
bool SetNonBlocking(Socket socket);
void CloseSocket(Socket socket);

// Receives one datagram into `buffer`. Returns its length, or 0 or less when
// nothing is waiting, the receive fails, the datagram is empty, or it was
// longer than `capacity` (such a datagram is discarded whole).
int ReceiveDatagram(Socket socket, std::uint8_t* buffer, int capacity);

// Shows a message to the user and returns when it has been dismissed.
void ShowMessage(const char* text);

// A fixed block of memory for a bitmap file, or null.
void* AllocateBlock(std::size_t bytes);
void FreeBlock(void* block);

// Creates a bitmap from a DIB held in `block` (`blockSize` bytes): the info
// header at the start, directly followed by its colour table, and the pixel
// array at `pixelOffset`. Returns the handle, or null.
void* CreateBitmapFromDib(const std::uint8_t* block, std::size_t blockSize,
                          std::size_t pixelOffset);
void DeleteBitmap(void* bitmap);

// The fixed paths of the two branding bitmap files.
const char* WelcomeBitmapPath();
const char* ModeBarBitmapPath();

}  // namespace lxd::platform

// A recording, fault-injecting stand-in for the platform, for unit tests.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace lxd::fake {

enum class Call {
    kStartSocketLayer,
    kStopSocketLayer,
    kOpenUdpSocket,
    kRequestReceiveBuffer,
    kClaimPortExclusively,
    kBindAnyAddress,
    kSetNonBlocking,
    kCloseSocket,
    kReceiveDatagram,
    kShowMessage,
    kAllocateBlock,
    kFreeBlock,
    kCreateBitmap,
    kDeleteBitmap,
};

struct CallRecord {
    Call call;
    platform::Socket socket;  // sockets and bind/close calls; else 0
    const void* handle;       // bitmap and block calls; else null
    std::string text;         // messages
};

struct FakePlatform {
    // Faults to inject.
    int startResult = 0;
    std::uint8_t majorVersion = 1;
    bool failOpen = false;
    bool failReceiveBuffer = false;
    bool failClaimPort = false;
    bool failBind = false;
    bool failNonBlocking = false;
    bool failAllocate = false;
    bool failCreateBitmap = false;

    // Datagrams waiting on the socket; an empty one stands for an empty datagram.
    std::deque<std::vector<std::uint8_t>> datagrams;
    std::string welcomePath = "welcome.bmp";
    std::string modeBarPath = "modebar.bmp";

    std::vector<CallRecord> calls;
    platform::Socket nextSocket = 100;
    std::uintptr_t nextBitmap = 0x1000;
    std::vector<const void*> liveBitmaps;
    std::size_t lastDibSize = 0;
    std::size_t lastPixelOffset = 0;
    std::vector<std::uint8_t> lastDib;

    std::size_t Count(Call call) const;
    std::vector<std::string> Messages() const;
};

// The one fake behind the platform functions; Reset() clears it.
FakePlatform& Platform();
void Reset();

}  // namespace lxd::fake

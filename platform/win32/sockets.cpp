// Windows Sockets 1.1.
#include <winsock2.h>

#include <cstring>

#include "platform/platform.h"

namespace lxd::platform {
namespace {

SOCKET Handle(Socket socket) {
    return static_cast<SOCKET>(socket);
}

}  // namespace

int StartSocketLayer(std::uint8_t* majorVersion) {
    WSADATA data;
    const int result = WSAStartup(0x0001, &data);
    if (result == 0) {
        *majorVersion = LOBYTE(data.wVersion);
    }
    return result;
}

void StopSocketLayer() {
    WSACleanup();
}

Socket OpenUdpSocket() {
    const SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);
    return s == INVALID_SOCKET ? kInvalidSocket : static_cast<Socket>(s);
}

bool RequestReceiveBuffer(Socket socket, int bytes) {
    return setsockopt(Handle(socket), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&bytes),
                      sizeof bytes) == 0;
}

bool ClaimPortExclusively(Socket socket) {
    const BOOL on = TRUE;
    return setsockopt(Handle(socket), SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
                      reinterpret_cast<const char*>(&on), sizeof on) == 0;
}

bool BindAnyAddress(Socket socket, std::uint16_t port) {
    sockaddr_in address;
    std::memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    return bind(Handle(socket), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

bool SetNonBlocking(Socket socket) {
    u_long on = 1;
    return ioctlsocket(Handle(socket), FIONBIO, &on) == 0;
}

void CloseSocket(Socket socket) {
    closesocket(Handle(socket));
}

int ReceiveDatagram(Socket socket, std::uint8_t* buffer, int capacity) {
    // A datagram longer than the buffer fails with WSAEMSGSIZE and is discarded.
    sockaddr_in sender;
    int senderLength = sizeof sender;
    return recvfrom(Handle(socket), reinterpret_cast<char*>(buffer), capacity, 0,
                    reinterpret_cast<sockaddr*>(&sender), &senderLength);
}

}  // namespace lxd::platform

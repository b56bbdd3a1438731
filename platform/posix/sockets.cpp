// BSD sockets.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "platform/platform.h"

namespace lxd::platform {
namespace {

int Fd(Socket socket) {
    return static_cast<int>(socket);
}

}  // namespace

int StartSocketLayer(std::uint8_t* majorVersion) {
    *majorVersion = 1;  // BSD sockets need no start-up
    return 0;
}

void StopSocketLayer() {}

Socket OpenUdpSocket() {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    return fd < 0 ? kInvalidSocket : static_cast<Socket>(fd);
}

bool RequestReceiveBuffer(Socket socket, int bytes) {
    return ::setsockopt(Fd(socket), SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes) == 0;
}

// Linux has no exclusive binding; the socket simply asks for no address reuse,
// so another socket cannot bind the port while it is held.
bool ClaimPortExclusively(Socket) {
    return true;
}

bool BindAnyAddress(Socket socket, std::uint16_t port) {
    sockaddr_in address;
    std::memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    return ::bind(Fd(socket), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

bool SetNonBlocking(Socket socket) {
    const int flags = ::fcntl(Fd(socket), F_GETFL);
    return flags >= 0 && ::fcntl(Fd(socket), F_SETFL, flags | O_NONBLOCK) == 0;
}

void CloseSocket(Socket socket) {
    ::close(Fd(socket));
}

int ReceiveDatagram(Socket socket, std::uint8_t* buffer, int capacity) {
    sockaddr_in sender;
    socklen_t senderLength = sizeof sender;
    // MSG_TRUNC reports a longer datagram's real length; it is discarded whole,
    // as Winsock does.
    const ssize_t received =
        ::recvfrom(Fd(socket), buffer, static_cast<std::size_t>(capacity), MSG_TRUNC,
                   reinterpret_cast<sockaddr*>(&sender), &senderLength);
    if (received > capacity) {
        return -1;
    }
    return static_cast<int>(received);
}

}  // namespace lxd::platform

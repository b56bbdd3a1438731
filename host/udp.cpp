#include "host/udp.h"

#include <cstring>

#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
using SocketLength = int;
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
using SocketLength = socklen_t;
#endif

namespace lxd::host {
namespace {

constexpr std::uintptr_t kNoSocket = ~std::uintptr_t{0};

#if defined(_WIN32)
using Native = SOCKET;
void CloseNative(std::uintptr_t s) {
    closesocket(static_cast<SOCKET>(s));
}
#else
using Native = int;
void CloseNative(std::uintptr_t s) {
    close(static_cast<int>(s));
}
#endif

Native AsNative(std::uintptr_t s) {
    return static_cast<Native>(s);
}

}  // namespace

bool StartNetworking() {
#if defined(_WIN32)
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
#else
    return true;
#endif
}

UdpSocket::UdpSocket() : socket_(kNoSocket), destination_{} {
    StartNetworking();
    const Native s = socket(AF_INET, SOCK_DGRAM, 0);
#if defined(_WIN32)
    socket_ = s == INVALID_SOCKET ? kNoSocket : static_cast<std::uintptr_t>(s);
#else
    socket_ = s < 0 ? kNoSocket : static_cast<std::uintptr_t>(s);
#endif
}

UdpSocket::~UdpSocket() {
    Close();
}

bool UdpSocket::Valid() const {
    return socket_ != kNoSocket;
}

void UdpSocket::Close() {
    if (socket_ != kNoSocket) {
        CloseNative(socket_);
        socket_ = kNoSocket;
    }
}

bool UdpSocket::SetDestination(const std::string& host, std::uint16_t port) {
    sockaddr_in address;
    std::memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = inet_addr(host.c_str());
    if (address.sin_addr.s_addr == INADDR_NONE && host != "255.255.255.255") {
        return false;
    }
    std::memcpy(destination_, &address, sizeof address);
    return true;
}

bool UdpSocket::Send(const std::uint8_t* data, std::size_t size) {
    if (!Valid()) {
        return false;
    }
    const long long sent =
        sendto(AsNative(socket_), reinterpret_cast<const char*>(data), static_cast<int>(size), 0,
               reinterpret_cast<const sockaddr*>(destination_), sizeof(sockaddr_in));
    return sent == static_cast<long long>(size);
}

bool UdpSocket::Bind(std::uint16_t port, bool reuse) {
    if (!Valid()) {
        return false;
    }
    if (reuse) {
        const int on = 1;
        setsockopt(AsNative(socket_), SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&on),
                   sizeof on);
    }
    sockaddr_in address;
    std::memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    return bind(AsNative(socket_), reinterpret_cast<const sockaddr*>(&address),
                static_cast<SocketLength>(sizeof address)) == 0;
}

void UdpSocket::RequestSendBuffer(int bytes) {
    if (Valid()) {
        setsockopt(AsNative(socket_), SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&bytes),
                   sizeof bytes);
    }
}

}  // namespace lxd::host

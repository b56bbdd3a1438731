// Asio's header brings winsock2.h before the others, as Windows needs.
#include "tools/bridge/net/datagram_io.h"
// (after winsock2.h)
#include <mswsock.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <cstring>

namespace lxd::bridge {
namespace {

LPFN_WSARECVMSG RecvMsgFunction(SOCKET socket) {
    static LPFN_WSARECVMSG function = nullptr;
    if (function == nullptr) {
        GUID guid = WSAID_WSARECVMSG;
        DWORD bytes = 0;
        WSAIoctl(socket, SIO_GET_EXTENSION_FUNCTION_POINTER, &guid, sizeof guid, &function,
                 sizeof function, &bytes, nullptr, nullptr);
    }
    return function;
}

}  // namespace

void ReceiveJoinedGroupsOnly(asio::ip::udp::socket&) {}

void AskForPacketInfo(asio::ip::udp::socket& socket) {
    const DWORD on = 1;
    setsockopt(socket.native_handle(), IPPROTO_IP, IP_PKTINFO, reinterpret_cast<const char*>(&on),
               sizeof on);
}

int GrowReceiveBuffer(asio::ip::udp::socket& socket, int bytes) {
    asio::error_code ec;
    socket.set_option(asio::socket_base::receive_buffer_size(bytes), ec);
    asio::socket_base::receive_buffer_size granted;
    socket.get_option(granted, ec);
    return ec ? 0 : granted.value();
}

// Windows has no call that takes several datagrams: one WSARecvMsg each.
struct ReceiveBatch::Room {
    std::uint8_t buffers[kMaxBatch][kDatagramRoom];
};

ReceiveBatch::ReceiveBatch() : room_(std::make_unique<Room>()) {}
ReceiveBatch::~ReceiveBatch() = default;

int ReceiveBatch::Receive(asio::ip::udp::socket& socket) {
    const LPFN_WSARECVMSG recvMsg = RecvMsgFunction(socket.native_handle());
    if (recvMsg == nullptr) {
        return kFault;
    }
    int count = 0;
    for (; count < kMaxBatch; ++count) {
        sockaddr_in source{};
        WSABUF data{static_cast<ULONG>(kDatagramRoom),
                    reinterpret_cast<char*>(room_->buffers[count])};
        char control[WSA_CMSG_SPACE(sizeof(IN_PKTINFO))] = {};
        WSAMSG message{};
        message.name = reinterpret_cast<LPSOCKADDR>(&source);
        message.namelen = sizeof source;
        message.lpBuffers = &data;
        message.dwBufferCount = 1;
        message.Control = {sizeof control, control};
        DWORD received = 0;
        if (recvMsg(socket.native_handle(), &message, &received, nullptr, nullptr) ==
            SOCKET_ERROR) {
            const int error = WSAGetLastError();
            if (error != WSAEMSGSIZE) {
                // A fault after datagrams is the next call's.
                return count > 0 || error == WSAEWOULDBLOCK ? count : kFault;
            }
            received = kDatagramRoom;  // longer than the room: cut to it, as on Linux
        }
        Received& got = got_[count];
        got.data = room_->buffers[count];
        got.size = std::min<std::size_t>(received, kDatagramRoom);
        got.from.address = ntohl(source.sin_addr.s_addr);
        got.from.via = 0;
        for (WSACMSGHDR* c = WSA_CMSG_FIRSTHDR(&message); c != nullptr;
             c = WSA_CMSG_NXTHDR(&message, c)) {
            if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
                got.from.via = reinterpret_cast<IN_PKTINFO*>(WSA_CMSG_DATA(c))->ipi_ifindex;
            }
        }
    }
    return count;
}

void SendVia(asio::ip::udp::socket& socket, const asio::ip::udp::endpoint& to,
             const std::uint8_t* data, std::size_t size, std::uint32_t via, std::uint32_t from) {
    WSABUF part{static_cast<ULONG>(size), reinterpret_cast<char*>(const_cast<std::uint8_t*>(data))};
    char control[WSA_CMSG_SPACE(sizeof(IN_PKTINFO))] = {};
    WSAMSG message{};
    message.name = const_cast<LPSOCKADDR>(reinterpret_cast<const sockaddr*>(to.data()));
    message.namelen = static_cast<INT>(to.size());
    message.lpBuffers = &part;
    message.dwBufferCount = 1;
    message.Control = {sizeof control, control};
    WSACMSGHDR* c = WSA_CMSG_FIRSTHDR(&message);
    c->cmsg_level = IPPROTO_IP;
    c->cmsg_type = IP_PKTINFO;
    c->cmsg_len = WSA_CMSG_LEN(sizeof(IN_PKTINFO));
    IN_PKTINFO info{};
    info.ipi_addr.s_addr = htonl(from);
    info.ipi_ifindex = via;
    std::memcpy(WSA_CMSG_DATA(c), &info, sizeof info);
    DWORD sent = 0;
    if (WSASendMsg(socket.native_handle(), &message, 0, &sent, nullptr, nullptr) == 0) {
        return;
    }
    asio::error_code ec;
    socket.send_to(asio::buffer(data, size), to, 0, ec);
}

int SendBurst(asio::ip::udp::socket& socket, const asio::ip::udp::endpoint& to,
              const Datagram* datagrams, int count) {
    return SendEach(socket, to, datagrams, count);
}

}  // namespace lxd::bridge

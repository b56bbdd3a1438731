#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "tools/bridge/net/datagram_io.h"

namespace lxd::bridge {

#if !defined(__linux__)
// Where the system has no recvmmsg, the same headers are received one by one.
struct mmsghdr {
    msghdr msg_hdr;
    unsigned msg_len;
};
#endif

void ReceiveJoinedGroupsOnly(asio::ip::udp::socket& socket) {
#if defined(IP_MULTICAST_ALL)
    const int off = 0;
    setsockopt(socket.native_handle(), IPPROTO_IP, IP_MULTICAST_ALL, &off, sizeof off);
#else
    (void)socket;
#endif
}

void AskForPacketInfo(asio::ip::udp::socket& socket) {
    const int on = 1;
    setsockopt(socket.native_handle(), IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
}

int GrowReceiveBuffer(asio::ip::udp::socket& socket, int bytes) {
    int size = bytes;
#if defined(SO_RCVBUFFORCE)
    if (setsockopt(socket.native_handle(), SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) != 0) {
        setsockopt(socket.native_handle(), SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    }
#else
    setsockopt(socket.native_handle(), SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
#endif
    asio::socket_base::receive_buffer_size granted;
    asio::error_code ec;
    socket.get_option(granted, ec);
    // (Asio already halves what Linux reports, which counts its bookkeeping.)
    return ec ? 0 : granted.value();
}

// One batch's buffers and headers, pointed at each other once.
struct ReceiveBatch::Room {
    struct Control {
        alignas(cmsghdr) char bytes[CMSG_SPACE(sizeof(in_pktinfo))];
    };
    std::uint8_t buffers[kMaxBatch][kDatagramRoom];
    sockaddr_in sources[kMaxBatch];
    Control control[kMaxBatch];
    iovec parts[kMaxBatch];
    mmsghdr messages[kMaxBatch];
    int filled = kMaxBatch;  // headers the last call may have changed

    Room() {
        for (int i = 0; i < kMaxBatch; ++i) {
            parts[i] = {buffers[i], kDatagramRoom};
            messages[i] = {};
            messages[i].msg_hdr.msg_name = &sources[i];
            messages[i].msg_hdr.msg_iov = &parts[i];
            messages[i].msg_hdr.msg_iovlen = 1;
            messages[i].msg_hdr.msg_control = control[i].bytes;
        }
    }
    // What the system changed in the headers it filled goes back.
    void Reset() {
        for (int i = 0; i < filled; ++i) {
            messages[i].msg_hdr.msg_namelen = sizeof sources[i];
            messages[i].msg_hdr.msg_controllen = sizeof control[i].bytes;
        }
    }
};

ReceiveBatch::ReceiveBatch() : room_(std::make_unique<Room>()) {}
ReceiveBatch::~ReceiveBatch() = default;

int ReceiveBatch::Receive(asio::ip::udp::socket& socket) {
    Room& room = *room_;
    room.Reset();
#if defined(__linux__)
    const int count =
        recvmmsg(socket.native_handle(), room.messages, kMaxBatch, MSG_DONTWAIT, nullptr);
    if (count < 0) {
        room.filled = 0;
        return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : kFault;
    }
#else
    int count = 0;
    for (; count < kMaxBatch; ++count) {
        const ssize_t n = recvmsg(socket.native_handle(), &room.messages[count].msg_hdr, 0);
        if (n < 0) {
            if (count == 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
                room.filled = 0;
                return kFault;
            }
            break;
        }
        room.messages[count].msg_len = static_cast<unsigned>(n);
    }
#endif
    room.filled = count;
    for (int i = 0; i < count; ++i) {
        msghdr& message = room.messages[i].msg_hdr;
        got_[i].data = room.buffers[i];
        got_[i].size = std::min<std::size_t>(room.messages[i].msg_len, kDatagramRoom);
        got_[i].from.address = ntohl(room.sources[i].sin_addr.s_addr);
        got_[i].from.via = 0;
        for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
            if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
                in_pktinfo info;
                std::memcpy(&info, CMSG_DATA(c), sizeof info);
                got_[i].from.via = static_cast<std::uint32_t>(info.ipi_ifindex);
            }
        }
    }
    return count;
}

void SendVia(asio::ip::udp::socket& socket, const asio::ip::udp::endpoint& to,
             const std::uint8_t* data, std::size_t size, std::uint32_t via, std::uint32_t from) {
#if defined(__linux__)
    iovec part{const_cast<std::uint8_t*>(data), size};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    msghdr message{};
    message.msg_name = const_cast<sockaddr*>(to.data());
    message.msg_namelen = static_cast<socklen_t>(to.size());
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    cmsghdr* c = CMSG_FIRSTHDR(&message);
    c->cmsg_level = IPPROTO_IP;
    c->cmsg_type = IP_PKTINFO;
    c->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
    in_pktinfo info{};
    info.ipi_ifindex = static_cast<int>(via);
    info.ipi_spec_dst.s_addr = htonl(from);
    std::memcpy(CMSG_DATA(c), &info, sizeof info);
    if (sendmsg(socket.native_handle(), &message, 0) >= 0) {
        return;
    }
#else
    (void)via;
    (void)from;
#endif
    asio::error_code ec;
    socket.send_to(asio::buffer(data, size), to, 0, ec);
}

int SendBurst(asio::ip::udp::socket& socket, const asio::ip::udp::endpoint& to,
              const Datagram* datagrams, int count) {
#if defined(__linux__)
    mmsghdr messages[kMaxBurst];
    iovec parts[kMaxBurst];
    int sent = 0;
    while (sent < count) {
        const int n = std::min(count - sent, kMaxBurst);
        for (int i = 0; i < n; ++i) {
            parts[i] = {const_cast<std::uint8_t*>(datagrams[sent + i].data),
                        datagrams[sent + i].size};
            messages[i] = {};
            messages[i].msg_hdr.msg_name = const_cast<sockaddr*>(to.data());
            messages[i].msg_hdr.msg_namelen = static_cast<socklen_t>(to.size());
            messages[i].msg_hdr.msg_iov = &parts[i];
            messages[i].msg_hdr.msg_iovlen = 1;
        }
        const int done = sendmmsg(socket.native_handle(), messages, static_cast<unsigned>(n), 0);
        if (done <= 0) {
            break;
        }
        sent += done;
    }
    return sent;
#else
    return SendEach(socket, to, datagrams, count);
#endif
}

}  // namespace lxd::bridge

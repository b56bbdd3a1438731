#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "tools/bridge/net/datagram_io.h"

namespace lxd::bridge {

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

Got ReceiveOne(asio::ip::udp::socket& socket, std::uint8_t* buffer, std::size_t room,
               std::size_t& size, Arrival& from) {
    sockaddr_in source{};
    iovec data{buffer, room};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))];
    msghdr message{};
    message.msg_name = &source;
    message.msg_namelen = sizeof source;
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const ssize_t received = recvmsg(socket.native_handle(), &message, 0);
    if (received < 0) {
        return errno == EAGAIN || errno == EWOULDBLOCK ? Got::kNothing : Got::kFault;
    }
    from.via = 0;
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
            in_pktinfo info;
            std::memcpy(&info, CMSG_DATA(c), sizeof info);
            from.via = static_cast<std::uint32_t>(info.ipi_ifindex);
        }
    }
    from.address = ntohl(source.sin_addr.s_addr);
    size = static_cast<std::size_t>(received);
    return Got::kDatagram;
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
    int sent = 0;
    asio::error_code ec;
    while (sent < count &&
           socket.send_to(asio::buffer(datagrams[sent].data, datagrams[sent].size), to, 0, ec) ==
               datagrams[sent].size &&
           !ec) {
        ++sent;
    }
    return sent;
#endif
}

}  // namespace lxd::bridge

// Linux: netlink messages about links and IPv4 addresses wake the watch; a
// look every kInterfaceCheck where netlink cannot be opened.
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "tools/bridge/net/repeat.h"
#include "tools/bridge/net/watch.h"

namespace lxd::bridge {

struct InterfaceWatch::Impl {
    explicit Impl(asio::io_context& io) : io(io), notices(io) {}

    bool Open() {
        const int fd = socket(AF_NETLINK, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, NETLINK_ROUTE);
        if (fd < 0) {
            return false;
        }
        sockaddr_nl local{};
        local.nl_family = AF_NETLINK;
        local.nl_groups = RTMGRP_LINK | RTMGRP_IPV4_IFADDR;
        asio::error_code ec;
        if (bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
            (notices.assign(fd, ec), ec)) {
            close(fd);
            return false;
        }
        return true;
    }
    void Arm() {
        notices.async_wait(asio::posix::stream_descriptor::wait_read, [this](asio::error_code ec) {
            if (ec || closed) {
                return;
            }
            // What changed does not matter: the list is read again (also
            // when messages were lost, ENOBUFS).
            alignas(nlmsghdr) std::uint8_t message[8192];
            while (recv(notices.native_handle(), message, sizeof message, 0) > 0 ||
                   errno == ENOBUFS) {
            }
            changed();
            Arm();
        });
    }

    asio::io_context& io;
    asio::posix::stream_descriptor notices;
    std::unique_ptr<Repeat> look;  // without netlink
    std::function<void()> changed;
    bool closed = false;
};

InterfaceWatch::InterfaceWatch(asio::io_context& io) : impl_(std::make_unique<Impl>(io)) {}

InterfaceWatch::~InterfaceWatch() {
    Close();
}

void InterfaceWatch::Start(std::function<void()> changed) {
    if (impl_->Open()) {
        impl_->changed = std::move(changed);
        impl_->Arm();
    } else {
        impl_->look = std::make_unique<Repeat>(impl_->io, kInterfaceCheck, std::move(changed));
    }
}

void InterfaceWatch::Close() {
    impl_->closed = true;
    asio::error_code ignored;
    impl_->notices.close(ignored);
    impl_->look.reset();
}

}  // namespace lxd::bridge

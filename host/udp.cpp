#include "host/udp.h"

#include <asio/io_context.hpp>
#include <asio/ip/udp.hpp>
#include <cstdlib>

namespace lxd::host {
namespace {

using asio::ip::udp;

// Synchronous sockets only: one context serves the whole process.
asio::io_context& Context() {
    static asio::io_context context;
    return context;
}

}  // namespace

bool ResolveIpv4(const std::string& host, std::string& dotted) {
    std::error_code error;
    udp::resolver resolver(Context());
    const auto results = resolver.resolve(udp::v4(), host, "", error);
    if (error || results.empty()) {
        return false;
    }
    dotted = results.begin()->endpoint().address().to_string();
    return true;
}

struct UdpSocket::State {
    udp::socket socket{Context()};
    udp::endpoint destination;
    std::error_code lastError;
};

UdpSocket::UdpSocket() : state_(std::make_unique<State>()) {
    state_->socket.open(udp::v4(), state_->lastError);
}

UdpSocket::~UdpSocket() {
    Close();
}

bool UdpSocket::Valid() const {
    return state_->socket.is_open();
}

void UdpSocket::Close() {
    std::error_code ignored;
    state_->socket.close(ignored);
}

std::string UdpSocket::LastError() const {
    return state_->lastError ? state_->lastError.message() : std::string();
}

bool UdpSocket::SetDestination(const std::string& host, std::uint16_t port) {
    std::error_code error;
    const asio::ip::address_v4 address = asio::ip::make_address_v4(host, error);
    if (error) {
        return false;
    }
    state_->destination = udp::endpoint(address, port);
    return true;
}

bool UdpSocket::Send(const std::uint8_t* data, std::size_t size) {
    if (!Valid()) {
        return false;
    }
    const std::size_t sent =
        state_->socket.send_to(asio::buffer(data, size), state_->destination, 0, state_->lastError);
    return !state_->lastError && sent == size;
}

bool UdpSocket::Bind(std::uint16_t port, bool reuse) {
    if (!Valid()) {
        return false;
    }
    if (reuse) {
        state_->socket.set_option(udp::socket::reuse_address(true), state_->lastError);
    }
    state_->socket.bind(udp::endpoint(udp::v4(), port), state_->lastError);
    return !state_->lastError;
}

void UdpSocket::RequestSendBuffer(int bytes) {
    if (Valid()) {
        std::error_code ignored;
        state_->socket.set_option(asio::socket_base::send_buffer_size(bytes), ignored);
    }
}

}  // namespace lxd::host

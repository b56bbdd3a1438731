// Where the system does not tell of interface changes: a look every
// kInterfaceCheck.
#include "tools/bridge/net/repeat.h"
#include "tools/bridge/net/watch.h"

namespace lxd::bridge {

struct InterfaceWatch::Impl {
    asio::io_context& io;
    std::unique_ptr<Repeat> look;
};

InterfaceWatch::InterfaceWatch(asio::io_context& io) : impl_(new Impl{io, nullptr}) {}

InterfaceWatch::~InterfaceWatch() = default;

void InterfaceWatch::Start(std::function<void()> changed) {
    impl_->look = std::make_unique<Repeat>(impl_->io, kInterfaceCheck, std::move(changed));
}

void InterfaceWatch::Close() {
    impl_->look.reset();
}

}  // namespace lxd::bridge

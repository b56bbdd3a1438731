// Tells when the machine's interfaces or their addresses may have changed:
// at once on Linux (netlink), elsewhere every kInterfaceCheck.
#pragma once

#include <asio.hpp>
#include <functional>
#include <memory>

#include "tools/bridge/core/io.h"

namespace lxd::bridge {

// Where the system does not tell of changes, interfaces are looked at again
// this often.
inline constexpr Millis kInterfaceCheck{2000};

class InterfaceWatch {
  public:
    explicit InterfaceWatch(asio::io_context& io);
    ~InterfaceWatch();
    InterfaceWatch(const InterfaceWatch&) = delete;
    InterfaceWatch& operator=(const InterfaceWatch&) = delete;

    // Calls `changed` on the event loop after each change until Close (or
    // the end of the watch).
    void Start(std::function<void()> changed);
    void Close();

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace lxd::bridge

// The fixture of the driver's unit tests: a fresh driver over a freshly reset
// fake platform for every test.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "driver/driver.h"
#include "host/device_entry.h"
#include "platform/fake/fake_platform.h"

namespace lxd::test {

class DriverTest : public ::testing::Test {
  protected:
    DriverTest() { fake::Reset(); }
    ~DriverTest() override { fake::Reset(); }

    // Opens one connection with the device's own entry, as the host does.
    void ConnectOnce() {
        const std::vector<std::uint8_t> entry = host::DeviceEntry();
        ASSERT_EQ(driver.Connect(entry.data()), 0);
    }

  private:
    std::unique_ptr<Driver> owned_ = std::make_unique<Driver>();  // 18 KB of store

  protected:
    Driver& driver = *owned_;
};

}  // namespace lxd::test

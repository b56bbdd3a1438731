#include "tools/monitor/session.h"

#include <cstring>
#include <vector>

#include "host/device_entry.h"

namespace lxd::monitor {
namespace {

const std::string kPort = std::to_string(kIntakePort);
#if defined(_WIN32)
const std::string kWhoHoldsThePort = "`netstat -ano -p udp` lists it under :" + kPort;
#else
const std::string kWhoHoldsThePort = "`ss -ulpn 'sport = :" + kPort + "'` shows which";
#endif

}  // namespace

DriverSession::~DriverSession() {
    Close();
}

bool DriverSession::Open(const std::string& path, std::string& error) {
    path_ = path;
    if (!driver_.Load(path)) {
        error = driver_.Error();
        return false;
    }
    if (const std::string file = driver_.LoadedFile(); !file.empty()) {
        path_ = file;
    }
    const host::DriverExports& d = driver_.Exports();
    std::int32_t major = 0;
    std::int32_t minor = 0;
    d.GetVersionInfo(&major, &minor);
    versionMajor_ = major;
    versionMinor_ = minor;
    const char* text = nullptr;
    if (d.GetBrandingString(1, &text) == 1 && text != nullptr) {
        branding_ = text;
    }

    std::vector<std::uint8_t> list = host::EmptyDetectionList();
    d.StartDetect();
    d.ContinueDetect(0, list.data());
    std::int32_t count = 0;
    std::memcpy(&count, list.data(), sizeof count);
    if (count < 1 || count > kDetectionCapacity) {
        error = "detection found no device in driver '" + path + "'";
        return false;
    }
    const std::uint8_t* entry = list.data() + kListHeaderSize;
    const char* name = reinterpret_cast<const char*>(entry + kEntryNameOffset);
    deviceName_.assign(name, strnlen(name, kEntrySecondNameOffset - kEntryNameOffset));
    if (d.Connect(entry) != 0) {
        error = "Connect failed: UDP port " + kPort +
                " is probably held by another program (another monitor?); stop it (" +
                kWhoHoldsThePort + ") and try again";
        return false;
    }
    connected_ = true;
    windowStart_ = Clock::now();
    return true;
}

void DriverSession::Close() {
    if (connected_) {
        driver_.Exports().Disconnect(0);
        connected_ = false;
    }
}

void DriverSession::Tick(Clock::time_point now) {
    if (!connected_) {
        return;
    }
    const host::DriverExports& d = driver_.Exports();
    d.ServiceDevices();
    ++serviceCalls_;
    std::memcpy(previous_, levels_, sizeof levels_);
    for (int port = 0; port < kNumPorts; ++port) {
        d.GetChannels(0, port, 0, levels_[port], kChannelsPerPort);
        if (std::memcmp(levels_[port], previous_[port], kChannelsPerPort) != 0) {
            ++changes_[port];
            ++windowChanges_[port];
            lastChange_[port] = now;
        }
    }
    const std::chrono::duration<double> window = now - windowStart_;
    if (window.count() >= 1.0) {
        for (int port = 0; port < kNumPorts; ++port) {
            rate_[port] = windowChanges_[port] / window.count();
            windowChanges_[port] = 0;
        }
        windowStart_ = now;
    }
}

bool DriverSession::Active(int port, Clock::time_point now) const {
    return changes_[port] > 0 && now - lastChange_[port] < std::chrono::seconds(1);
}

}  // namespace lxd::monitor

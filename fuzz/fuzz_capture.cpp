// The capture reader on arbitrary bytes: the input is read as a capture file
// (through libpcap, from memory) and as a frame of each link type. A datagram
// found lies inside its frame, and every frame read is counted once.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "host/capture.h"
#include "host/frames.h"
#include "protocol/layout.h"

namespace {

using lxd::host::FrameKind;
using lxd::host::Link;

void Fail(const char* what) {
    std::fprintf(stderr, "fuzz_capture: %s\n", what);
    std::abort();
}

constexpr Link kLinks[] = {Link::kEthernet,     Link::kRawIp, Link::kLinuxCooked,
                           Link::kLinuxCooked2, Link::kNull,  Link::kLoop};

void CheckFrame(const std::uint8_t* frame, std::uint32_t length) {
    for (const Link link : kLinks) {
        lxd::host::UdpDatagram udp;
        lxd::host::Ipv4Fragment fragment;
        const FrameKind kind = lxd::host::FindUdpDatagram(link, frame, length, udp, &fragment);
        if (kind == FrameKind::kFragment &&
            (fragment.bytes < frame || fragment.bytes + fragment.size > frame + length)) {
            Fail("the fragment lies outside the frame");
        }
        if (kind != FrameKind::kUdp) {
            continue;
        }
        if (udp.payload < frame || udp.payload + udp.size > frame + length) {
            Fail("the payload lies outside the frame");
        }
        std::uint32_t sum = 0;  // touch every byte: ASan checks the reads
        for (std::uint32_t i = 0; i < udp.size; ++i) {
            sum += udp.payload[i];
        }
        if (sum > 255u * udp.size) {
            Fail("impossible payload sum");
        }
    }
}

void CheckCaptureFile(const std::uint8_t* data, std::size_t size) {
    std::FILE* const stream = fmemopen(const_cast<std::uint8_t*>(data), size, "rb");
    if (stream == nullptr) {
        return;
    }
    lxd::host::CaptureReader reader;
    std::string error;
    if (!reader.Open(stream, "input", error)) {
        if (error.empty()) {
            Fail("refused without a message");
        }
        return;
    }
    lxd::host::CapturedDatagram datagram;
    std::uint64_t found = 0;
    lxd::host::CaptureReader::Status status;
    while ((status = reader.Next(lxd::kIntakePort, datagram, error)) ==
           lxd::host::CaptureReader::Status::kDatagram) {
        ++found;
        if (datagram.udp.to.port != lxd::kIntakePort) {
            Fail("a datagram to another port came through");
        }
    }
    const lxd::host::CaptureCounts& c = reader.Counts();
    if (c.matched != found ||
        c.frames != c.matched - c.reassembled + c.otherPorts + c.fragments + c.ipv6 +
                        c.snapshotCut + c.other + c.malformed ||
        c.fragmentsUsed > c.fragments ||
        (c.reassembled > 0 && c.fragmentsUsed < 2 * c.reassembled)) {
        Fail("frames counted wrongly");
    }
    if (status == lxd::host::CaptureReader::Status::kError && error.empty()) {
        Fail("an error without a message");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // An exact-size copy: ASan reports any byte read past the frame.
    std::unique_ptr<std::uint8_t[]> frame(new std::uint8_t[size]);
    if (size != 0) {
        std::memcpy(frame.get(), data, size);
    }
    CheckFrame(frame.get(), static_cast<std::uint32_t>(size));
    CheckCaptureFile(data, size);
    return 0;
}

// Capture files through libpcap: writing UDP datagrams as frames with their
// times, and reading the UDP datagrams of a pcap or pcapng file back.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "host/frames.h"
#include "host/reassembly.h"

struct pcap;
struct pcap_dumper;

namespace lxd::host {

// Writes a pcap file of one link type.
class CaptureWriter {
  public:
    CaptureWriter() = default;
    ~CaptureWriter();
    CaptureWriter(const CaptureWriter&) = delete;
    CaptureWriter& operator=(const CaptureWriter&) = delete;

    // Creates (or replaces) `path`. On failure returns false with a message.
    bool Open(const std::string& path, Link link, std::string& error);
    // Appends one datagram stamped `microseconds` after the Unix epoch; false
    // when the payload cannot be framed.
    bool Write(std::int64_t microseconds, const UdpEndpoint& from, const UdpEndpoint& to,
               const std::uint8_t* payload, std::size_t size);
    // Appends one frame as it stands; a `wireLength` above `length` records
    // it as cut short by the snapshot length.
    bool WriteFrame(std::int64_t microseconds, const std::uint8_t* frame, std::size_t length,
                    std::size_t wireLength = 0);
    // Flushes and closes; false with a message when the file could not be
    // written whole.
    bool Close(std::string& error);

  private:
    pcap* pcap_ = nullptr;
    pcap_dumper* dumper_ = nullptr;
    Link link_ = Link::kEthernet;
    std::uint16_t identification_ = 0;
    std::vector<std::uint8_t> frame_;
};

// What a read pass over a capture has met so far.
struct CaptureCounts {
    std::uint64_t frames = 0;
    std::uint64_t matched = 0;        // UDP datagrams to the port asked for
    std::uint64_t reassembled = 0;    // of them, put together from IPv4 fragments
    std::uint64_t otherPorts = 0;     // UDP datagrams to other ports
    std::uint64_t fragments = 0;      // IPv4 fragment frames
    std::uint64_t fragmentsUsed = 0;  // of them, in a datagram to the port put together
    std::uint64_t ipv6 = 0;           // IPv6 UDP datagrams to the port asked for
    std::uint64_t snapshotCut = 0;    // frames cut by the snapshot length before the datagram's end
    std::uint64_t other = 0;          // neither IPv4 nor IPv6, or not UDP
    std::uint64_t malformed = 0;      // headers cut short or inconsistent
    std::string cutOff;               // set when the file ends inside its last record
};

struct CapturedDatagram {
    std::int64_t microseconds = 0;  // since the Unix epoch
    UdpDatagram udp;                // valid until the next call to Next
};

// Reads the UDP datagrams of a pcap or pcapng file.
class CaptureReader {
  public:
    CaptureReader() = default;
    ~CaptureReader();
    CaptureReader(const CaptureReader&) = delete;
    CaptureReader& operator=(const CaptureReader&) = delete;

    // Opens a file by path, or an open stream (which the reader then owns and
    // closes; `name` stands for it in messages). On failure returns false
    // with a one-line message.
    bool Open(const std::string& path, std::string& error);
    bool Open(std::FILE* stream, const std::string& name, std::string& error);

    enum class Status { kDatagram, kEnd, kError };
    // Reads on to the next UDP datagram to `port`, putting fragmented ones
    // together. A file that ends inside its last record ends there (kEnd,
    // with Counts().cutOff saying so); kError comes with a one-line message
    // (a damaged file).
    Status Next(std::uint16_t port, CapturedDatagram& out, std::string& error);

    const CaptureCounts& Counts() const { return counts_; }
    void Close();

  private:
    pcap* pcap_ = nullptr;
    Link link_ = Link::kEthernet;
    std::string name_;
    CaptureCounts counts_;
    Reassembler reassembler_;
};

}  // namespace lxd::host

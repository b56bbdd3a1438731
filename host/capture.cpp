#include "host/capture.h"

#include <pcap/pcap.h>

#include <cerrno>
#include <cstring>

namespace lxd::host {
namespace {

constexpr int kSnapshotLength = 262144;  // libpcap's largest

int DataLinkType(Link link) {
    switch (link) {
        case Link::kEthernet:
            return DLT_EN10MB;
        case Link::kLinuxCooked:
            return DLT_LINUX_SLL;
        case Link::kLinuxCooked2:
            return DLT_LINUX_SLL2;
        case Link::kRawIp:
            return DLT_RAW;
        case Link::kNull:
            return DLT_NULL;
        case Link::kLoop:
            return DLT_LOOP;
    }
    return DLT_EN10MB;
}

bool LinkOf(int dataLinkType, Link& link) {
    switch (dataLinkType) {
        case DLT_EN10MB:
            link = Link::kEthernet;
            return true;
        case DLT_LINUX_SLL:
            link = Link::kLinuxCooked;
            return true;
        case DLT_LINUX_SLL2:
            link = Link::kLinuxCooked2;
            return true;
        case DLT_RAW:
        case DLT_IPV4:
            link = Link::kRawIp;
            return true;
        case DLT_NULL:
            link = Link::kNull;
            return true;
        case DLT_LOOP:
            link = Link::kLoop;
            return true;
        default:
            return false;
    }
}

// libpcap's words for a file it cannot read, said the way a user looks at it.
std::string DescribeReadError(const std::string& name, const std::string& message) {
    if (message.find("unknown file format") != std::string::npos ||
        message.find("file header bytes, only got") != std::string::npos) {
        return name + ": not a pcap or pcapng capture file";
    }
    if (message.find("truncated") != std::string::npos) {
        return name + ": the capture is cut off (" + message + ")";
    }
    return name + ": " + message;
}

}  // namespace

CaptureWriter::~CaptureWriter() {
    std::string ignored;
    Close(ignored);
}

bool CaptureWriter::Open(const std::string& path, Link link, std::string& error) {
    Close(error);
    pcap_ = pcap_open_dead(DataLinkType(link), kSnapshotLength);
    if (pcap_ == nullptr) {
        error = "cannot start a capture of this link type";
        return false;
    }
    dumper_ = pcap_dump_open(pcap_, path.c_str());
    if (dumper_ == nullptr) {
        error = pcap_geterr(pcap_);
        pcap_close(pcap_);
        pcap_ = nullptr;
        return false;
    }
    link_ = link;
    identification_ = 0;
    frame_.resize(kMaxFrame);
    return true;
}

bool CaptureWriter::Write(std::int64_t microseconds, const UdpEndpoint& from, const UdpEndpoint& to,
                          const std::uint8_t* payload, std::size_t size) {
    if (dumper_ == nullptr) {
        return false;
    }
    const std::size_t length = BuildUdpFrame(link_, from, to, identification_++, payload, size,
                                             frame_.data(), frame_.size());
    return length != 0 && WriteFrame(microseconds, frame_.data(), length);
}

bool CaptureWriter::WriteFrame(std::int64_t microseconds, const std::uint8_t* frame,
                               std::size_t length, std::size_t wireLength) {
    if (dumper_ == nullptr || length > static_cast<std::size_t>(kSnapshotLength) ||
        wireLength > 0xFFFFFFFFu) {
        return false;
    }
    pcap_pkthdr header;
    std::memset(&header, 0, sizeof header);
    header.ts.tv_sec = static_cast<time_t>(microseconds / 1000000);
    header.ts.tv_usec = static_cast<suseconds_t>(microseconds % 1000000);
    header.caplen = static_cast<bpf_u_int32>(length);
    header.len = static_cast<bpf_u_int32>(wireLength > length ? wireLength : length);
    pcap_dump(reinterpret_cast<u_char*>(dumper_), &header, frame);
    return true;
}

bool CaptureWriter::Close(std::string& error) {
    bool ok = true;
    if (dumper_ != nullptr) {
        std::FILE* const file = pcap_dump_file(dumper_);
        if (pcap_dump_flush(dumper_) != 0 || std::ferror(file) != 0) {
            error = std::string("writing the capture failed: ") + std::strerror(errno);
            ok = false;
        }
        pcap_dump_close(dumper_);
        dumper_ = nullptr;
    }
    if (pcap_ != nullptr) {
        pcap_close(pcap_);
        pcap_ = nullptr;
    }
    return ok;
}

CaptureReader::~CaptureReader() {
    Close();
}

bool CaptureReader::Open(const std::string& path, std::string& error) {
    std::FILE* const stream = std::fopen(path.c_str(), "rb");
    if (stream == nullptr) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    return Open(stream, path, error);
}

bool CaptureReader::Open(std::FILE* stream, const std::string& name, std::string& error) {
    Close();
    name_ = name;
    counts_ = CaptureCounts{};
    char message[PCAP_ERRBUF_SIZE] = "";
    pcap_ = pcap_fopen_offline(stream, message);
    if (pcap_ == nullptr) {
        std::fclose(stream);
        error = DescribeReadError(name_, message);
        return false;
    }
    const int type = pcap_datalink(pcap_);
    if (!LinkOf(type, link_)) {
        const char* const typeName = pcap_datalink_val_to_name(type);
        error = name_ + ": link type " + (typeName != nullptr ? typeName : std::to_string(type)) +
                " is not handled (Ethernet, Linux cooked, raw IP and loopback are)";
        Close();
        return false;
    }
    return true;
}

CaptureReader::Status CaptureReader::Next(std::uint16_t port, CapturedDatagram& out,
                                          std::string& error) {
    if (pcap_ == nullptr) {
        error = "no capture is open";
        return Status::kError;
    }
    for (;;) {
        pcap_pkthdr* header = nullptr;
        const u_char* data = nullptr;
        const int result = pcap_next_ex(pcap_, &header, &data);
        if (result == PCAP_ERROR_BREAK) {
            return Status::kEnd;
        }
        if (result != 1) {
            const std::string message = pcap_geterr(pcap_);
            if (message.find("truncated") != std::string::npos) {
                counts_.cutOff = message;  // only the last record can be cut off
                return Status::kEnd;
            }
            error = DescribeReadError(name_, message);
            return Status::kError;
        }
        ++counts_.frames;
        UdpDatagram udp;
        Ipv4Fragment fragment;
        FrameKind kind = FindUdpDatagram(link_, data, header->caplen, udp, &fragment);
        if (kind == FrameKind::kFragment) {
            ++counts_.fragments;
            const std::uint8_t* payload = nullptr;
            std::uint32_t size = 0;
            if (!reassembler_.Add(fragment, payload, size)) {
                continue;
            }
            // A datagram to another port, or a broken one, stays counted as fragments.
            if (FindUdpInIpPayload(payload, size, fragment.from, fragment.to, udp) !=
                    FrameKind::kUdp ||
                udp.to.port != port) {
                continue;
            }
            ++counts_.reassembled;
            counts_.fragmentsUsed += reassembler_.Pieces();
            kind = FrameKind::kUdp;
        }
        switch (kind) {
            case FrameKind::kUdp:
                break;
            case FrameKind::kFragment:  // taken above
                continue;
            case FrameKind::kIpv6Udp:
                ++(udp.to.port == port ? counts_.ipv6 : counts_.otherPorts);
                continue;
            case FrameKind::kOther:
                ++counts_.other;
                continue;
            case FrameKind::kMalformed:
                ++(header->caplen < header->len ? counts_.snapshotCut : counts_.malformed);
                continue;
        }
        if (udp.to.port != port) {
            ++counts_.otherPorts;
            continue;
        }
        ++counts_.matched;
        out.microseconds =
            static_cast<std::int64_t>(header->ts.tv_sec) * 1000000 + header->ts.tv_usec;
        out.udp = udp;
        return Status::kDatagram;
    }
}

void CaptureReader::Close() {
    if (pcap_ != nullptr) {
        pcap_close(pcap_);
        pcap_ = nullptr;
    }
}

}  // namespace lxd::host

// sACN and Art-Net packets built field by field from the protocols' published
// layouts, independently of the bridge's own code. Every field can be set
// wrong on purpose.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace lxd::test {

using Bytes = std::vector<std::uint8_t>;

// An E1.31 data packet: root layer, framing layer, DMP layer.
struct SacnFields {
    std::uint16_t preambleSize = 0x0010;
    std::uint16_t postambleSize = 0;
    std::string identifier = std::string("ASC-E1.17\0\0\0", 12);
    std::uint8_t rootFlags = 0x7, framingFlags = 0x7, dmpFlags = 0x7;
    int rootLength = -1, framingLength = -1, dmpLength = -1;  // -1: the true length
    std::uint32_t rootVector = 0x00000004;
    std::uint32_t framingVector = 0x00000002;
    std::uint8_t cidByte = 1;  // the CID is 16 copies of it
    std::string sourceName = "Console";
    std::uint8_t priority = 100;
    std::uint16_t syncAddress = 0;
    std::uint8_t sequence = 0;
    std::uint8_t options = 0;  // 0x80 preview, 0x40 stream terminated
    std::uint16_t universe = 1;
    std::uint8_t dmpVector = 0x02;
    std::uint8_t addressType = 0xA1;
    std::uint16_t firstAddress = 0;
    std::uint16_t increment = 1;
    int valueCount = -1;  // -1: start code and slots
    std::uint8_t startCode = 0x00;
    Bytes slots = Bytes(512, 0);
    int keep = -1;  // >= 0: only the first `keep` bytes

    Bytes Build() const;
};

// An E1.31 synchronisation packet for synchronisation universe `address`
// (49 bytes; the CID is 16 copies of `cidByte`).
Bytes SacnSync(std::uint16_t address, std::uint8_t sequence = 0, std::uint8_t cidByte = 1,
               int framingLength = -1);
// One page of an E1.31 universe discovery packet: root layer, framing layer
// with the source's name, universe discovery layer with the list.
Bytes SacnDiscoveryPage(const std::vector<std::uint16_t>& universes, int page = 0, int lastPage = 0,
                        std::uint8_t cidByte = 1, const std::string& name = "Desk",
                        std::uint8_t listFlags = 0x7, std::uint32_t listVector = 1);

struct ArtDmxFields {
    std::string id = std::string("Art-Net\0", 8);
    std::uint16_t opCode = 0x5000;
    std::uint16_t version = 14;
    std::uint8_t sequence = 0;
    std::uint8_t physical = 0;
    std::uint16_t portAddress = 0;  // SubUni (low byte) and Net (high byte)
    int length = -1;                // -1: data.size()
    Bytes data = Bytes(512, 0);

    Bytes Build() const;
};

// ArtSync: OpCode 0x5200, version, two bytes of 0.
inline Bytes ArtSync(std::uint16_t version = 14) {
    return {'A',
            'r',
            't',
            '-',
            'N',
            'e',
            't',
            0,
            0x00,
            0x52,
            static_cast<std::uint8_t>(version >> 8),
            static_cast<std::uint8_t>(version),
            0,
            0};
}

struct ArtPollFields {
    std::uint16_t version = 14;
    std::uint8_t flags = 0;
    bool targeted = false;  // adds the Art-Net 4 target range
    std::uint16_t top = 0, bottom = 0;

    Bytes Build() const;
};

}  // namespace lxd::test

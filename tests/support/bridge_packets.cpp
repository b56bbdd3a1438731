#include "tests/support/bridge_packets.h"

#include <algorithm>

#include "protocol/pack.h"

namespace lxd::test {
namespace {

void PutFlagsLength(Bytes& b, std::size_t at, std::uint8_t flags, int length, std::size_t real) {
    WriteBig16(&b[at], static_cast<std::uint32_t>(flags) << 12 |
                           (static_cast<std::uint32_t>(length < 0 ? real : length) & 0x0FFF));
}

// The root layer of an extended packet of `size` bytes, and its framing flags
// and length.
Bytes Extended(std::size_t size, std::uint8_t cidByte, int framingLength) {
    SacnFields root;
    root.rootVector = 0x00000008;
    root.cidByte = cidByte;
    Bytes b = root.Build();
    b.resize(size);
    PutFlagsLength(b, 16, 0x7, -1, size - 16);
    PutFlagsLength(b, 38, 0x7, framingLength, size - 38);
    return b;
}

}  // namespace

Bytes SacnSync(std::uint16_t address, std::uint8_t sequence, std::uint8_t cidByte,
               int framingLength) {
    Bytes b = Extended(49, cidByte, framingLength);
    WriteBig32(&b[40], 0x00000001);
    b[44] = sequence;
    WriteBig16(&b[45], address);
    b[47] = b[48] = 0;
    return b;
}

Bytes SacnDiscoveryPage(const std::vector<std::uint16_t>& universes, int page, int lastPage,
                        std::uint8_t cidByte, const std::string& name, std::uint8_t listFlags,
                        std::uint32_t listVector) {
    Bytes b = Extended(120 + 2 * universes.size(), cidByte, -1);
    WriteBig32(&b[40], 0x00000002);
    std::fill(b.begin() + 44, b.begin() + 112, 0);
    std::copy(name.begin(), name.begin() + std::min<std::size_t>(64, name.size()), b.begin() + 44);
    PutFlagsLength(b, 112, listFlags, -1, b.size() - 112);
    WriteBig32(&b[114], listVector);
    b[118] = static_cast<std::uint8_t>(page);
    b[119] = static_cast<std::uint8_t>(lastPage);
    for (std::size_t i = 0; i < universes.size(); ++i) {
        WriteBig16(&b[120 + 2 * i], universes[i]);
    }
    return b;
}

Bytes SacnFields::Build() const {
    Bytes b(126 + slots.size(), 0);
    WriteBig16(&b[0], preambleSize);
    WriteBig16(&b[2], postambleSize);
    std::copy(identifier.begin(), identifier.begin() + 12, b.begin() + 4);
    PutFlagsLength(b, 16, rootFlags, rootLength, b.size() - 16);
    WriteBig32(&b[18], rootVector);
    std::fill(b.begin() + 22, b.begin() + 38, cidByte);
    PutFlagsLength(b, 38, framingFlags, framingLength, b.size() - 38);
    WriteBig32(&b[40], framingVector);
    std::copy(sourceName.begin(), sourceName.begin() + std::min<std::size_t>(64, sourceName.size()),
              b.begin() + 44);
    b[108] = priority;
    WriteBig16(&b[109], syncAddress);
    b[111] = sequence;
    b[112] = options;
    WriteBig16(&b[113], universe);
    PutFlagsLength(b, 115, dmpFlags, dmpLength, b.size() - 115);
    b[117] = dmpVector;
    b[118] = addressType;
    WriteBig16(&b[119], firstAddress);
    WriteBig16(&b[121], increment);
    WriteBig16(&b[123], static_cast<std::uint32_t>(valueCount < 0 ? slots.size() + 1 : valueCount));
    b[125] = startCode;
    std::copy(slots.begin(), slots.end(), b.begin() + 126);
    if (keep >= 0 && static_cast<std::size_t>(keep) < b.size()) {
        b.resize(static_cast<std::size_t>(keep));
    }
    return b;
}

Bytes ArtDmxFields::Build() const {
    Bytes b(18 + data.size(), 0);
    std::copy(id.begin(), id.end(), b.begin());
    WriteLittle16(&b[8], opCode);  // OpCode: low byte first
    WriteBig16(&b[10], version);
    b[12] = sequence;
    b[13] = physical;
    WriteLittle16(&b[14], portAddress);
    WriteBig16(&b[16], static_cast<std::uint32_t>(length < 0 ? data.size() : length));
    std::copy(data.begin(), data.end(), b.begin() + 18);
    return b;
}

Bytes ArtPollFields::Build() const {
    Bytes b{'A', 'r', 't', '-', 'N', 'e', 't', 0, 0x00, 0x20, 0, 0, flags, 0};
    WriteBig16(&b[10], version);
    if (targeted) {
        b.resize(22, 0);
        WriteBig16(&b[14], top);
        WriteBig16(&b[16], bottom);
    }
    return b;
}

}  // namespace lxd::test

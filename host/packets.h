// Moved: include tests/support/packets.h
#pragma once
#include "tests/support/packets.h"
namespace lxd::host {
using test::Block;
using test::BlockDatagram;
using test::BlockPacket;
using test::Bytes;
using test::CodedBlockData;
using test::LevelDatagram;
using test::LevelPacket;
}  // namespace lxd::host

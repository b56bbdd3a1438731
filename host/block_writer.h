// Moved: include protocol/block_writer.h
#pragma once
#include "protocol/block_writer.h"
namespace lxd::host {
using lxd::BlockWriter;
}  // namespace lxd::host

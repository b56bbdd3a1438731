// Counts every heap allocation the bench program makes (operator new and the
// C allocation functions), so that a bench can prove a hot path allocates
// nothing.
#pragma once

#include <cstdint>

namespace lxd::bench {

// Allocations since the program started.
std::uint64_t Allocations();

// Allocations counted inside benchmark loops; a bench adds its loop's count
// here and main() fails the run when it is not 0.
void AddHotPathAllocations(std::uint64_t count);
std::uint64_t HotPathAllocations();

}  // namespace lxd::bench

// Merging the sources of one universe into the levels of one driver port.
#pragma once

#include <chrono>
#include <cstdint>

#include "tools/bridge/mapping.h"

namespace lxd::bridge {

// Time on a steady clock, from any fixed point; passed in so that tests set it.
using Millis = std::chrono::milliseconds;

// One live source's levels (512) and how strongly it holds each channel:
// per-channel priorities (512, 0 = this source does not drive the channel)
// where it sends them, otherwise one priority for all channels.
struct MergeInput {
    const std::uint8_t* levels;
    const std::uint8_t* priorities;  // null: `priority` for every channel
    std::uint8_t priority;
};

// Channel by channel, the highest priority wins and equal priorities take the
// highest level. Channels no input drives are 0.
void MergeLevels(const MergeInput* inputs, int count, std::uint8_t* out);

// The merged levels of one universe and whether they changed since the
// forwarder last took them.
class MergedOutput {
  public:
    // With `hold`, losing the last source keeps the last levels; otherwise
    // they fall to 0.
    explicit MergedOutput(bool hold = true) : hold_(hold) {}

    // Merges `count` inputs (none: the last source was lost).
    void Update(const MergeInput* inputs, int count);
    // True once after each change of the levels.
    bool TakeChange();
    void SetHold(bool hold) { hold_ = hold; }
    const std::uint8_t* Levels() const { return levels_; }

  private:
    std::uint8_t levels_[kChannels] = {};
    bool hold_;
    bool changed_ = false;
};

// A source name or address as text safe to print: valid UTF-8, no control
// characters (each bad byte becomes '?'), at most `size` - 1 bytes of `text`
// up to its first NUL.
void CopyPrintable(const std::uint8_t* text, std::size_t length, char* out, std::size_t size);

}  // namespace lxd::bridge

// Whole looks through the bridge: the span of a synchronisation's burst at a
// receiving socket, the torn fraction at a host reading the real driver while
// synchronised universes arrive spread over each frame, and the delays the
// synchronisation rules allow. Run in a network namespace of the bench's own
// (root): the driver's UDP 2501 and the protocols' ports are taken there.
#pragma once

namespace lxd::bench {

// Runs the measurements, prints them and writes them as JSON to `path` (when
// given) for bench/run.sh. Without a namespace of its own (`own` false) it
// measures only the burst span. False when a measurement failed to run.
bool MeasureSync(bool own, const char* path);

}  // namespace lxd::bench

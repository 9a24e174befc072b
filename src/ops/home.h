// Homing: the controller runs each axis's sequence itself; the plugin counts
// what is outstanding, and the cycle completes it from the status frames.
#pragma once

#include <cstdint>

namespace veltra::ops {

struct HomingState {
  std::int32_t HomesPending = 0;  // homing commands not yet reported finished
  std::uint16_t HomedMask = 0;    // bit a: axis a finished since homing began
};

HomingState& Homing();

// The host references one axis; axes outside X..C are ignored.
void Home(std::int16_t axis);
// Starts the controller's homing sequence of the axis, or its verify run
// while the host verifies, and counts it as outstanding.
void StartHome(std::int16_t axis);

// Ends all homing: the counters and the host's homing flags.
void CancelHoming();

}  // namespace veltra::ops

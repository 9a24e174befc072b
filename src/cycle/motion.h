// The state of motion streaming that the cycle, the host events and the
// operations share: the record count on the wire, the positions last sent,
// the dwell countdown, the arc wait, the synchronised motion state and the
// plugin's spindle flag.
#pragma once

#include <array>
#include <cstdint>

namespace veltra::cycle {

inline constexpr int kMotionAxes = 6;

struct MotionState {
  // Records sent, modulo 65536; the controller restarts its count of
  // records received at the same moments this restarts at 0.
  std::uint16_t MotionSequence = 0;
  std::array<double, kMotionAxes> LastSentPosition{};
  std::int32_t DwellTicks = 0;  // 25 ms ticks
  // A torch start in plasma mode holds motion until the arc is on.
  bool ArcWait = false;
  // 0 none; 1 synchronised motion announced by the host; 2..7 rigid tapping.
  std::int32_t SyncedMotionState = 0;
  bool SpindleRunning = false;  // the plugin started the spindle
  // A motion phase ended: the next idle frame takes the host's positions as
  // the positions last sent.
  bool MotionSyncPending = false;
};

MotionState& Motion();

// The positions last sent become the host's axis positions, and the host is
// told so.
void Resynchronise();

}  // namespace veltra::cycle

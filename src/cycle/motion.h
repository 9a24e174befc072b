// Motion streaming: the host's trajectory queue and the plugin's own planned
// moves go to the controller as motion records, never more than its buffer
// can take. Also the state the cycle, the host events and the operations
// share: the record count on the wire, the positions last sent, the dwell
// countdown, the arc wait, the synchronised motion state and the plugin's
// spindle flag.
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
  // The tap in progress: a negative pitch taps in reverse; the speed for the
  // way out.
  bool TapReverse = false;
  double TapSpeedOut = 0.0;
  bool SpindleRunning = false;  // the plugin started the spindle
  // A motion phase ended: the next idle frame takes the host's positions as
  // the positions last sent.
  bool MotionSyncPending = false;
};

MotionState& Motion();

// Entries of the host's trajectory ring.
inline constexpr int kTrajectoryEntries = 4096;

// The streaming step of a tick: the dwell countdown, then at most one batch
// of the plugin's planned move or of the host's queue. The cycle runs it out
// of e-stop and once no probe hit delay runs.
void StreamMotion();

// The positions last sent become the host's axis positions, and the host is
// told so.
void Resynchronise();

}  // namespace veltra::cycle

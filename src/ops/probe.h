// Probing: the plugin plans the straight probe move itself and streams it;
// the controller stops it at contact, and the cycle ends it from the status
// frames.
#pragma once

#include <array>
#include <cstdint>

namespace veltra::ops {

using AxisVector = std::array<double, 6>;

// The host's button for a probe that cannot start or ends without contact,
// and its user variables 2000..2005 that take the contact position in work
// coordinates.
inline constexpr std::int32_t kButtonProbeFailed = 1003;
inline constexpr int kUserVariableProbeContact = 2000;

// The plugin's own source of straight moves, streamed like host motion: one
// trapezoidal move along a line, sampled every millisecond.
struct StraightMovePlanner {
  // Inputs of the planning, host units, machine coordinates.
  AxisVector start{};
  AxisVector end{};
  double feed = 0.0;  // units per second
  AxisVector maxVelocity{};
  AxisVector acceleration{};
  AxisVector scale{};  // steps per unit
  // Results.
  AxisVector r{};                   // velocity vector, units per second
  AxisVector accelerationVector{};  // units per second squared
  double ta = 0.0;                  // acceleration time, s (deceleration as long)
  double tc = 0.0;                  // cruise time, s
  double tt = 0.0;                  // total time, s
  double a = 0.0;                   // path acceleration
  double v = 0.0;                   // path velocity
  double sa = 0.0;                  // acceleration distance
  double st = 0.0;                  // total distance
  double t = 0.0;                   // elapsed time, s

  bool PlannerActive = false;   // a planned move is being streamed
  bool PlannerStopped = false;  // the move was ended

  // Plans the move from start to end at the feed, within the host's limits
  // of axes 0..3, and starts it; false, with nothing changed, for a move
  // that cannot be made (no distance along X, Y, Z or A, no feed, a zero
  // limit).
  bool Plan(const AxisVector& from, const AxisVector& to, double pathFeed);
  // The next millisecond of the move in steps; false at its end.
  bool NextSample(AxisVector& steps);
};

StraightMovePlanner& ThePlanner();

// Ends the probe move at once: the planner stops and no axis probes.
void StopProbeMove();

// The host's straight probing move to the target it stored: planned here,
// streamed by the cycle, stopped by the controller at contact.
void Probe();

// The position lies beyond a soft limit of an enabled axis among X, Y, Z
// and A; a position on a limit is inside.
bool OutsideSoftLimits(const AxisVector& position);

}  // namespace veltra::ops

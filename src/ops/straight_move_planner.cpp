#include <algorithm>
#include <cmath>
#include <limits>

#include "ops/probe.h"
#include "plugin/host_blocks.h"

namespace veltra::ops {
namespace {

double Length(const AxisVector& x) {
  double sum = 0.0;
  for (double c : x) sum += c * c;
  return std::sqrt(sum);
}

AxisVector Scaled(const AxisVector& x, double k) {
  AxisVector y{};
  for (std::size_t i = 0; i < x.size(); ++i) y[i] = x[i] * k;
  return y;
}

// The largest factor under which none of axes 0..3 exceeds its limit at
// the rates r; an axis that does not move never limits.
double LimitFactor(const AxisVector& limit, const AxisVector& r) {
  double k = std::numeric_limits<double>::infinity();
  for (int i = 0; i < 4; ++i) {
    if (r[i] != 0.0) k = std::min(k, limit[i] / std::fabs(r[i]));
  }
  return k;
}

}  // namespace

// The move is planned aside and taken only when it can be made: a target
// at the start, a move of B or C alone, no feed or a zero limit leave no
// finite velocity, acceleration or duration, and a feed below zero would
// run the line backwards. The move in progress, if any, stays as it was.
bool StraightMovePlanner::Plan(const AxisVector& from, const AxisVector& to, double pathFeed) {
  StraightMovePlanner move;
  move.start = from;
  move.end = to;
  move.feed = pathFeed;
  for (int i = 0; i < 6; ++i) {
    move.maxVelocity[i] = PlannerBlock::AxisMaxVelocity.Get(i);
    move.acceleration[i] = PlannerBlock::AxisAcceleration.Get(i);
    move.scale[i] = PlannerBlock::AxisStepsPerUnit.Get(i);
  }
  AxisVector distance{};
  for (int i = 0; i < 6; ++i) distance[i] = move.end[i] - move.start[i];
  const double length = Length(distance);

  move.r = Scaled(distance, move.feed / length);
  const double k = LimitFactor(move.maxVelocity, move.r);
  if (k < 1.0) move.r = Scaled(move.r, k);
  move.accelerationVector = Scaled(move.r, LimitFactor(move.acceleration, move.r));

  move.v = Length(move.r);
  move.a = Length(move.accelerationVector);
  move.ta = move.v / move.a;
  AxisVector ramp = Scaled(move.accelerationVector, 0.5 * move.ta * move.ta);
  if (length * 0.5 < Length(ramp)) {
    // Too short to reach the velocity: accelerate half way, then decelerate.
    ramp = Scaled(distance, 0.5);
    move.ta = std::sqrt(length / move.a);
  }
  AxisVector cruise{};
  for (int i = 0; i < 6; ++i) cruise[i] = distance[i] - 2.0 * ramp[i];
  move.tc = Length(cruise) / move.v;
  move.tt = 2.0 * move.ta + move.tc;
  move.sa = 0.5 * move.a * move.ta * move.ta;
  move.st = move.v * move.tc + move.a * move.ta * move.ta;

  const bool feasible = move.feed > 0.0 && std::isfinite(move.v) && move.v > 0.0 && std::isfinite(move.a) &&
                        move.a > 0.0 && std::isfinite(move.tt) && std::isfinite(move.st);
  if (!feasible) return false;
  move.t = 0.0;
  move.PlannerActive = true;
  move.PlannerStopped = false;
  *this = move;
  return true;
}

bool StraightMovePlanner::NextSample(AxisVector& steps) {
  if (t > tt) {
    PlannerActive = false;
    return false;
  }
  double s = 0.0;
  if (t < ta) {
    s = a * t * t / 2.0;
  } else if (t < ta + tc) {
    s = (t - ta) * v + sa;
  } else {
    s = st - a * (tt - t) * (tt - t) / 2.0;
  }
  AxisVector position = start;
  for (int i = 0; i < 4; ++i) position[i] = start[i] + s / v * r[i];
  for (int i = 0; i < 6; ++i) steps[i] = position[i] * scale[i];
  t += 0.001;
  return true;
}

}  // namespace veltra::ops

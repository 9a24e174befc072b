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

// The caller makes sure at least one of axes 0..3 moves; the move would
// otherwise have no length or no limit.
void StraightMovePlanner::Plan(const AxisVector& from, const AxisVector& to, double pathFeed) {
  start = from;
  end = to;
  feed = pathFeed;
  for (int i = 0; i < 6; ++i) {
    maxVelocity[i] = PlannerBlock::AxisMaxVelocity.Get(i);
    acceleration[i] = PlannerBlock::AxisAcceleration.Get(i);
    scale[i] = PlannerBlock::AxisStepsPerUnit.Get(i);
  }
  AxisVector distance{};
  for (int i = 0; i < 6; ++i) distance[i] = end[i] - start[i];
  const double length = Length(distance);

  r = Scaled(distance, feed / length);
  const double k = LimitFactor(maxVelocity, r);
  if (k < 1.0) r = Scaled(r, k);
  accelerationVector = Scaled(r, LimitFactor(acceleration, r));

  v = Length(r);
  a = Length(accelerationVector);
  ta = v / a;
  AxisVector ramp = Scaled(accelerationVector, 0.5 * ta * ta);
  if (length * 0.5 < Length(ramp)) {
    // Too short to reach the velocity: accelerate half way, then decelerate.
    ramp = Scaled(distance, 0.5);
    ta = std::sqrt(length / a);
  }
  AxisVector cruise{};
  for (int i = 0; i < 6; ++i) cruise[i] = distance[i] - 2.0 * ramp[i];
  tc = Length(cruise) / v;
  tt = 2.0 * ta + tc;
  sa = 0.5 * a * ta * ta;
  st = v * tc + a * ta * ta;

  t = 0.0;
  PlannerActive = true;
  PlannerStopped = false;
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

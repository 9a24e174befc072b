#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "ops/probe.h"
#include "plugin/host_blocks.h"
#include "plugin_fixture.h"

namespace veltra::ops {
namespace {

using veltra::testing::PluginTest;

constexpr double kTolerance = 1e-9;

struct Limits {
  AxisVector maxVelocity;
  AxisVector acceleration;
  AxisVector stepsPerUnit;
};

void SetHostLimits(const Limits& limits) {
  for (int a = 0; a < 6; ++a) {
    PlannerBlock::AxisMaxVelocity.Set(a, limits.maxVelocity[a]);
    PlannerBlock::AxisAcceleration.Set(a, limits.acceleration[a]);
    PlannerBlock::AxisStepsPerUnit.Set(a, limits.stepsPerUnit[a]);
  }
}

const Limits kXLimits{{5, 100, 100, 100, 100, 100}, {1, 100, 100, 100, 100, 100}, {100, 100, 100, 100, 100, 100}};

struct PlanCase {
  const char* name;
  Limits limits;
  AxisVector end;  // from the origin
  double feed;
  AxisVector r;
  AxisVector accelerationVector;
  double ta, tc, tt, sa, st;
};

TEST_F(PluginTest, APlannedMoveRampsCruisesAndRampsWithinTheAxisLimits) {
  const double root2 = std::sqrt(2.0);
  const PlanCase cases[] = {
      {"CruisesBetweenTheRamps",
       kXLimits,
       {10, 0, 0, 0, 0, 0},
       2.0,
       {2, 0, 0, 0, 0, 0},
       {1, 0, 0, 0, 0, 0},
       2.0,
       3.0,
       7.0,
       2.0,
       10.0},
      {"TooShortToReachTheFeed",
       kXLimits,
       {2, 0, 0, 0, 0, 0},
       2.0,
       {2, 0, 0, 0, 0, 0},
       {1, 0, 0, 0, 0, 0},
       root2,
       0.0,
       2 * root2,
       1.0,
       2.0},
      // X allows 3 units/s of the 7.07 the feed asks of each axis: both
      // slow down together and the direction stays.
      {"DiagonalLimitedByX",
       {{3, 100, 100, 100, 100, 100}, {1, 1, 100, 100, 100, 100}, {100, 100, 100, 100, 100, 100}},
       {10, 10, 0, 0, 0, 0},
       10.0,
       {3, 3, 0, 0, 0, 0},
       {1, 1, 0, 0, 0, 0},
       3.0,
       1.0 / 3.0,
       6.0 + 1.0 / 3.0,
       4.5 * root2,
       10 * root2},
      // B is never limited: the move's speed is set by X alone.
      {"BFollowsAtTheRateOfTheLine",
       {{1, 100, 100, 100, 0.001, 100}, {1, 100, 100, 100, 0.001, 100}, {100, 100, 100, 100, 100, 100}},
       {3, 0, 0, 0, 4, 0},
       5.0,
       {1, 0, 0, 0, 4.0 / 3.0, 0},
       {1, 0, 0, 0, 4.0 / 3.0, 0},
       1.0,
       2.0,
       4.0,
       5.0 / 6.0,
       5.0},
  };
  for (const PlanCase& c : cases) {
    SetHostLimits(c.limits);
    StraightMovePlanner move;
    ASSERT_TRUE(move.Plan({}, c.end, c.feed)) << c.name;
    for (int a = 0; a < 6; ++a) {
      EXPECT_NEAR(move.r[a], c.r[a], kTolerance) << c.name << " axis " << a;
      EXPECT_NEAR(move.accelerationVector[a], c.accelerationVector[a], kTolerance) << c.name << " axis " << a;
    }
    EXPECT_NEAR(move.ta, c.ta, kTolerance) << c.name;
    EXPECT_NEAR(move.tc, c.tc, kTolerance) << c.name;
    EXPECT_NEAR(move.tt, c.tt, kTolerance) << c.name;
    EXPECT_NEAR(move.sa, c.sa, kTolerance) << c.name;
    EXPECT_NEAR(move.st, c.st, kTolerance) << c.name;
    EXPECT_EQ(move.t, 0.0) << c.name;
    EXPECT_TRUE(move.PlannerActive) << c.name;
    EXPECT_FALSE(move.PlannerStopped) << c.name;
    EXPECT_EQ(move.scale[0], 100.0) << c.name;
  }
}

TEST_F(PluginTest, SamplesFollowTheTrapezoidEveryMillisecondInSteps) {
  SetHostLimits(kXLimits);
  StraightMovePlanner move;
  move.PlannerStopped = true;
  ASSERT_TRUE(move.Plan({1, 2, 0, 0, 4, -1}, {11, 2, 0, 0, 4, -1}, 2.0));
  std::vector<AxisVector> samples;
  AxisVector sample{};
  while (move.NextSample(sample)) {
    samples.push_back(sample);
    ASSERT_LT(samples.size(), 10000u) << "the move never ends";
  }
  EXPECT_FALSE(move.PlannerActive);
  ASSERT_GE(samples.size(), 7000u);

  const struct {
    std::size_t millisecond;
    double x;  // units from the start
  } points[] = {{0, 0.0}, {1000, 0.5}, {2000, 2.0}, {4000, 6.0}, {6500, 9.875}};
  for (const auto& point : points) {
    EXPECT_NEAR(samples[point.millisecond][0], (1 + point.x) * 100, 1e-6) << point.millisecond << " ms";
  }
  EXPECT_NEAR(samples.back()[0], 1100.0, 1e-3);
  for (const AxisVector& s : samples) {
    EXPECT_EQ(s[1], 200.0);
    EXPECT_EQ(s[4], 400.0);
    EXPECT_EQ(s[5], -100.0);
  }
}

TEST_F(PluginTest, AMoveThatCannotBeMadeIsNotPlannedAndLeavesTheCurrentOne) {
  const struct {
    const char* name;
    AxisVector end;
    double feed;
    int zeroLimitAxis;  // -1 none
    bool zeroAcceleration;
  } cases[] = {
      {"TargetIsTheStart", {1, 1, 1, 1, 1, 1}, 2.0, -1, false},
      {"OnlyBAndCMove", {1, 1, 1, 1, 5, 7}, 2.0, -1, false},
      {"NoFeed", {5, 1, 1, 1, 1, 1}, 0.0, -1, false},
      {"NegativeFeed", {5, 1, 1, 1, 1, 1}, -2.0, -1, false},
      {"NoVelocityOnX", {5, 1, 1, 1, 1, 1}, 2.0, 0, false},
      {"NoAccelerationOnX", {5, 1, 1, 1, 1, 1}, 2.0, 0, true},
      {"NotANumber", {std::nan(""), 1, 1, 1, 1, 1}, 2.0, -1, false},
  };
  for (const auto& c : cases) {
    SetHostLimits(kXLimits);
    StraightMovePlanner move;
    ASSERT_TRUE(move.Plan({}, {10, 0, 0, 0, 0, 0}, 2.0));
    move.t = 1.5;
    const StraightMovePlanner before = move;
    if (c.zeroLimitAxis >= 0) {
      (c.zeroAcceleration ? PlannerBlock::AxisAcceleration : PlannerBlock::AxisMaxVelocity).Set(c.zeroLimitAxis, 0.0);
    }
    EXPECT_FALSE(move.Plan({1, 1, 1, 1, 1, 1}, c.end, c.feed)) << c.name;
    EXPECT_EQ(move.end, before.end) << c.name;
    EXPECT_EQ(move.tt, before.tt) << c.name;
    EXPECT_EQ(move.t, before.t) << c.name;
    EXPECT_TRUE(move.PlannerActive) << c.name;
  }
}

}  // namespace
}  // namespace veltra::ops

#include "ops/probe.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <vector>

#include "config/config_record.h"
#include "controller_fixture.h"
#include "cycle/status_rules.h"
#include "link/command_table.h"
#include "ops/operation_commands.h"
#include "plugin/host_blocks.h"
#include "plugin_fixture.h"

namespace veltra::ops {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using veltra::testing::PluginTest;
using Bytes = std::vector<std::uint8_t>;

constexpr const char* kSoftLimitText = "Probe move outside of soft limits. Operation aborted.";

// The machine stands at X 10 (work), Y 3.5, Z -1.25 with X's work offset 1;
// the target is X 0, so the move is 10 units towards minus X at 2.5 units/s.
void PrepareHost() {
  EngineBlock::InputSignalEnabled.Set(cycle::kInputProbe, 1);
  const AxisVector work{10, 3.5, -1.25, 0, 0, 0};
  const AxisVector target{0, 3.5, -1.25, 0, 0, 0};
  for (int a = 0; a < 6; ++a) {
    PlannerBlock::AxisStepsPerUnit.Set(a, 1000.0);
    PlannerBlock::AxisMaxVelocity.Set(a, 5.0);
    PlannerBlock::AxisAcceleration.Set(a, 1.0);
    EngineBlock::AxisWorkPosition.Set(a, work[a]);
    PlannerBlock::ProbeTarget.Set(a, target[a]);
    EngineBlock::AxisEnabled.Set(a, 1);
  }
  SetupBlock::AxisWorkOffset.Set(0, 1.0);
  PlannerBlock::FeedRate.Set(5.0);
  PlannerBlock::FeedPercent.Set(50.0);
  PlannerBlock::MotionIdle.Set(1);
  config::Uploaded().SoftLimitMin.fill(-100.0);
  config::Uploaded().SoftLimitMax.fill(100.0);
}

class ProbeTest : public veltra::testing::OnlinePluginTest {
 protected:
  void SetUp() override {
    StartPlugin();
    GoOnline();
    PrepareHost();
  }
  std::vector<ProbeLimits> ProbeCommands() {
    std::vector<ProbeLimits> sent;
    for (const auto& command : Received(link::CMD_PROBE)) {
      EXPECT_EQ(command.payload.size(), probe_payload::kSize);
      if (command.payload.size() != probe_payload::kSize) continue;
      sent.push_back(DecodeProbeLimits(std::as_bytes(
          std::span<const std::uint8_t, probe_payload::kSize>(command.payload.data(), probe_payload::kSize))));
    }
    return sent;
  }
};

TEST_F(ProbeTest, PlansTheMoveMarksTheAxesAndSendsItsRates) {
  // Acceleration in the controller's scale: 1.23456e9 units/s^2 at 1000
  // steps per unit is worth 123.
  PlannerBlock::AxisAcceleration.Set(0, 1.23456e9);
  host.Plugin().Probe();
  EXPECT_EQ(host.StatusLine(), "Probe to (0.000000,3.500000,-1.250000,0.000000)");
  const StraightMovePlanner& move = ThePlanner();
  EXPECT_TRUE(move.PlannerActive);
  EXPECT_EQ(move.start[0], 11.0);
  EXPECT_EQ(move.end[0], 1.0);
  EXPECT_EQ(move.r[0], -2.5);
  for (int a = 0; a < 6; ++a) EXPECT_EQ(EngineBlock::AxisProbing.Get(a), 1) << a;
  EXPECT_EQ(EngineBlock::AxisProbeDistance.Get(0), -10000);
  EXPECT_EQ(EngineBlock::AxisProbeDistance.Get(1), 0);
  EXPECT_EQ(PlannerBlock::MotionIdle.Get(), 0);

  const auto commands = Received(link::CMD_PROBE);
  ASSERT_EQ(commands.size(), 1u);
  // -25,000,000 in 1/10000 steps per second, little-endian, at the
  // velocity of X.
  const Bytes velocityX(commands[0].payload.begin() + 24, commands[0].payload.begin() + 28);
  EXPECT_THAT(velocityX, ElementsAre(0xC0, 0x87, 0x82, 0xFE));
  ProbeLimits expected;
  expected.Acceleration[0] = 123;
  expected.Velocity[0] = -25'000'000;
  EXPECT_EQ(DecodeProbeLimits(std::as_bytes(
                std::span<const std::uint8_t, probe_payload::kSize>(commands[0].payload.data(), probe_payload::kSize))),
            expected);
  EXPECT_THAT(host.ButtonPresses(), IsEmpty());
}

TEST_F(ProbeTest, AFollowingAxisSendsItsMastersRates) {
  // X, Y and B move, so every axis has rates of its own to lose.
  PlannerBlock::ProbeTarget.Set(1, 8.5);
  PlannerBlock::ProbeTarget.Set(4, 3.0);
  PlannerBlock::AxisAcceleration.Set(0, 1e9);
  PlannerBlock::AxisAcceleration.Set(1, 1e9);
  host.Plugin().Probe();
  const auto own = ProbeCommands();
  ASSERT_EQ(own.size(), 1u);
  ASSERT_NE(own[0].Velocity[4], 0);
  ASSERT_NE(own[0].Acceleration[1], 0);

  const struct {
    const char* name;
    std::array<std::uint8_t, 3> slaveOf;  // of A, B and C: master + 1
    std::array<int, 3> ratesFrom;         // the axis whose rates each sends
  } cases[] = {
      {"Independent", {0, 0, 0}, {3, 4, 5}},           {"AFollowsX", {1, 0, 0}, {0, 4, 5}},
      {"BFollowsYAndCFollowsZ", {0, 2, 3}, {3, 1, 2}}, {"CFollowsBWhichFollowsX", {0, 1, 5}, {3, 0, 0}},
      {"NoSuchMaster", {9, 255, 0}, {3, 4, 5}},
  };
  for (const auto& c : cases) {
    for (int i = 0; i < 3; ++i) config::TheConfigRecord().Set(config::AxisConfig::SlaveOf, 3 + i, c.slaveOf[i]);
    host.Plugin().Probe();
    const auto sent = ProbeCommands();
    ASSERT_EQ(sent.size(), 1u) << c.name;
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(sent[0].Acceleration[3 + i], own[0].Acceleration[c.ratesFrom[i]]) << c.name << " axis " << 3 + i;
      EXPECT_EQ(sent[0].Velocity[3 + i], own[0].Velocity[c.ratesFrom[i]]) << c.name << " axis " << 3 + i;
    }
    for (int a = 0; a < 3; ++a) {
      EXPECT_EQ(sent[0].Acceleration[a], own[0].Acceleration[a]) << c.name;
      EXPECT_EQ(sent[0].Velocity[a], own[0].Velocity[a]) << c.name;
    }
  }
}

TEST_F(ProbeTest, RatesBeyondTheRangeSaturate) {
  PlannerBlock::AxisStepsPerUnit.Set(0, 1e12);
  host.Plugin().Probe();
  const auto sent = ProbeCommands();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].Velocity[0], std::numeric_limits<std::int32_t>::min());
}

struct RefusalCase {
  const char* name;
  std::function<void()> change;
  const char* status;
};

TEST_F(ProbeTest, ARequestThatCannotStartPressesTheButtonAndSendsNothing) {
  const RefusalCase cases[] = {
      {"ProbeInputOff", [] { EngineBlock::InputSignalEnabled.Set(cycle::kInputProbe, 0); },
       "Probe called but not turned on."},
      {"StartBeyondTheMaximum",
       [] {
         EngineBlock::SoftLimitsOn.Set(1);
         config::Uploaded().SoftLimitMax[0] = 10.5;  // the start is 11
       },
       kSoftLimitText},
      {"TargetBelowTheMinimum",
       [] {
         EngineBlock::SoftLimitsOn.Set(1);
         config::Uploaded().SoftLimitMin[0] = 2.0;  // the end is 1
       },
       kSoftLimitText},
      {"TargetIsThePosition", [] { PlannerBlock::ProbeTarget.Set(0, 10.0); }, kSoftLimitText},
      {"OnlyBWouldMove",
       [] {
         PlannerBlock::ProbeTarget.Set(0, 10.0);
         PlannerBlock::ProbeTarget.Set(4, 5.0);
       },
       kSoftLimitText},
      {"NoFeed", [] { PlannerBlock::FeedPercent.Set(0.0); }, kSoftLimitText},
  };
  for (const RefusalCase& c : cases) {
    PrepareHost();
    EngineBlock::SoftLimitsOn.Set(0);
    c.change();
    const std::vector<std::int32_t> pressedBefore = host.ButtonPresses();
    host.Plugin().Probe();
    EXPECT_EQ(host.StatusLine(), c.status) << c.name;
    const std::vector<std::int32_t> pressed(host.ButtonPresses().begin() + pressedBefore.size(),
                                            host.ButtonPresses().end());
    EXPECT_THAT(pressed, ElementsAre(1003)) << c.name;
    EXPECT_THAT(Received(), IsEmpty()) << c.name;
    EXPECT_FALSE(ThePlanner().PlannerActive) << c.name;
    EXPECT_EQ(EngineBlock::AxisProbing.Get(0), 0) << c.name;
    EXPECT_EQ(EngineBlock::AxisProbeDistance.Get(0), 0) << c.name;
    EXPECT_EQ(PlannerBlock::MotionIdle.Get(), 1) << c.name;
  }
}

TEST_F(ProbeTest, SoftLimitsOffLetAnyMoveStart) {
  config::Uploaded().SoftLimitMax.fill(0.0);
  config::Uploaded().SoftLimitMin.fill(0.0);
  host.Plugin().Probe();
  EXPECT_EQ(ProbeCommands().size(), 1u);
  EXPECT_TRUE(ThePlanner().PlannerActive);
}

TEST_F(PluginTest, SoftLimitsAreComparedOnEnabledAxesXToAOnly) {
  config::Uploaded().SoftLimitMin = {-1, -1, -1, -1, -1, -1};
  config::Uploaded().SoftLimitMax = {1, 1, 1, 1, 1, 1};
  const struct {
    const char* name;
    AxisVector position;
    int disabledAxis;  // -1 none
    bool outside;
  } cases[] = {
      {"Inside", {0, 0, 0, 0, 0, 0}, -1, false},
      {"OnTheLimits", {1, -1, 1, -1, 0, 0}, -1, false},
      {"XBeyondTheMaximum", {1.000001, 0, 0, 0, 0, 0}, -1, true},
      {"ABelowTheMinimum", {0, 0, 0, -1.5, 0, 0}, -1, true},
      {"ZBeyondButDisabled", {0, 0, 7, 0, 0, 0}, 2, false},
      {"YBeyondWhileZIsDisabled", {0, 7, 0, 0, 0, 0}, 2, true},
      {"BAndCNeverCompared", {0, 0, 0, 0, 50, -50}, -1, false},
  };
  for (const auto& c : cases) {
    for (int a = 0; a < 6; ++a) EngineBlock::AxisEnabled.Set(a, a == c.disabledAxis ? 0 : 1);
    EXPECT_EQ(OutsideSoftLimits(c.position), c.outside) << c.name;
  }
}

TEST_F(PluginTest, OfflineTheProbeIsPlannedAndNothingIsSaid) {
  StartPlugin();
  PrepareHost();
  host.Plugin().Probe();
  EXPECT_TRUE(ThePlanner().PlannerActive);
  EXPECT_EQ(EngineBlock::AxisProbing.Get(2), 1);
  EXPECT_THAT(boxes.Texts(), IsEmpty());
  EXPECT_EQ(host.StatusLine(), "Probe to (0.000000,3.500000,-1.250000,0.000000)");
}

}  // namespace
}  // namespace veltra::ops

#include "ops/jog.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "controller_fixture.h"
#include "cycle/cycle.h"
#include "cycle/status_record.h"
#include "link/command_table.h"
#include "link/controller_socket.h"
#include "plugin/host_blocks.h"

namespace veltra::ops {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Bytes = std::vector<std::uint8_t>;

class JogTest : public veltra::testing::OnlinePluginTest {
 protected:
  void SetUp() override {
    StartPlugin();
    GoOnline();
    for (int a = 0; a < kJogAxes; ++a) {
      PlannerBlock::AxisMaxVelocity.Set(a, 2.0);
      PlannerBlock::AxisStepsPerUnit.Set(a, 1000.0);
    }
    SetupBlock::JogPercent.Set(50.0);
    PlannerBlock::MotionIdle.Set(1);
  }
  void JogOn(std::int16_t axis, std::int16_t direction, double speed) { host.Plugin().JogOn(axis, direction, speed); }
  void JogOff(std::int16_t axis) { host.Plugin().JogOff(axis); }
  std::vector<Bytes> Payloads(std::uint8_t code) {
    std::vector<Bytes> payloads;
    for (const auto& command : Received(code)) payloads.push_back(command.payload);
    return payloads;
  }
};

struct RateCase {
  const char* name;
  double speed;
  std::uint8_t fullSpeedFlag;
  std::int16_t direction;
  Bytes payload;  // axis, direction, rate in steps per second
};

TEST_F(JogTest, TheJogStartCarriesAxisDirectionAndRate) {
  const RateCase cases[] = {
      {"JogPercentOfTheMaximum", 0.0, 0, 0, {2, 1, 232, 3, 0, 0}},
      {"FullSpeed", 0.0, 1, 0, {2, 1, 208, 7, 0, 0}},
      {"SpeedGiven", 0.5, 0, 1, {2, 255, 244, 1, 0, 0}},
      {"SpeedGivenAtFullSpeed", 0.5, 1, 7, {2, 255, 244, 1, 0, 0}},
      {"RateBeyondTheRange", 1e9, 0, 0, {2, 1, 255, 255, 255, 127}},
  };
  std::uint8_t fullSpeedFlag = 0;
  ViewBlock::FullSpeedJog.Set(reinterpret_cast<std::uintptr_t>(&fullSpeedFlag));
  for (const RateCase& c : cases) {
    fullSpeedFlag = c.fullSpeedFlag;
    PlannerBlock::MotionIdle.Set(1);
    PlannerBlock::MotionFlags.Set(0x100);
    JogOn(2, c.direction, c.speed);
    EXPECT_THAT(Payloads(link::CMD_JOG_START), ElementsAre(c.payload)) << c.name;
    EXPECT_TRUE(Jog().AxisJogActive[2]) << c.name;
    EXPECT_EQ(EngineBlock::AxisJogging.Get(2), 1) << c.name;
    EXPECT_EQ(EngineBlock::AxisJogDirection.Get(2), c.direction) << c.name;
    EXPECT_EQ(EngineBlock::Jogging.Get(), 1) << c.name;
    EXPECT_EQ(PlannerBlock::MotionIdle.Get(), 0) << c.name;
    EXPECT_EQ(PlannerBlock::MotionFlags.Get(), 0x101u) << c.name;

    JogOff(2);
    EXPECT_THAT(Payloads(link::CMD_JOG_STOP), ElementsAre(Bytes{2})) << c.name;
    EXPECT_FALSE(Jog().AxisJogActive[2]) << c.name;
    EXPECT_EQ(EngineBlock::Jogging.Get(), 0) << c.name;
  }
}

TEST_F(JogTest, AHostWithoutAFullSpeedFlagJogsAtItsPercentage) {
  ViewBlock::FullSpeedJog.Set(0);
  JogOn(0, 0, 0.0);
  EXPECT_THAT(Payloads(link::CMD_JOG_START), ElementsAre(Bytes{0, 1, 232, 3, 0, 0}));
}

TEST_F(JogTest, StepJogModeComesBackWithTheLastStopOnly) {
  PlannerBlock::JogMode.Set(1);
  JogOn(0, 0, 0.0);
  EXPECT_EQ(PlannerBlock::JogMode.Get(), 0);
  JogOn(1, 1, 0.0);
  EXPECT_TRUE(Jog().JogModeWasStep) << "the second axis found continuous mode, but a jog running";

  JogOff(0);
  EXPECT_EQ(PlannerBlock::JogMode.Get(), 0);
  EXPECT_EQ(EngineBlock::Jogging.Get(), 1);
  JogOff(1);
  EXPECT_EQ(PlannerBlock::JogMode.Get(), 1);
  EXPECT_EQ(EngineBlock::Jogging.Get(), 0);
  // The stop leaves the per-axis flags to the cycle.
  EXPECT_EQ(EngineBlock::AxisJogging.Get(1), 1);
  EXPECT_THAT(Payloads(link::CMD_JOG_STOP), ElementsAre(Bytes{0}, Bytes{1}));

  JogOff(1);
  EXPECT_THAT(Received(), IsEmpty());

  // A jog begun in continuous mode forgets the earlier step mode.
  PlannerBlock::JogMode.Set(0);
  JogOn(3, 0, 0.0);
  JogOff(3);
  EXPECT_EQ(PlannerBlock::JogMode.Get(), 0);
}

struct RefusalCase {
  const char* name;
  std::function<void()> change;
  const char* status;
};

TEST_F(JogTest, AJogIsRefusedWithItsReasonAndChangesNothing) {
  const RefusalCase cases[] = {
      {"EStop", [] { EngineBlock::EStop.Set(1); }, "No Jogging in Estop!"},
      {"ProgramFed", [] { EngineBlock::TrajectoryHead.Set(5); }, "No Jogging in g-code mode!"},
      {"SlaveAxis", [] { EngineBlock::AxisSlave.Set(4, 1); }, "Cannot jog slave axis!"},
      {"Homing", [] { cycle::Cycle().Status.Sequence = cycle::kSequenceHomeLast; }, "Waiting for sequence to End!"},
      {"MpgInJogMode",
       [] {
         cycle::Cycle().Status.Mode = cycle::kModeJog;
         cycle::Cycle().Status.Sequence = cycle::kSequenceMpg;
       },
       "Waiting for sequence to End!"},
      {"RunningSegments", [] { cycle::Cycle().Status.Mode = cycle::kModeSegment; }, "Waiting for sequence to End!"},
      {"Held", [] { cycle::Cycle().Status.Mode = cycle::kModeHold; }, "Waiting for sequence to End!"},
  };
  for (const RefusalCase& c : cases) {
    EngineBlock::EStop.Set(0);
    EngineBlock::TrajectoryHead.Set(0);
    EngineBlock::AxisSlave.Set(4, 0);
    cycle::Cycle().Status = {};
    PlannerBlock::JogMode.Set(1);
    c.change();
    JogOn(4, 0, 0.0);
    EXPECT_EQ(host.StatusLine(), c.status) << c.name;
    EXPECT_THAT(Received(), IsEmpty()) << c.name;
    EXPECT_FALSE(Jog().AxisJogActive[4]) << c.name;
    EXPECT_EQ(EngineBlock::Jogging.Get(), 0) << c.name;
    EXPECT_EQ(EngineBlock::AxisJogging.Get(4), 0) << c.name;
    EXPECT_EQ(PlannerBlock::JogMode.Get(), 1) << c.name;
    EXPECT_EQ(PlannerBlock::MotionIdle.Get(), 1) << c.name;
  }

  // A controller that jogs already takes another axis.
  EngineBlock::EStop.Set(0);
  cycle::Cycle().Status = {};
  cycle::Cycle().Status.Mode = cycle::kModeJog;
  JogOn(4, 0, 0.0);
  EXPECT_EQ(Payloads(link::CMD_JOG_START).size(), 1u);
}

TEST_F(JogTest, OfflineTheHostSeesTheJogButTheControllerIsNotTold) {
  link::Link().ControllerOnline = false;
  JogOn(1, 1, 0.0);
  EXPECT_TRUE(Jog().AxisJogActive[1]);
  EXPECT_EQ(EngineBlock::Jogging.Get(), 1);
  EXPECT_EQ(EngineBlock::AxisJogDirection.Get(1), 1);
  JogOff(1);
  EXPECT_FALSE(Jog().AxisJogActive[1]);
  EXPECT_EQ(EngineBlock::Jogging.Get(), 0);
  link::Link().ControllerOnline = true;
  EXPECT_THAT(Received(), IsEmpty());
}

TEST_F(JogTest, AStopDuringASequenceIsDroppedAndALaterOneStops) {
  JogOn(0, 0, 0.0);
  Received();
  cycle::Cycle().Status.Sequence = cycle::kSequenceMpg;
  JogOff(0);
  EXPECT_THAT(Received(), IsEmpty());
  EXPECT_TRUE(Jog().AxisJogActive[0]);
  EXPECT_EQ(EngineBlock::Jogging.Get(), 1);

  cycle::Cycle().Status.Sequence = cycle::kSequenceNone;
  JogOff(0);
  EXPECT_THAT(Payloads(link::CMD_JOG_STOP), ElementsAre(Bytes{0}));
  EXPECT_EQ(EngineBlock::Jogging.Get(), 0);
}

TEST_F(JogTest, AxesOutsideXToCAreIgnored) {
  for (std::int16_t axis : {-1, 6, 100}) {
    JogOn(axis, 0, 1.0);
    JogOff(axis);
  }
  EXPECT_THAT(Received(), IsEmpty());
  EXPECT_EQ(EngineBlock::Jogging.Get(), 0);
  EXPECT_EQ(PlannerBlock::MotionIdle.Get(), 1);
  EXPECT_EQ(host.StatusLine(), "Ethernet controller plugin initialized.");
}

}  // namespace
}  // namespace veltra::ops

// The motion phases the controller runs itself: the threading start waits
// for the controller's leave and carries the host's thread, and rigid
// tapping turns the host's spindle in, starts the tap, and turns the spindle
// out again at the bottom.
#include "cycle/synced_motion.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vector>

#include "controller_fixture.h"
#include "cycle/cycle.h"
#include "cycle/motion.h"
#include "cycle/motion_commands.h"
#include "link/command_table.h"
#include "link/controller_socket.h"
#include "ops/events.h"
#include "plugin/host_blocks.h"
#include "ui/config_dialog.h"

namespace veltra::cycle {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr std::int32_t kDroSpindleSpeed = 817;
constexpr std::int32_t kDroThreadZStart = 818;
constexpr std::int32_t kLedForward = 164;
constexpr std::int32_t kLedReverse = 165;
constexpr std::int32_t kButtonForward = 110;
constexpr std::int32_t kButtonReverse = 173;

class SyncedMotion : public veltra::testing::OnlinePluginTest {
 protected:
  void SetUp() override {
    // The host's callbacks: DROs, LEDs and buttons.
    StartPlugin();
    Motion() = MotionState{};
    Cycle().Status = StatusRecord{};
    ASSERT_NO_FATAL_FAILURE(GoOnline());
  }
  void FrameThenTick(std::uint16_t flags, std::uint8_t sequence = kSequenceNone) {
    SendFrame([&](StatusRecord& s) {
      s.Flags = flags;
      s.Sequence = sequence;
    });
    RunCycle();
  }
};

// --- Threading ---

struct ThreadingCase {
  const char* name;
  std::int32_t blend;
  std::uint8_t mode;
};

class ThreadingStartTest : public SyncedMotion, public ::testing::WithParamInterface<ThreadingCase> {};

TEST_P(ThreadingStartTest, WaitsForTheControllersLeaveThenSendsTheHostsThread) {
  const ThreadingCase& c = GetParam();
  ui::TheConfigDialog().syncedModes.ThrBlend = c.blend;
  PlannerBlock::AxisStepsPerUnit.Set(0, 400.0);
  PlannerBlock::AxisStepsPerUnit.Set(2, 200.0);
  SetupBlock::AxisWorkOffset.Set(0, 1.5);
  SetupBlock::AxisWorkOffset.Set(2, -2.0);
  PlannerBlock::ThreadEnd.Set(0, 10.25);
  PlannerBlock::ThreadEnd.Set(2, -30.5);
  PlannerBlock::ThreadParameter.Set(-123456);
  host.SetDroValue(kDroThreadZStart, 4.5);
  EngineBlock::ThreadingRequest.Set(1);

  FrameThenTick(0);
  EXPECT_THAT(Received(link::CMD_START_THREADING), IsEmpty());
  EXPECT_EQ(EngineBlock::ThreadingRequest.Get(), 1);
  EXPECT_EQ(EngineBlock::ThreadingActive.Get(), 0);

  FrameThenTick(status_flag::kThreadingStartAllowed);
  const auto starts = Received(link::CMD_START_THREADING);
  ASSERT_EQ(starts.size(), 1u);
  ASSERT_EQ(starts[0].payload.size(), threading_payload::kSize);
  const auto payload = std::as_bytes(std::span<const std::uint8_t>(starts[0].payload));
  // (1.5 + 10.25) * 400 and (-2 - 30.5) * 200, machine coordinates in steps.
  EXPECT_EQ(DecodeThreadingStart(payload.first<threading_payload::kSize>()),
            (ThreadingStart{900.0, 4700.0, -6500.0, c.mode, -123456}));
  EXPECT_EQ(EngineBlock::ThreadingRequest.Get(), 0);
  EXPECT_EQ(EngineBlock::ThreadingActive.Get(), 1);
  EXPECT_EQ(PlannerBlock::MotionIdle.Get(), 1) << "the host waits while the controller threads";

  FrameThenTick(status_flag::kThreadingStartAllowed);
  EXPECT_THAT(Received(link::CMD_START_THREADING), IsEmpty()) << "one start per request";
}

INSTANTIATE_TEST_SUITE_P(Cases, ThreadingStartTest,
                         ::testing::Values(ThreadingCase{"Blended", 1, 11}, ThreadingCase{"Plain", 0, 3}),
                         [](const auto& info) { return info.param.name; });

TEST_F(SyncedMotion, AStopDropsAThreadingRequestStillWaiting) {
  EngineBlock::ThreadingRequest.Set(1);
  FrameThenTick(0);
  ops::HandleNotify(ops::host_event::kStop);
  FrameThenTick(status_flag::kThreadingStartAllowed);
  EXPECT_THAT(Received(link::CMD_START_THREADING), IsEmpty());
  EXPECT_EQ(EngineBlock::ThreadingActive.Get(), 0);
}

// --- Rigid tapping ---

// The host's spindle as the host runs it: each direction button toggles its
// LED, and the spindle runs while either is lit (the host then reports the
// start or stop, which raises or clears the plugin's flag).
class RigidTap : public SyncedMotion {
 protected:
  void SetUp() override {
    SyncedMotion::SetUp();
    PlannerBlock::AxisStepsPerUnit.Set(2, 200.0);
    SetupBlock::UserVariable.Set(1500, -10.337);  // depth
    SetupBlock::UserVariable.Set(1502, 500.0);    // speed in
    SetupBlock::UserVariable.Set(1503, 800.0);    // speed out
    SetupBlock::TapSelector.Set(5);
    ui::TheConfigDialog().syncedModes.WaitSpindle = 1;
  }
  void Step(std::uint8_t sequence = kSequenceNone) {
    Cycle().Status.Sequence = sequence;
    RunRigidTapStep();
    const std::vector<std::int32_t>& presses = host.ButtonPresses();
    for (; seenPresses_ < presses.size(); ++seenPresses_) {
      const std::int32_t led = presses[seenPresses_] == kButtonForward ? kLedForward : kLedReverse;
      host.SetLedValue(led, !host.Led(led));
    }
    Motion().SpindleRunning = host.Led(kLedForward) || host.Led(kLedReverse);
  }

 private:
  std::size_t seenPresses_ = 0;
};

struct TapCase {
  const char* name;
  double pitch;
  std::int32_t in, out;  // the buttons that turn the spindle in and out
};

class TapDirection : public RigidTap, public ::testing::WithParamInterface<TapCase> {};

TEST_P(TapDirection, TurnsInTheDirectionOfThePitchAndOutTheOtherWay) {
  const TapCase& c = GetParam();
  SetupBlock::UserVariable.Set(1501, c.pitch);
  ops::HandleNotify(ops::host_event::kSyncedMotionAhead);

  Step();
  EXPECT_EQ(host.Dro(kDroSpindleSpeed), 500.0);
  EXPECT_THAT(host.ButtonPresses(), ElementsAre(c.in));
  // The host holds the tap while its spindle comes up to speed.
  EngineBlock::DwellBusy.Set(1);
  Step();
  EXPECT_THAT(Received(link::CMD_START_RIGID_TAP), IsEmpty());
  EngineBlock::DwellBusy.Set(0);
  Step();
  EXPECT_EQ(Received(link::CMD_START_RIGID_TAP).size(), 1u);

  Step(kSequenceRigidTap1);
  EXPECT_THAT(host.ButtonPresses(), ElementsAre(c.in));
  // At the bottom the spindle stops, and turns out once it stands.
  Step(kSequenceRigidTap2);
  EXPECT_THAT(host.ButtonPresses(), ElementsAre(c.in, c.in));
  EXPECT_EQ(host.Dro(kDroSpindleSpeed), 500.0);
  Step(kSequenceRigidTap2);
  EXPECT_EQ(host.Dro(kDroSpindleSpeed), 800.0);
  EXPECT_THAT(host.ButtonPresses(), ElementsAre(c.in, c.in, c.out));

  Step(kSequenceRigidTap2);
  EXPECT_THAT(host.ButtonPresses(), ElementsAre(c.in, c.in, c.out));
  Step(kSequenceNone);
  EXPECT_THAT(host.ButtonPresses(), ElementsAre(c.in, c.in, c.out, c.out));
  EXPECT_FALSE(Motion().SpindleRunning);
  EXPECT_EQ(Motion().SyncedMotionState, tap_state::kNone);
  Step();
  EXPECT_EQ(host.ButtonPresses().size(), 4u) << "done";
}

INSTANTIATE_TEST_SUITE_P(Cases, TapDirection,
                         ::testing::Values(TapCase{"LeftHand", -1.25, kButtonReverse, kButtonForward},
                                           TapCase{"RightHand", 1.25, kButtonForward, kButtonReverse}),
                         [](const auto& info) { return info.param.name; });

TEST_F(RigidTap, ASpindleTurningTheWrongWayIsTurnedAroundFirst) {
  SetupBlock::UserVariable.Set(1501, 1.0);
  host.SetLedValue(kLedReverse, true);
  Motion().SyncedMotionState = tap_state::kAnnounced;
  Step();
  EXPECT_THAT(host.ButtonPresses(), ElementsAre(kButtonReverse, kButtonForward));
}

struct TapPayloadCase {
  const char* name;
  std::int32_t selector;
  std::int32_t waitSpindle;
  RigidTapStart expected;
};

class TapPayload : public RigidTap, public ::testing::WithParamInterface<TapPayloadCase> {};

TEST_P(TapPayload, CarriesPitchAndDepthInZStepsTheSelectorAndTheSpindleWait) {
  const TapPayloadCase& c = GetParam();
  SetupBlock::UserVariable.Set(1501, -1.25);
  SetupBlock::TapSelector.Set(c.selector);
  ui::TheConfigDialog().syncedModes.WaitSpindle = c.waitSpindle;
  Motion().SyncedMotionState = tap_state::kStart;
  Step();
  const auto starts = Received(link::CMD_START_RIGID_TAP);
  ASSERT_EQ(starts.size(), 1u);
  ASSERT_EQ(starts[0].payload.size(), rigid_tap_payload::kSize);
  const auto payload = std::as_bytes(std::span<const std::uint8_t>(starts[0].payload));
  EXPECT_EQ(DecodeRigidTapStart(payload.first<rigid_tap_payload::kSize>()), c.expected);
}

// -1.25 * 200 steps; -10.337 * 200 = -2067.4, truncated toward zero.
INSTANTIATE_TEST_SUITE_P(Cases, TapPayload,
                         ::testing::Values(TapPayloadCase{"SelectorLessTwo", 5, 1, {-250.0, -2067, 3, 1}},
                                           TapPayloadCase{"SelectorTwoIsZero", 2, 0, {-250.0, -2067, 0, 0}},
                                           TapPayloadCase{"LowSelectorIsTwo", 1, 1, {-250.0, -2067, 2, 1}}),
                         [](const auto& info) { return info.param.name; });

// The cycle runs the step whether or not the controller is online.
TEST_F(RigidTap, TheCycleStartsTheSpindleOffline) {
  link::Link().ControllerOnline = false;
  SetupBlock::UserVariable.Set(1501, -1.25);
  Motion().SyncedMotionState = tap_state::kAnnounced;
  RunCycle();
  EXPECT_THAT(host.ButtonPresses(), ElementsAre(kButtonReverse));
  EXPECT_TRUE(Motion().TapReverse);
  EXPECT_EQ(Motion().TapSpeedOut, 800.0);
}

}  // namespace
}  // namespace veltra::cycle

#include "cycle/cycle.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "controller_fixture.h"
#include "cycle/motion.h"
#include "link/command_table.h"
#include "link/controller_socket.h"
#include "link/wire.h"
#include "loopback.h"
#include "ops/home.h"
#include "ops/probe.h"
#include "platform/clock.h"
#include "platform/messages.h"
#include "plugin/host_blocks.h"
#include "plugin/plugin_state.h"
#include "plugin/update.h"
#include "plugin_fixture.h"
#include "settings/process_settings.h"
#include "ui/config_dialog.h"
#include "ui/window_handles.h"

namespace veltra::cycle {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using veltra::testing::OnlinePluginTest;
using veltra::testing::PluginTest;
using veltra::testing::PumpUntil;
using Bytes = std::vector<std::uint8_t>;
using Change = std::function<void(StatusRecord&)>;

// --- The timer and its watchdog ---

class CycleTimer : public PluginTest {
 protected:
  CycleTimer() { platform::SetClock(&clock); }
  ~CycleTimer() override {
    if (plugin::State().cycleTimer != 0) platform::KillThreadTimer(plugin::State().cycleTimer);
    platform::SetClock(nullptr);
  }
  // One period passes and the thread's messages are dispatched; true when a
  // cycle ran (offline, every cycle restarts the link window at now).
  bool TickPasses() {
    clock.Advance(kCyclePeriodMs);
    platform::DispatchWaitingMessages();
    return Cycle().LastStatusTick == clock.TickCount();
  }
  platform::ManualClock clock;
};

TEST_F(CycleTimer, RunsWhileUpdatesComeAndStopsAfterTwentyOneTicksWithout) {
  plugin::Update();
  ASSERT_TRUE(plugin::State().TimerRunning);
  for (int tick = 1; tick <= 100; ++tick) {
    ASSERT_TRUE(TickPasses()) << "tick " << tick;
    if (tick % 4 == 0) plugin::Update();  // every 100 ms
  }
  for (int tick = 1; tick <= 21; ++tick) ASSERT_TRUE(TickPasses()) << "tick " << tick << " without an update";
  EXPECT_FALSE(TickPasses());
  EXPECT_FALSE(plugin::State().TimerRunning);
  EXPECT_FALSE(TickPasses());

  plugin::Update();
  EXPECT_TRUE(plugin::State().TimerRunning);
  EXPECT_TRUE(TickPasses());
}

TEST_F(CycleTimer, ATickDuringACycleDoesNothingAndEveryWayOutEndsTheCycle) {
  Cycle().CycleBusy = true;
  RunCycle();
  EXPECT_NE(Cycle().LastStatusTick, clock.TickCount());
  Cycle().CycleBusy = false;

  RunCycle();
  EXPECT_EQ(Cycle().LastStatusTick, clock.TickCount());
  EXPECT_FALSE(Cycle().CycleBusy);
}

// --- Ticks against the substitute controller ---

class OnlineCycle : public OnlinePluginTest {
 protected:
  void Tick() { RunCycle(); }
  void FrameThenTick(const Change& change = nullptr) {
    SendFrame(change);
    Tick();
  }
  static Bytes PayloadOf(const std::vector<emu::ReceivedCommand>& commands, std::size_t i = 0) {
    return i < commands.size() ? commands[i].payload : Bytes{};
  }
};

TEST_F(OnlineCycle, TheKeepAliveGoesOutEveryFortiethTick) {
  GoOnline();
  platform::ManualClock clock;
  platform::SetClock(&clock);
  Cycle().LastStatusTick = clock.TickCount();
  for (int tick = 1; tick <= 39; ++tick) Tick();
  EXPECT_THAT(Received(link::CMD_KEEPALIVE), IsEmpty());
  Tick();
  EXPECT_EQ(Received(link::CMD_KEEPALIVE).size(), 1u);
  for (int tick = 41; tick <= 79; ++tick) Tick();
  EXPECT_THAT(Received(link::CMD_KEEPALIVE), IsEmpty());
  Tick();
  EXPECT_EQ(Received(link::CMD_KEEPALIVE).size(), 1u);
  platform::SetClock(nullptr);
}

struct LinkLossCase {
  const char* name;
  std::int32_t derefOnDisc;
  std::uint8_t referencedAfter;
};

class LinkLoss : public OnlineCycle, public ::testing::WithParamInterface<LinkLossCase> {};

TEST_P(LinkLoss, AFrameOlderThanTheTimeoutTakesTheLinkDownOnce) {
  const LinkLossCase& c = GetParam();
  ui::TheConfigDialog().general.DerefOnDisc = c.derefOnDisc;
  GoOnline();
  platform::ManualClock clock;
  platform::SetClock(&clock);
  FrameThenTick();
  EngineBlock::AxisReferenced.Set(2, 1);
  ops::Homing().HomedMask = 0x4;

  clock.Advance(kLinkTimeoutMs);
  Tick();
  EXPECT_TRUE(link::Link().ControllerOnline);
  const std::uint32_t serial = host.StatusSerial();
  clock.Advance(1);
  Tick();
  EXPECT_FALSE(link::Link().ControllerOnline);
  EXPECT_FALSE(link::CommandChannel().IsOpen());
  EXPECT_FALSE(link::BulkChannel().IsOpen());
  EXPECT_EQ(host.StatusLine(), "ERROR! Connection closed!");
  EXPECT_EQ(EngineBlock::EStop.Get(), 1);
  EXPECT_EQ(EngineBlock::AxisReferenced.Get(2), c.referencedAfter);
  EXPECT_EQ(ops::Homing().HomedMask, c.referencedAfter ? 0x4 : 0);

  clock.Advance(5000);
  Tick();
  Tick();
  EXPECT_EQ(host.StatusSerial(), serial + 1) << "the loss is reported once";
  EXPECT_TRUE(boxes.Texts().empty());
  platform::SetClock(nullptr);
}

INSTANTIATE_TEST_SUITE_P(Cases, LinkLoss,
                         ::testing::Values(LinkLossCase{"AxesStayReferenced", 0, 1},
                                           LinkLossCase{"DerefOnDisc", 1, 0}),
                         [](const auto& info) { return info.param.name; });

TEST_F(OnlineCycle, EveryWholeFrameIsTakenInOrderAndAPartialOneWaits) {
  GoOnline();
  SendFrame([](StatusRecord& s) { s.ExecutingLine = 5; });
  // Not a frame of ours: dropped, e-stop and all.
  SendFrame([](StatusRecord& s) {
    s.ExecutingLine = 9;
    s.Mode = kModeEStop;
  }, 99);
  SendFrame([](StatusRecord& s) {
    s.ExecutingLine = 6;
    s.Mode = kModeIdle;
  });
  Tick();
  EXPECT_EQ(EngineBlock::ExecutingLine.Get(), 6);
  EXPECT_EQ(EngineBlock::EStop.Get(), 0);
  EXPECT_EQ(veltra::testing::WaitingBytes(true), 0);

  // 150 bytes: one frame and 44 bytes of the next.
  std::array<std::byte, kStatusRecordSize> next{};
  StatusRecord record = controller->MachineStatus();
  record.ExecutingLine = 8;
  EncodeStatusRecord(record, next);
  Bytes nextBytes(kStatusRecordSize);
  std::memcpy(nextBytes.data(), next.data(), next.size());
  SendFrame([](StatusRecord& s) { s.ExecutingLine = 7; });
  controller->SendOnCommandChannel(Bytes(nextBytes.begin(), nextBytes.begin() + 44));
  ASSERT_TRUE(PumpUntil([] { return veltra::testing::WaitingBytes(true) == 150; }));
  Tick();
  EXPECT_EQ(EngineBlock::ExecutingLine.Get(), 7);
  EXPECT_EQ(veltra::testing::WaitingBytes(true), 44);

  controller->SendOnCommandChannel(Bytes(nextBytes.begin() + 44, nextBytes.end()));
  ASSERT_TRUE(PumpUntil([] { return veltra::testing::WaitingBytes(true) == 106; }));
  Tick();
  EXPECT_EQ(EngineBlock::ExecutingLine.Get(), 8);
}

struct EStopCase {
  const char* name;
  std::uint8_t fault;
  std::int32_t cause;
  std::uint8_t latch;
};

class ControllerEStop : public OnlineCycle, public ::testing::WithParamInterface<EStopCase> {};

TEST_P(ControllerEStop, TheFirstCauseIsKeptAndTheDrainEndsAtTheFrame) {
  const EStopCase& c = GetParam();
  GoOnline();
  SendFrame([&](StatusRecord& s) {
    s.Mode = kModeEStop;
    s.Fault = c.fault;
  });
  SendFrame([](StatusRecord& s) { s.ExecutingLine = 33; });
  Tick();
  EXPECT_EQ(EngineBlock::EStop.Get(), 1);
  EXPECT_EQ(EngineBlock::EStopCause.Get(), c.cause);
  EXPECT_EQ(EngineBlock::LimitFaultLatch.Get(), c.latch);
  EXPECT_EQ(veltra::testing::WaitingBytes(true), 106) << "the frame after the e-stop waits for the next tick";
  EXPECT_NE(EngineBlock::ExecutingLine.Get(), 33);
  // The outputs still go out in that tick.
  EXPECT_EQ(Received(link::CMD_SET_OUTPUTS).size(), 1u);

  // A later e-stop frame leaves the cause.
  Tick();
  FrameThenTick([&](StatusRecord& s) {
    s.Mode = kModeEStop;
    s.Fault = c.fault == kFaultSoftLimit ? kFaultLimitSwitch : kFaultSoftLimit;
  });
  EXPECT_EQ(EngineBlock::EStopCause.Get(), c.cause);
}

INSTANTIATE_TEST_SUITE_P(Cases, ControllerEStop,
                         ::testing::Values(EStopCase{"SoftLimit", 3, 7, 1}, EStopCase{"LimitSwitch", 2, 4, 0},
                                           EStopCase{"NoFault", 0, 6, 0}, EStopCase{"CommunicationError", 5, 6, 0},
                                           EStopCase{"UnknownFault", 200, 6, 0}),
                         [](const auto& info) { return info.param.name; });

TEST_F(OnlineCycle, AHostPositionChangeReachesTheControllerBeforeTheFrameOverwritesIt) {
  GoOnline();
  const auto steps = [](std::int32_t z) {
    return [z](StatusRecord& s) { s.StepPositions = {10, 20, z, 40, 50, 60}; };
  };
  // The first frame after load has nothing to compare with.
  EngineBlock::AxisPosition.Set(2, 777);
  FrameThenTick(steps(300));
  EXPECT_THAT(Received(link::CMD_SET_POSITION), IsEmpty());
  EXPECT_EQ(EngineBlock::AxisPosition.Get(2), 300);

  FrameThenTick(steps(301));
  EXPECT_THAT(Received(link::CMD_SET_POSITION), IsEmpty()) << "the controller's own moves are no host change";

  EngineBlock::AxisPosition.Set(2, 555);
  FrameThenTick(steps(302));
  const auto sent = Received(link::CMD_SET_POSITION);
  ASSERT_EQ(sent.size(), 1u);
  const auto payload = std::as_bytes(std::span<const std::uint8_t>(sent[0].payload));
  EXPECT_EQ(payload.size(), set_position_payload::kSize);
  EXPECT_EQ(wire::Get<std::uint8_t>(payload, set_position_payload::kAxisMask), 0x04);
  EXPECT_EQ(wire::Get<std::int32_t>(payload, set_position_payload::kPositions + 4 * 2), 555);
  EXPECT_EQ(EngineBlock::AxisPosition.Get(2), 302);
  // The controller took the host's value.
  EXPECT_EQ(controller->MachineStatus().StepPositions[2], 555);
}

// A contact on a machine whose A axis has no steps per unit set must not
// hand the host a position that is not a number.
TEST_F(OnlineCycle, AProbeContactOnAnAxisWithoutStepsPerUnitWritesNoPosition) {
  GoOnline();
  for (int a = 0; a < 6; ++a) PlannerBlock::AxisStepsPerUnit.Set(a, a == 3 ? 0.0 : 100.0);
  SetupBlock::UserVariable.Set(2003, 7.0);
  FrameThenTick([](StatusRecord& s) {
    s.Mode = kModeSegment;
    s.Sequence = kSequenceProbeContact;
    s.StepPositions = {150, -250, 1000, 40, 0, 0};
  });
  EXPECT_EQ(host.StatusLine(), "Probe hit (1.500000,-2.500000,10.000000,0.000000)");
  EXPECT_EQ(SetupBlock::UserVariable.Get(2003), 7.0);
  EXPECT_EQ(SetupBlock::UserVariable.Get(2002), 10.0);
  EXPECT_EQ(EngineBlock::AxisProbePosition.Get(3), 40);
}

TEST_F(OnlineCycle, AProbeContactEndsTheProbeWithTheThirdIdleFrame) {
  GoOnline();
  for (int a = 0; a < 6; ++a) {
    PlannerBlock::AxisStepsPerUnit.Set(a, 100.0);
    SetupBlock::AxisWorkOffset.Set(a, 1.0);
    EngineBlock::AxisProbing.Set(a, 1);
  }
  ops::ThePlanner().PlannerActive = true;
  Motion().MotionSequence = 321;
  const Change contact = [](StatusRecord& s) {
    s.Mode = kModeSegment;
    s.Sequence = kSequenceProbeContact;
    s.StepPositions = {150, -250, 1000, 0, 100, 200};
  };
  const Change idle = [](StatusRecord& s) {
    s.Mode = kModeIdle;
    s.Sequence = kSequenceNone;
  };
  FrameThenTick(contact);
  EXPECT_EQ(host.StatusLine(), "Probe hit (0.500000,-3.500000,9.000000,-1.000000)");
  EXPECT_EQ(SetupBlock::UserVariable.Get(2001), -3.5);
  EXPECT_EQ(SetupBlock::UserVariable.Get(2005), 1.0);
  EXPECT_EQ(EngineBlock::AxisProbePosition.Get(2), 1000);
  EXPECT_EQ(EngineBlock::AxisProbing.Get(4), 0);
  EXPECT_FALSE(ops::ThePlanner().PlannerActive);
  EXPECT_TRUE(ops::ThePlanner().PlannerStopped);
  EXPECT_EQ(Motion().MotionSequence, 0);
  EXPECT_TRUE(Cycle().ProbeHitFlag);

  // A contact reported again restarts the delay.
  FrameThenTick(idle);
  FrameThenTick(contact);
  FrameThenTick(idle);
  FrameThenTick(idle);
  EXPECT_THAT(Received(link::CMD_END_PROBE), IsEmpty());
  Motion().MotionSyncPending = false;
  SendFrame(idle);
  Tick();
  EXPECT_EQ(Received(link::CMD_END_PROBE).size(), 1u);
  EXPECT_TRUE(Cycle().ProbeEndFlag);
  // Set by the end of the probe, taken by the resynchronisation of the same frame.
  EXPECT_EQ(EngineBlock::PositionResync.Get(), 1);
  FrameThenTick(idle);
  EXPECT_THAT(Received(link::CMD_END_PROBE), IsEmpty());
}

struct ProbeMoveCase {
  const char* name;
  std::uint8_t mode;
  bool ended;
};

class ProbeMoveEnd : public OnlineCycle, public ::testing::WithParamInterface<ProbeMoveCase> {};

TEST_P(ProbeMoveEnd, OnlyAnIdleControllerEndsAProbeMoveWithoutContact) {
  const ProbeMoveCase& c = GetParam();
  StartPlugin();
  GoOnline();
  ops::ThePlanner().PlannerActive = true;
  EngineBlock::AxisProbing.Set(0, 1);
  // Motion waits, so that the planner is left to the frame.
  Motion().ArcWait = true;
  FrameThenTick([&](StatusRecord& s) {
    s.Mode = c.mode;
    s.Sequence = kSequenceProbeMove;
  });
  EXPECT_EQ(Received(link::CMD_END_PROBE).size(), c.ended ? 1u : 0u);
  EXPECT_EQ(ops::ThePlanner().PlannerActive, !c.ended);
  EXPECT_EQ(EngineBlock::AxisProbing.Get(0), c.ended ? 0 : 1);
  EXPECT_EQ(host.ButtonPresses(), c.ended ? std::vector<std::int32_t>{1003} : std::vector<std::int32_t>{});
  EXPECT_EQ(host.StatusLine() == "Probe move finished with NO hit!", c.ended);
}

INSTANTIATE_TEST_SUITE_P(Cases, ProbeMoveEnd,
                         ::testing::Values(ProbeMoveCase{"StillMoving", kModeSegment, false},
                                           ProbeMoveCase{"Idle", kModeIdle, true}),
                         [](const auto& info) { return info.param.name; });

struct HomingCase {
  const char* name;
  std::int32_t pending;
  bool verify;
  std::vector<std::uint8_t> axes;  // of the HOME6 frames, in order
  std::vector<std::int32_t> pendingAfter;
  std::vector<std::uint8_t> homingAfter;
};

class HomingCompletion : public OnlineCycle, public ::testing::WithParamInterface<HomingCase> {};

TEST_P(HomingCompletion, EveryLastPhaseFrameCompletesOneHoming) {
  const HomingCase& c = GetParam();
  GoOnline();
  ops::Homing().HomesPending = c.pending;
  EngineBlock::Homing.Set(1);
  for (std::uint8_t axis : c.axes) EngineBlock::AxisHoming.Set(axis, 1);
  PlannerBlock::VerifyActive.Set(c.verify ? 1 : 0);
  for (std::size_t i = 0; i < c.axes.size(); ++i) {
    FrameThenTick([&](StatusRecord& s) {
      s.Sequence = kSequenceHomeLast;
      s.HomedAxis = c.axes[i];
      s.StepPositions = {11, 22, 33, 44, 55, 66};
    });
    EXPECT_EQ(ops::Homing().HomesPending, c.pendingAfter[i]) << c.name << " frame " << i;
    EXPECT_EQ(EngineBlock::Homing.Get(), c.homingAfter[i]) << c.name << " frame " << i;
    EXPECT_EQ(EngineBlock::AxisReferenced.Get(c.axes[i]), 1);
    EXPECT_EQ(EngineBlock::AxisHoming.Get(c.axes[i]), 0);
  }
  std::uint32_t referenced = 0;
  for (std::uint8_t axis : c.axes) referenced |= 1u << axis;
  EXPECT_EQ(PlannerBlock::ReferencedMask.Get(), referenced);
  EXPECT_EQ(ops::Homing().HomedMask, 0) << "all homing is over";
  EXPECT_EQ(PlannerBlock::VerifyActive.Get(), 0);
  EXPECT_EQ(EngineBlock::VerifyPosition.Get(5), c.verify ? 66 : 0);
  EXPECT_EQ(host.StatusLine() == "Verify function finished.", c.verify);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HomingCompletion,
    ::testing::Values(HomingCase{"TwoAxes", 2, false, {0, 1}, {1, 0}, {1, 0}},
                      HomingCase{"OneAxisTwice", 2, false, {3, 3}, {1, 0}, {1, 0}},
                      HomingCase{"Verify", 2, true, {4, 5}, {1, 0}, {1, 0}},
                      // A last phase reported in more frames than were asked
                      // for leaves no homing outstanding.
                      HomingCase{"MoreFramesThanHomings", 1, false, {2, 2}, {0, 0}, {0, 0}}),
    [](const auto& info) { return info.param.name; });

TEST_F(OnlineCycle, AFrameNamingNoAxisWritesNothingOutsideTheHostsArrays) {
  GoOnline();
  ops::Homing().HomesPending = 1;
  EngineBlock::Homing.Set(1);
  PlannerBlock::SelectedAxis.Set(77);
  const auto blocks = [&] {
    std::vector<std::vector<std::byte>> copies;
    for (host::Block block : {host::Block::Engine, host::Block::Setup, host::Block::Planner}) {
      const std::byte* base = host.Block(block);
      copies.emplace_back(base, base + host::RequiredBlockSize(block));
    }
    return copies;
  };
  const Change mpgWithCodesOutsideTheTables = [](StatusRecord& s) {
    s.Sequence = kSequenceMpg;  // jogs the selected axis, which is none
    s.Mode = 200;
    s.Fault = 200;
  };
  const Change quiet = [](StatusRecord& s) {
    s.Sequence = kSequenceNone;
    s.Mode = kModeIdle;
    s.StepPositions = {1, 2, 3, 4, 5, 6};
  };
  FrameThenTick(mpgWithCodesOutsideTheTables);
  FrameThenTick(quiet);
  const auto before = blocks();
  for (std::uint8_t axis : {6, 16, 32, 200, 255}) {
    FrameThenTick([&](StatusRecord& s) {
      s.Sequence = kSequenceHomeLast;
      s.HomedAxis = axis;
    });
    FrameThenTick(mpgWithCodesOutsideTheTables);
    FrameThenTick(quiet);
    EXPECT_EQ(ops::Homing().HomesPending, 1) << int(axis);
    EXPECT_EQ(blocks(), before) << "HomedAxis " << int(axis);
  }
}

TEST_F(OnlineCycle, TheHostInEStopStopsTheControllerOnEveryFrameUntilItReportsStopped) {
  GoOnline();
  EngineBlock::EStop.Set(1);
  Motion().MotionSequence = 42;
  const struct {
    std::uint8_t mode;
    std::size_t stops;
  } frames[] = {{kModeIdle, 1}, {kModeIdle, 1}, {kModeSegment, 1}, {kModeSafe, 0}, {kModeEStop, 0}};
  for (const auto& frame : frames) {
    FrameThenTick([&](StatusRecord& s) { s.Mode = frame.mode; });
    const auto stops = Received(link::CMD_STOP);
    ASSERT_EQ(stops.size(), frame.stops) << "mode " << int(frame.mode);
    if (frame.stops) {
      EXPECT_EQ(stops[0].payload, Bytes{1});
    }
  }
  EXPECT_EQ(Motion().MotionSequence, 0);
}

struct RequestCase {
  const char* name;
  std::int32_t queued;  // entries in the host's trajectory queue
  bool plannerActive;
  bool accepted;
};

class ControllerRequest : public OnlineCycle, public ::testing::WithParamInterface<RequestCase> {};

TEST_P(ControllerRequest, IsAcceptedOnlyWhileNothingElseFeedsTheController) {
  const RequestCase& c = GetParam();
  GoOnline();
  EngineBlock::TrajectoryTail.Set(4090);
  EngineBlock::TrajectoryHead.Set((4090 + c.queued) % 4096);
  ops::ThePlanner().PlannerActive = c.plannerActive;
  PlannerBlock::MotionIdle.Set(1);
  // Motion waits: the host's idle state is left to the request.
  Motion().ArcWait = true;
  SendFrame(nullptr, kRequestTag);
  Tick();
  const auto accepts = Received(link::CMD_ACCEPT_REQUEST);
  EXPECT_EQ(accepts.size(), c.accepted ? 1u : 0u);
  if (c.accepted) {
    EXPECT_EQ(accepts[0].payload, Bytes{1});
  }
  EXPECT_EQ(PlannerBlock::MotionIdle.Get(), c.accepted ? 0 : 1);
  EXPECT_EQ(PlannerBlock::MotionFlags.Get() & 1u, c.accepted ? 1u : 0u);
  EXPECT_EQ(EngineBlock::AxisJogging.Get(0), c.accepted ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, ControllerRequest,
                         ::testing::Values(RequestCase{"QueueEmpty", 0, false, true},
                                           RequestCase{"QueueHoldsMotion", 8, false, false},
                                           RequestCase{"ProbeMoveRunning", 0, true, false}),
                         [](const auto& info) { return info.param.name; });

TEST_F(OnlineCycle, TheHostsJogStateFollowsTheHoldTheControllerAndTheMpg) {
  GoOnline();
  PlannerBlock::SelectedAxis.Set(2);
  SendFrame(nullptr, kRequestTag);
  Tick();
  struct Step {
    const char* what;
    std::uint8_t mode, sequence;
    std::uint8_t hostJogging;
    std::uint8_t motionIdle;
    std::uint32_t jogFlag;
    std::uint8_t axis0Jogging, axis2Jogging;
  };
  const Step steps[] = {
      {"hold, 1 frame left", kModeIdle, kSequenceNone, 0, 0, 1, 1, 0},
      {"hold over", kModeIdle, kSequenceNone, 0, 1, 0, 0, 0},
      {"controller jogs", kModeJog, kSequenceNone, 0, 0, 1, 0, 0},
      {"MPG moves", kModeIdle, kSequenceMpg, 0, 0, 1, 0, 1},
      {"host jogs", kModeIdle, kSequenceNone, 1, 0, 1, 0, 1},
      {"all quiet", kModeIdle, kSequenceNone, 0, 1, 0, 0, 0},
  };
  for (const Step& step : steps) {
    EngineBlock::Jogging.Set(step.hostJogging);
    FrameThenTick([&](StatusRecord& s) {
      s.Mode = step.mode;
      s.Sequence = step.sequence;
    });
    EXPECT_EQ(PlannerBlock::MotionIdle.Get(), step.motionIdle) << step.what;
    EXPECT_EQ(PlannerBlock::MotionFlags.Get() & 1u, step.jogFlag) << step.what;
    EXPECT_EQ(EngineBlock::AxisJogging.Get(0), step.axis0Jogging) << step.what;
    EXPECT_EQ(EngineBlock::AxisJogging.Get(2), step.axis2Jogging) << step.what;
  }
}

TEST_F(OnlineCycle, AFramesStateReachesTheHost) {
  StartPlugin();
  GoOnline();
  EngineBlock::InputSignalActive.Set(24, 1);  // Limit override
  EngineBlock::AxisPosition.Set(0, 0);
  Motion().MotionSyncPending = true;
  FrameThenTick([](StatusRecord& s) {
    s.Flags = status_flag::kHostLed1500;
    s.Sequence = kSequenceRigidTap2;
    s.Mode = kModeSegment;
    s.ThcOffset = -12;
    s.AnalogInputs = {1, 2, 3, 65535};
    s.StepPositions = {1000, 0, 0, 0, 0, 0};
  });
  EXPECT_TRUE(host.Led(1500));
  EXPECT_EQ(EngineBlock::LimitOverrideSeen.Get(), 1);
  EXPECT_EQ(EngineBlock::ThcZOffset.Get(), -12);
  EXPECT_EQ(Cycle().AnalogRaw[3], 65535u);
  EXPECT_EQ(EngineBlock::PositionResync.Get(), 0) << "no resynchronisation while the controller moves";
  EXPECT_EQ(SetupBlock::UserVariable.Get(1510), 0.0);

  // Tapping over, controller idle: the tap is reported finished and the
  // positions are taken over; with feedhold lit no THC correction shows.
  host.SetLedValue(805, true);
  FrameThenTick([](StatusRecord& s) {
    s.Flags = 0;
    s.Sequence = kSequenceNone;
    s.Mode = kModeIdle;
  });
  EXPECT_FALSE(host.Led(1500));
  EXPECT_EQ(SetupBlock::UserVariable.Get(1510), 1.0);
  EXPECT_EQ(EngineBlock::PositionResync.Get(), 1);
  EXPECT_EQ(Motion().LastSentPosition[0], 1000.0);
  EXPECT_FALSE(Motion().MotionSyncPending);
  EXPECT_EQ(EngineBlock::ThcZOffset.Get(), 0);

  // The controller's own request to resynchronise.
  EngineBlock::PositionResync.Set(0);
  FrameThenTick([](StatusRecord& s) { s.Flags = status_flag::kResynchronise; });
  EXPECT_EQ(EngineBlock::PositionResync.Get(), 1);
}

TEST_F(OnlineCycle, AThreadingMoveKeepsTheHostIdle) {
  GoOnline();
  EngineBlock::ThreadingActive.Set(1);
  FrameThenTick([](StatusRecord& s) { s.Mode = kModeSegment; });
  EXPECT_EQ(PlannerBlock::MotionIdle.Get(), 1);
}

// --- Outputs ---

struct OutputRecord {
  int record;
  std::uint8_t enabled, pin, port, activeLow, state;
};

TEST_F(PluginTest, TheOutputMaskTakesEnabledSignalsOnTheControllersPins) {
  const struct {
    const char* name;
    OutputRecord output;
    std::uint32_t mask;
  } cases[] = {
      {"OnPin1", {0, 1, 1, 1, 0, 1}, 1u << 0},
      {"OnPin32", {29, 1, 32, 1, 0, 1}, 1u << 31},
      {"ActiveLowOff", {5, 1, 7, 1, 1, 0}, 1u << 6},
      {"ActiveLowOn", {5, 1, 7, 1, 1, 1}, 0},
      {"Off", {3, 1, 4, 1, 0, 0}, 0},
      {"Disabled", {3, 0, 4, 1, 0, 1}, 0},
      {"OtherPort", {3, 1, 4, 2, 0, 1}, 0},
      {"PinZero", {3, 1, 0, 1, 1, 0}, 0},
      {"PinAbove32", {3, 1, 33, 1, 1, 0}, 0},
  };
  for (const auto& c : cases) {
    for (int k = 0; k < 30; ++k) EngineBlock::OutputSignalEnabled.Set(k, 0);
    const OutputRecord& o = c.output;
    EngineBlock::OutputSignalEnabled.Set(o.record, o.enabled);
    EngineBlock::OutputSignalPin.Set(o.record, o.pin);
    EngineBlock::OutputSignalPort.Set(o.record, o.port);
    EngineBlock::OutputSignalActiveLow.Set(o.record, o.activeLow);
    EngineBlock::OutputSignalState.Set(o.record, o.state);
    EXPECT_EQ(OutputPinMask(), c.mask) << c.name;
  }
}

TEST_F(OnlineCycle, TheOutputsGoOutWhenTheyChangeAndAgainAfterAReArming) {
  GoOnline();
  EngineBlock::OutputSignalEnabled.Set(2, 1);
  EngineBlock::OutputSignalPort.Set(2, 1);
  EngineBlock::OutputSignalPin.Set(2, 5);
  EngineBlock::OutputSignalState.Set(2, 1);
  EngineBlock::SoftLimitsOn.Set(1);
  Tick();
  auto sent = Received(link::CMD_SET_OUTPUTS);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].payload, (Bytes{0x10, 0, 0, 0, 0x01, 0}));
  EXPECT_EQ(controller->MachineStatus().OutputPins, 0x10u);

  Tick();
  EXPECT_THAT(Received(link::CMD_SET_OUTPUTS), IsEmpty());
  EngineBlock::OutputSignalState.Set(2, 0);
  Tick();
  Tick();
  sent = Received(link::CMD_SET_OUTPUTS);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].payload, (Bytes{0, 0, 0, 0, 0x01, 0}));

  RearmChangeDetection();
  Tick();
  EXPECT_EQ(Received(link::CMD_SET_OUTPUTS).size(), 1u);

  // Offline nothing is sent, and nothing counts as sent.
  link::Link().ControllerOnline = false;
  EngineBlock::OutputSignalState.Set(2, 1);
  Tick();
  link::Link().ControllerOnline = true;
  Cycle().LastStatusTick = platform::TickCount();
  Tick();
  sent = Received(link::CMD_SET_OUTPUTS);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].payload[0], 0x10);
}

TEST_F(OnlineCycle, TheControlFlagsCarryTheHostsSwitches) {
  GoOnline();
  struct Case {
    const char* name;
    std::function<void()> set;
    std::uint16_t flags;
  };
  const Case cases[] = {
      {"SoftLimits", [] { EngineBlock::SoftLimitsOn.Set(1); }, control_flag::kSoftLimits},
      {"ShuttleMode", [] { plugin::Updates().ShuttleMode = 1; }, control_flag::kShuttleMode},
      {"HostFlag2", [] { EngineBlock::ControlFlag2.Set(1); }, control_flag::kHostFlag2},
      {"PlasmaOnly", [] { EngineBlock::PlasmaMode.Set(1); }, control_flag::kPlasmaMode},
      {"CompareWithoutPlasma",
       [] {
         EngineBlock::CompareEnable.Set(1);
         EngineBlock::CompareValue.Set(-5);
         EngineBlock::CompareLimit.Set(3);
       },
       0},
      {"CompareBelowLimit",
       [] {
         EngineBlock::PlasmaMode.Set(1);
         EngineBlock::CompareEnable.Set(1);
         EngineBlock::CompareValue.Set(-5);
         EngineBlock::CompareLimit.Set(3);
       },
       control_flag::kPlasmaMode | control_flag::kCompareBelowLimit},
      {"CompareAtLimit",
       [] {
         EngineBlock::PlasmaMode.Set(1);
         EngineBlock::CompareEnable.Set(1);
         EngineBlock::CompareValue.Set(3);
         EngineBlock::CompareLimit.Set(3);
       },
       control_flag::kPlasmaMode},
      {"FeedholdRequestOnly", [] { PlannerBlock::FeedholdRequest.Set(1); }, 0},
      {"HardwareFeedhold",
       [] {
         PlannerBlock::FeedholdRequest.Set(1);
         PlannerBlock::HardwareFeedhold.Set(1);
       },
       control_flag::kHardwareFeedhold},
  };
  for (const Case& c : cases) {
    EngineBlock::SoftLimitsOn.Set(0);
    plugin::Updates().ShuttleMode = 0;
    EngineBlock::ControlFlag2.Set(0);
    EngineBlock::PlasmaMode.Set(0);
    EngineBlock::CompareEnable.Set(0);
    PlannerBlock::FeedholdRequest.Set(0);
    PlannerBlock::HardwareFeedhold.Set(0);
    c.set();
    RearmChangeDetection();
    Tick();
    Received();
    EXPECT_EQ(controller->ControlFlags(), c.flags) << c.name;
  }
}

// --- The windows the cycle feeds ---

TEST_F(OnlineCycle, TheStatusWindowAndTheThcPageGetEveryFrame) {
  GoOnline();
  std::vector<platform::Message> toStatus, toThcPage;
  platform::Window statusWindow = platform::MakeWindow([&](const platform::Message& m) {
    toStatus.push_back(m);
    return std::intptr_t{0};
  });
  platform::Window thcPage = platform::MakeWindow([&](const platform::Message& m) {
    toThcPage.push_back(m);
    return std::intptr_t{0};
  });
  ui::Windows().statusWindow = statusWindow;
  ui::Windows().thcOptionsPage = thcPage;
  ui::TheConfigDialog().thcOptions.THCtype = 2;
  settings::Process().LiveAnalogIndex = 3;
  FrameThenTick([](StatusRecord& s) {
    s.AnalogInputs = {10, 20, 30, 40000};
    s.ExecutingLine = 12;
  });
  platform::DispatchWaitingMessages();
  ASSERT_EQ(toStatus.size(), 1u);
  EXPECT_EQ(toStatus[0].id, ui::kMsgNewData);
  EXPECT_EQ(toStatus[0].wparam, reinterpret_cast<std::uintptr_t>(&Cycle().StatusCopy));
  EXPECT_EQ(toStatus[0].lparam, 1);
  EXPECT_EQ(Cycle().StatusCopy.ExecutingLine, 12);
  ASSERT_EQ(toThcPage.size(), 1u);
  EXPECT_EQ(toThcPage[0].wparam, 40000u);
  EXPECT_EQ(toThcPage[0].lparam, 0);

  // An analog input that does not exist is not read.
  settings::Process().LiveAnalogIndex = 4;
  FrameThenTick();
  platform::DispatchWaitingMessages();
  EXPECT_EQ(toStatus.size(), 2u);
  EXPECT_EQ(toThcPage.size(), 1u);

  // Closed windows get nothing.
  platform::DestroyWindow(statusWindow);
  platform::DestroyWindow(thcPage);
  settings::Process().LiveAnalogIndex = 0;
  FrameThenTick();
  platform::DispatchWaitingMessages();
  EXPECT_EQ(toStatus.size(), 2u);
  EXPECT_EQ(toThcPage.size(), 1u);
  ui::Windows() = ui::CycleWindows{};
}

}  // namespace
}  // namespace veltra::cycle

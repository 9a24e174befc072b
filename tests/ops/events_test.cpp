#include "ops/events.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vector>

#include "config/config_record.h"
#include "controller_fixture.h"
#include "cycle/cycle.h"
#include "cycle/motion.h"
#include "link/command_table.h"
#include "link/controller_socket.h"
#include "link/wire.h"
#include "ops/home.h"
#include "ops/probe.h"
#include "plugin/host_blocks.h"
#include "plugin/host_objects.h"
#include "plugin/plugin_state.h"
#include "plugin_fixture.h"
#include "settings/process_settings.h"
#include "ui/config_dialog.h"
#include "ui/modal.h"

namespace veltra::ops {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using veltra::testing::OnlinePluginTest;
using veltra::testing::PluginTest;
using Bytes = std::vector<std::uint8_t>;

struct Spindle {
  std::int32_t start;
  std::int32_t pwm;
  std::int32_t speed;
  std::int8_t direction;
  bool operator==(const Spindle&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Spindle& s) {
  return out << "{start " << s.start << ", pwm " << s.pwm << ", speed " << s.speed << ", direction "
             << int(s.direction) << "}";
}

Spindle Decode(std::span<const std::byte> payload) {
  return {wire::Get<std::uint8_t>(payload, spindle_payload::kStart),
          wire::Get<std::int32_t>(payload, spindle_payload::kPwm),
          wire::Get<std::int32_t>(payload, spindle_payload::kSpeed),
          wire::Get<std::int8_t>(payload, spindle_payload::kDirection)};
}

Spindle Decode(const Bytes& payload) { return Decode(std::as_bytes(std::span<const std::uint8_t>(payload))); }

struct SpindleCase {
  const char* name;
  std::int32_t pulley;
  std::int32_t pulleyMax;
  std::uint8_t pulleyReversed;
  std::int32_t direction;
  double ratio;
  bool bipolar;
  Spindle expected;
};

TEST_F(PluginTest, TheSpindleStartCarriesStepRateDirectionAndPwm) {
  settings::Process().preferences.Steps6 = 1000.0;
  settings::Process().preferences.Vel6 = 2.0;
  PlannerBlock::SpindleSpeed.Set(500.0);
  const SpindleCase cases[] = {
      {"Unipolar", 0, 1000, 0, 0, 0.5, false, {1, 32768, 1000, 1}},
      {"RatioAboveOneCountsAsOne", 0, 1000, 0, 0, 1.3, false, {1, 65536, 1000, 1}},
      {"BipolarReverse", 0, 1000, 0, 1, 0.5, true, {1, 49152, 1000, -1}},
      {"BipolarForward", 0, 1000, 0, 0, 0.5, true, {1, 16384, 1000, 1}},
      {"PulleyReverses", 3, 250, 1, 0, 0.0, false, {1, 0, 4000, -1}},
      {"PulleyReversesAReverse", 3, 250, 1, 1, 0.0, false, {1, 0, 4000, 1}},
      {"PulleyWithoutMaximum", 2, 0, 0, 0, 0.5, false, {1, 32768, 0, 1}},
      {"PulleyOutsideTheTable", 25, 1000, 1, 0, 0.5, false, {1, 32768, 0, 1}},
      {"NegativePulley", -1, 1000, 1, 1, 0.5, false, {1, 32768, 0, -1}},
  };
  for (const SpindleCase& c : cases) {
    for (int p = 0; p < 25; ++p) {
      PlannerBlock::PulleyMaxSpeed.Set(p, 1000);
      PlannerBlock::PulleyReversed.Set(p, 0);
    }
    PlannerBlock::CurrentPulley.Set(c.pulley);
    PlannerBlock::PulleyMaxSpeed.Set(c.pulley, c.pulleyMax);
    PlannerBlock::PulleyReversed.Set(c.pulley, c.pulleyReversed);
    PlannerBlock::SpindleDirection.Set(c.direction);
    PlannerBlock::SpindleRatio.Set(c.ratio);
    config::Uploaded().PwmBipolar = c.bipolar;
    HandleNotify(host_event::kSpindleSpeed);  // the spindle is off: only the copies change
    EXPECT_EQ(Decode(SpindleStartPayload()), c.expected) << c.name;
  }
}

class SpindleEvents : public OnlinePluginTest {
 protected:
  void SetUp() override {
    StartPlugin();
    GoOnline();
    settings::Process().preferences.Steps6 = 1000.0;
    settings::Process().preferences.Vel6 = 1.0;
    PlannerBlock::PulleyMaxSpeed.Set(0, 1000);
    config::TheConfigRecord().Set(config::ConfigField::SpindleMotorMode, config::SpindleMotor::StepDir);
    config::TheConfigRecord().Set(config::ConfigField::SpindlePwm, 4321);
  }
  std::vector<Spindle> SpindleCommands() {
    std::vector<Spindle> sent;
    for (const auto& command : Received(link::CMD_SPINDLE)) sent.push_back(Decode(command.payload));
    return sent;
  }
};

TEST_F(SpindleEvents, ASpeedChangeRestartsARunningSpindleOnly) {
  PlannerBlock::SpindleSpeed.Set(500.0);
  HandleNotify(host_event::kSpindleSpeed);
  EXPECT_THAT(SpindleCommands(), IsEmpty());
  HandleNotify(host_event::kSpindleStart);
  EXPECT_THAT(SpindleCommands(), ElementsAre(Spindle{1, 0, 500, 1}));
  EXPECT_EQ(PlannerBlock::SpindleOn.Get(), 1);
  EXPECT_TRUE(cycle::Motion().SpindleRunning);

  PlannerBlock::SpindleSpeed.Set(1200.0);
  HandleNotify(host_event::kSpindleSpeed);
  EXPECT_THAT(SpindleCommands(), ElementsAre(Spindle{1, 0, 1200, 1}));

  PlannerBlock::SpindleSpeed.Set(800.7);
  HandleNotify(host_event::kSpindleStop);
  EXPECT_THAT(SpindleCommands(), ElementsAre(Spindle{0, 4321, 800, 0}));
  EXPECT_EQ(PlannerBlock::SpindleOn.Get(), 0);
  EXPECT_FALSE(cycle::Motion().SpindleRunning);

  PlannerBlock::SpindleSpeed.Set(300.0);
  HandleNotify(host_event::kSpindleSpeed);
  EXPECT_THAT(SpindleCommands(), IsEmpty());
  EXPECT_EQ(ops::Spindle().SpindleSpeedCopy, 300.0);
}

TEST_F(SpindleEvents, APwmSpindleFollowingTheLaserTakesEverySpeedChange) {
  config::TheConfigRecord().Set(config::ConfigField::SpindleMotorMode, config::SpindleMotor::Pwm);
  config::TheConfigRecord().Set(config::ConfigField::LaserSyncOutput, std::uint8_t{3});
  PlannerBlock::SpindleSpeed.Set(250.0);
  PlannerBlock::SpindleRatio.Set(0.25);
  HandleNotify(host_event::kSpindleSpeed);
  EXPECT_THAT(SpindleCommands(), ElementsAre(Spindle{1, 16384, 250, 1}));
  EXPECT_EQ(PlannerBlock::SpindleOn.Get(), 1);
}

TEST_F(SpindleEvents, NoSpindleMotorStillGetsTheStartAndStop) {
  config::TheConfigRecord().Set(config::ConfigField::SpindleMotorMode, config::SpindleMotor::None);
  PlannerBlock::SpindleSpeed.Set(500.0);
  HandleNotify(host_event::kSpindleStart);
  HandleNotify(host_event::kSpindleStop);
  EXPECT_THAT(SpindleCommands(), ElementsAre(Spindle{1, 0, 0, 0}, Spindle{0, 0, 0, 0}));
}

TEST_F(SpindleEvents, NoStartInEStop) {
  EngineBlock::EStop.Set(1);
  HandleNotify(host_event::kSpindleStart);
  EXPECT_EQ(host.StatusLine(), "Cannot start Spindle in Estop!");
  EXPECT_THAT(SpindleCommands(), IsEmpty());
  EXPECT_EQ(PlannerBlock::SpindleOn.Get(), 0);
}

TEST_F(SpindleEvents, ATorchStartWaitsForTheArcAndItsStopReleasesTheWait) {
  EngineBlock::PlasmaMode.Set(1);
  ui::TheConfigDialog().thcOptions.THCDwell = 1;
  for (std::int32_t dwellTicks : {0, 5}) {
    HandleNotify(host_event::kSpindleStart);
    EXPECT_EQ(EngineBlock::DwellBusy.Get(), 1);
    EXPECT_TRUE(cycle::Motion().ArcWait);
    cycle::Motion().DwellTicks = dwellTicks;
    HandleNotify(host_event::kSpindleStop);
    EXPECT_FALSE(cycle::Motion().ArcWait);
    // A dwell still running keeps the host waiting; it ends by itself.
    EXPECT_EQ(EngineBlock::DwellBusy.Get(), dwellTicks == 0 ? 0 : 1) << dwellTicks;
  }
}

TEST_F(SpindleEvents, TheSWordSetsTheNominalVoltageInPlasmaMode) {
  EngineBlock::PlasmaMode.Set(1);
  ui::TheConfigDialog().thcOptions.THCSWord = 1;
  PlannerBlock::SpindleSpeed.Set(135.0);
  HandleNotify(host_event::kSpindleSpeed);
  EXPECT_EQ(settings::Process().THCnomvoltage, 135.0);
  EXPECT_EQ(host.Dro(1501), 135.0);
}

struct StopCase {
  const char* name;
  std::int32_t pwmEStop;
  double pwmAfter;
};

class StopEvent : public OnlinePluginTest, public ::testing::WithParamInterface<StopCase> {};

TEST_P(StopEvent, StopsTheControllerAndEndsEveryOperation) {
  const StopCase& c = GetParam();
  StartPlugin();
  GoOnline();
  ui::TheConfigDialog().specialFunctions.PWMEStop = c.pwmEStop;
  SetupBlock::UserVariable.Set(1600, 40.0);
  SetupBlock::UserVariable.Set(1601, 40.0);
  Homing().HomesPending = 2;
  EngineBlock::Homing.Set(1);
  EngineBlock::AxisHoming.Set(1, 1);
  ThePlanner().PlannerActive = true;
  EngineBlock::AxisProbing.Set(3, 1);
  EngineBlock::ThreadingActive.Set(1);
  PlannerBlock::VerifyActive.Set(1);
  EngineBlock::DwellBusy.Set(1);
  cycle::MotionState& motion = cycle::Motion();
  motion.SyncedMotionState = 4;
  motion.ArcWait = true;
  motion.MotionSequence = 99;

  HandleNotify(host_event::kStop);
  const auto stops = Received(link::CMD_STOP);
  ASSERT_EQ(stops.size(), 1u);
  EXPECT_THAT(stops[0].payload, IsEmpty());
  EXPECT_EQ(Homing().HomesPending, 0);
  EXPECT_EQ(EngineBlock::Homing.Get(), 0);
  EXPECT_EQ(EngineBlock::AxisHoming.Get(1), 0);
  EXPECT_FALSE(ThePlanner().PlannerActive);
  EXPECT_TRUE(ThePlanner().PlannerStopped);
  EXPECT_EQ(EngineBlock::AxisProbing.Get(3), 0);
  EXPECT_EQ(EngineBlock::ThreadingActive.Get(), 0);
  EXPECT_EQ(PlannerBlock::VerifyActive.Get(), 0);
  EXPECT_EQ(EngineBlock::DwellBusy.Get(), 0);
  EXPECT_EQ(motion.SyncedMotionState, 0);
  EXPECT_FALSE(motion.ArcWait);
  EXPECT_EQ(motion.MotionSequence, 0);
  EXPECT_TRUE(motion.MotionSyncPending);
  EXPECT_EQ(SetupBlock::UserVariable.Get(1600), c.pwmAfter);
  EXPECT_EQ(SetupBlock::UserVariable.Get(1601), c.pwmAfter);
  EXPECT_THAT(host.ButtonPresses(), ElementsAre(156));

  // Offline the controller is not told.
  link::Link().ControllerOnline = false;
  HandleNotify(host_event::kStop);
  link::Link().ControllerOnline = true;
  EXPECT_THAT(Received(link::CMD_STOP), IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(Cases, StopEvent,
                         ::testing::Values(StopCase{"ExtendedPwmOff", 1, 0.0}, StopCase{"ExtendedPwmKept", 0, 40.0}),
                         [](const auto& info) { return info.param.name; });

TEST_F(PluginTest, TheTuningWarningComesOnlyForAStepDirSpindleAfterStartUp) {
  const struct {
    const char* name;
    bool started;
    std::uint8_t axisEnabled, motorEnabled, pwmControl;
    bool warned;
  } cases[] = {
      {"StepDirSpindle", true, 1, 1, 0, true},     {"BeforeStartUp", false, 1, 1, 0, false},
      {"SpindleAxisOff", true, 0, 1, 0, false},    {"NoSpindleMotor", true, 1, 0, 0, false},
      {"PwmSpindle", true, 1, 1, 1, false},
  };
  for (const auto& c : cases) {
    plugin::State().PostInitDone = c.started;
    EngineBlock::AxisEnabled.Set(6, c.axisEnabled);
    PlannerBlock::SpindleMotorEnabled.Set(c.motorEnabled);
    PlannerBlock::SpindlePwmControl.Set(c.pwmControl);
    const std::size_t before = boxes.Shown().size();
    HandleNotify(host_event::kTuningChanged);
    EXPECT_EQ(boxes.Shown().size() - before, c.warned ? 1u : 0u) << c.name;
  }
  EXPECT_THAT(boxes.Texts(),
              ElementsAre("Warning: Mach3 needs to be restarted if spindle axis motor tunings are changed."));
}

TEST_F(PluginTest, FeedholdNeedsSomethingRunningAndNoSynchronisedMotion) {
  StartPlugin();
  const struct {
    const char* name;
    std::int32_t synced;
    std::int32_t runState;
    std::uint8_t controllerMode;
    const char* status;  // nullptr: the hold is taken
  } cases[] = {
      {"ProgramRuns", 0, 1, cycle::kModeIdle, nullptr},
      {"ControllerExecutes", 0, 0, cycle::kModeSegment, nullptr},
      {"NothingRuns", 0, 0, cycle::kModeHold, "Nothing to feedhold."},
      {"SynchronisedMotion", 1, 1, cycle::kModeSegment, "Feedhold not allowed during synced motion!"},
  };
  for (const auto& c : cases) {
    HandleNotify(host_event::kResume);
    EXPECT_TRUE(host.Led(804));
    EXPECT_FALSE(host.Led(805));
    EXPECT_EQ(PlannerBlock::FeedholdRequest.Get(), 0);
    host::AssignStatusText("");
    cycle::Motion().SyncedMotionState = c.synced;
    EngineBlock::RunState.Set(c.runState);
    cycle::Cycle().ControllerMode = c.controllerMode;
    HandleNotify(host_event::kFeedhold);
    const bool held = c.status == nullptr;
    EXPECT_EQ(host.StatusLine(), held ? "" : c.status) << c.name;
    EXPECT_EQ(PlannerBlock::FeedholdRequest.Get(), held ? 1 : 0) << c.name;
    EXPECT_EQ(PlannerBlock::FeedholdActive.Get(), held ? 1 : 0) << c.name;
    EXPECT_EQ(host.Led(804), !held) << c.name;
    EXPECT_EQ(host.Led(805), held) << c.name;
  }
}

TEST_F(PluginTest, TheOtherEventsAndTheMenuIds) {
  std::vector<ui::ModalDialog> dialogs;
  ui::SetModalDialogRunner([&](ui::ModalDialog dialog) {
    dialogs.push_back(dialog);
    return ui::DialogResult::Cancel;
  });
  StartPlugin();
  HandleNotify(host_event::kForceEStop);
  EXPECT_EQ(EngineBlock::EStop.Get(), 1);
  EXPECT_EQ(EngineBlock::EStopCause.Get(), 8);
  HandleNotify(host_event::kSyncedMotionAhead);
  EXPECT_EQ(cycle::Motion().SyncedMotionState, 1);
  HandleNotify(12345);
  EXPECT_THAT(dialogs, IsEmpty());
  HandleNotify(plugin::State().MenuBase);
  EXPECT_THAT(dialogs, ElementsAre(ui::ModalDialog::Configuration));
  ui::SetModalDialogRunner(nullptr);
}

TEST_F(PluginTest, ADwellCountsTicksAndNeverNone) {
  const struct {
    double time;
    std::uint8_t inMilliseconds;
    std::int32_t ticks;
  } cases[] = {
      {0.01, 0, 1}, {1.0, 0, 40}, {1000.0, 1, 40}, {2.5, 0, 100}, {0.0, 0, 1}, {-3.0, 0, 1}, {30.0, 1, 1},
  };
  for (const auto& c : cases) {
    EngineBlock::DwellBusy.Set(0);
    PlannerBlock::DwellInMilliseconds.Set(c.inMilliseconds);
    DoDwell(c.time);
    EXPECT_EQ(cycle::Motion().DwellTicks, c.ticks) << c.time << (c.inMilliseconds ? " ms" : " s");
    EXPECT_EQ(EngineBlock::DwellBusy.Get(), 1);
  }
}

}  // namespace
}  // namespace veltra::ops

// The torch height control and panel commands as the substitute controller
// receives them, and a plasma cut against its torch.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <vector>

#include "config/config_record.h"
#include "controller_fixture.h"
#include "cycle/cycle.h"
#include "cycle/motion.h"
#include "cycle/mpg.h"
#include "cycle/special_inputs.h"
#include "cycle/thc.h"
#include "link/command_table.h"
#include "link/controller_socket.h"
#include "loopback.h"
#include "ops/events.h"
#include "ops/reset.h"
#include "platform/keyboard.h"
#include "plugin/host_blocks.h"
#include "plugin/update.h"
#include "settings/process_settings.h"
#include "ui/config_dialog.h"

namespace veltra::cycle {
namespace {

using ::testing::IsEmpty;
using veltra::testing::OnlinePluginTest;

constexpr int kThcOn = 26;

ui::ThcOptionsPage& ThcOptions() { return ui::TheConfigDialog().thcOptions; }

class OnlineThc : public OnlinePluginTest {
 protected:
  ~OnlineThc() override {
    platform::SetNumLock(false);
    platform::SetKeyHeld(platform::Key::Numpad9, false);
    platform::SetKeyHeld(platform::Key::Numpad3, false);
  }
  void Tick() { RunCycle(); }
  // How many of each of the codes the controller received since the last look.
  std::map<std::uint8_t, int> Counts(const std::vector<std::uint8_t>& codes) {
    std::map<std::uint8_t, int> counts;
    for (std::uint8_t code : codes) counts[code] = 0;
    for (const auto& command : Received()) {
      if (counts.contains(command.code)) ++counts[command.code];
    }
    return counts;
  }
  static void SetEmulatedInput(int signal, bool active) {
    EngineBlock::InputSignalEnabled.Set(signal, 1);
    EngineBlock::InputSignalEmulated.Set(signal, 1);
    EngineBlock::InputSignalActive.Set(signal, active ? 1 : 0);
  }
};

struct ChangeCase {
  std::uint8_t code;
  std::function<void()> change;
};

TEST_F(OnlineThc, EveryChangeDetectedCommandGoesOutOncePerChangeAndAgainAfterReset) {
  StartPlugin();
  GoOnline();
  EngineBlock::PlasmaMode.Set(1);
  ThcOptions().THCtype = 2;
  PlannerBlock::AxisStepsPerUnit.Set(2, 1000.0);
  PlannerBlock::AxisMaxVelocity.Set(2, 1.0);
  PlannerBlock::ThcRate.Set(50.0);
  const ChangeCase changes[] = {
      {link::CMD_SET_INPUT_OVERRIDES, [] { SetEmulatedInput(2, true); }},
      {link::CMD_SET_MPG, [] { PlannerBlock::JogIncrement.Set(0.01); }},
      {link::CMD_SET_PWM_DUTY, [] { SetupBlock::UserVariable.Set(1600, 25.0); }},
      {link::CMD_SET_THC, [] { PlannerBlock::ThcRate.Set(60.0); }},
  };
  const std::vector<std::uint8_t> codes = {link::CMD_SET_INPUT_OVERRIDES, link::CMD_SET_MPG,
                                           link::CMD_SET_PWM_DUTY,        link::CMD_SET_THC,
                                           link::CMD_SET_JOYSTICK,        link::CMD_SET_THC_PID};
  const auto once = [&](std::vector<std::uint8_t> sent) {
    std::map<std::uint8_t, int> expected;
    for (std::uint8_t code : codes) expected[code] = 0;
    for (std::uint8_t code : sent) expected[code] = 1;
    return expected;
  };

  Tick();
  EXPECT_EQ(Counts(codes),
            once({link::CMD_SET_INPUT_OVERRIDES, link::CMD_SET_MPG, link::CMD_SET_PWM_DUTY, link::CMD_SET_THC}));
  Tick();
  Tick();
  EXPECT_EQ(Counts(codes), once({})) << "nothing changed";

  for (const ChangeCase& c : changes) {
    c.change();
    Tick();
    Tick();
    EXPECT_EQ(Counts(codes), once({c.code})) << int(c.code);
  }

  // A Reset connects afresh: everything goes out again, with the PID
  // constants and the joystick configuration it asks for.
  ops::Reset();
  ASSERT_TRUE(link::Link().ControllerOnline);
  Received();
  Tick();
  EXPECT_EQ(Counts(codes), once(codes));
  Tick();
  EXPECT_EQ(Counts(codes), once({}));
  // What the controller holds is what the host asked for last; the Reset
  // itself turned the PWM outputs off (PWMEStop).
  const emu::PanelSettings panel = controller->Panel();
  ASSERT_TRUE(panel.pwmDuties.has_value());
  EXPECT_EQ(*panel.pwmDuties, (PwmDuties{0, 0}));
  ASSERT_TRUE(panel.inputOverrides.has_value());
  EXPECT_EQ(*panel.inputOverrides, 1u);
  ASSERT_TRUE(controller->Torch().parameters.has_value());
  EXPECT_EQ(controller->Torch().parameters->Speed, 600);
}

TEST_F(OnlineThc, NothingGoesOutOfflineAndNothingCountsAsSent) {
  GoOnline();
  link::Link().ControllerOnline = false;
  EngineBlock::PlasmaMode.Set(1);
  Special().JoystickPending = true;
  Thc().PidConstantsPending = true;
  Tick();
  EXPECT_THAT(Received(), IsEmpty());
  EXPECT_TRUE(Special().JoystickPending);
  EXPECT_TRUE(Thc().PidConstantsPending);

  link::Link().ControllerOnline = true;
  Cycle().LastStatusTick = platform::TickCount();
  Tick();
  const std::vector<std::uint8_t> codes = {link::CMD_SET_INPUT_OVERRIDES, link::CMD_SET_MPG,
                                           link::CMD_SET_PWM_DUTY,        link::CMD_SET_THC,
                                           link::CMD_SET_JOYSTICK,        link::CMD_SET_THC_PID};
  for (const auto& [code, count] : Counts(codes)) EXPECT_EQ(count, 1) << int(code);
}

// --- The THC commands ---

TEST_F(OnlineThc, OutsidePlasmaModeTheParametersFollowOnlyTheTorchInput) {
  GoOnline();
  Tick();
  EXPECT_THAT(Received(link::CMD_SET_THC), IsEmpty()) << "input 0, as the controller starts";

  ThcOptions().THCAnsel = 2;
  Tick();
  EXPECT_EQ(Received(link::CMD_SET_THC).size(), 1u);
  ThcOptions().THChystvoltage = 7.5f;
  Tick();
  EXPECT_THAT(Received(link::CMD_SET_THC), IsEmpty());

  EngineBlock::PlasmaMode.Set(1);
  Tick();
  EXPECT_EQ(Received(link::CMD_SET_THC).size(), 1u);
  const ThcParameters parameters = *controller->Torch().parameters;
  EXPECT_EQ(parameters.AnalogInput, 2);
  EXPECT_EQ(parameters.Hysteresis, 75);
  EXPECT_EQ(parameters.LowPassB0, 4480);
  EXPECT_EQ(parameters.LowPassB1, 4480);
  EXPECT_EQ(parameters.LowPassA1, -23806);
}

TEST_F(OnlineThc, TheSpeedFollowsNumLockWhileTheKeysNeedManualThc) {
  GoOnline();
  EngineBlock::PlasmaMode.Set(1);
  PlannerBlock::AxisStepsPerUnit.Set(2, 1000.0);
  PlannerBlock::AxisMaxVelocity.Set(2, 2.0);
  PlannerBlock::ThcRate.Set(100.0);
  ThcOptions().ManualSpeed = 25;
  ThcOptions().ManualTHC = 0;
  SetEmulatedInput(0, true);  // LimitX+: bit 12
  platform::SetNumLock(true);
  platform::SetKeyHeld(platform::Key::Numpad9, true);
  Tick();
  Received();
  EXPECT_EQ(controller->Torch().parameters->Speed, 500);
  EXPECT_EQ(*controller->Panel().inputOverrides, 1u << 12) << "no manual bits without manual THC";

  platform::SetNumLock(false);
  Tick();
  Received();
  EXPECT_EQ(controller->Torch().parameters->Speed, 2000);
}

// The THC on signal starts active; without the spindle rule or an input of
// its own, the consumables step of the same tick takes it from arc OK.
struct OverrideCase {
  const char* name;
  std::function<void()> set;
  std::uint32_t bits;
  std::uint8_t thcOnAfter;
};

class InputOverrides : public OnlineThc, public ::testing::WithParamInterface<OverrideCase> {};

TEST_P(InputOverrides, CarryTheEmulatedInputsTheSpindlesTorchAndTheKeys) {
  const OverrideCase& c = GetParam();
  GoOnline();
  EngineBlock::InputSignalActive.Set(kThcOn, 1);
  c.set();
  Tick();
  Received();
  ASSERT_TRUE(controller->Panel().inputOverrides.has_value());
  EXPECT_EQ(*controller->Panel().inputOverrides, c.bits);
  EXPECT_EQ(EngineBlock::InputSignalActive.Get(kThcOn), c.thcOnAfter);
}

INSTANTIATE_TEST_SUITE_P(Cases, InputOverrides,
                         ::testing::Values(OverrideCase{"NoneEmulated", [] {}, 0, 0},
                                           OverrideCase{"EmulatedAndActive",
                                                        [] {
                                                          for (int signal : {2, 16, 44, 25, 28}) {
                                                            EngineBlock::InputSignalEnabled.Set(signal, 1);
                                                            EngineBlock::InputSignalEmulated.Set(signal, 1);
                                                            EngineBlock::InputSignalActive.Set(signal, 1);
                                                          }
                                                        },
                                                        (1u << 0) | (1u << 11) | (1u << 20) | (1u << 21) | (1u << 24),
                                                        0},
                                           OverrideCase{"NotEmulatedOrNotEnabledOrInactive",
                                                        [] {
                                                          EngineBlock::InputSignalEnabled.Set(5, 1);
                                                          EngineBlock::InputSignalActive.Set(5, 1);
                                                          EngineBlock::InputSignalEmulated.Set(8, 1);
                                                          EngineBlock::InputSignalActive.Set(8, 1);
                                                          EngineBlock::InputSignalEnabled.Set(11, 1);
                                                          EngineBlock::InputSignalEmulated.Set(11, 1);
                                                        },
                                                        0, 0},
                                           OverrideCase{"TorchOnWithTheSpindle",
                                                        [] {
                                                          EngineBlock::ThcOnFromSpindle.Set(1);
                                                          EngineBlock::PlasmaMode.Set(1);
                                                          PlannerBlock::SpindleOn.Set(1);
                                                        },
                                                        1u << 22, 1},
                                           OverrideCase{"TorchOffWithTheSpindle",
                                                        [] {
                                                          EngineBlock::ThcOnFromSpindle.Set(1);
                                                          EngineBlock::PlasmaMode.Set(1);
                                                        },
                                                        1u << 22, 0},
                                           OverrideCase{"NoTorchOutsidePlasmaMode",
                                                        [] {
                                                          EngineBlock::ThcOnFromSpindle.Set(1);
                                                          PlannerBlock::SpindleOn.Set(1);
                                                        },
                                                        0, 0},
                                           OverrideCase{"TheTorchsOwnInputRules",
                                                        [] {
                                                          EngineBlock::ThcOnFromSpindle.Set(1);
                                                          EngineBlock::PlasmaMode.Set(1);
                                                          EngineBlock::InputSignalEnabled.Set(kThcOn, 1);
                                                        },
                                                        0, 1},
                                           OverrideCase{"ManualModeTakesTheHomeInputsOut",
                                                        [] {
                                                          ui::TheConfigDialog().thcOptions.ManualTHC = 1;
                                                          platform::SetNumLock(true);
                                                          for (int signal : {2, 5, 8, 11, 14, 17}) {
                                                            EngineBlock::InputSignalEnabled.Set(signal, 1);
                                                            EngineBlock::InputSignalEmulated.Set(signal, 1);
                                                            EngineBlock::InputSignalActive.Set(signal, 1);
                                                          }
                                                        },
                                                        (1u << 31) | (1u << 5), 0},
                                           OverrideCase{"ManualUp",
                                                        [] {
                                                          ui::TheConfigDialog().thcOptions.ManualTHC = 1;
                                                          platform::SetNumLock(true);
                                                          EngineBlock::PlasmaMode.Set(1);
                                                          platform::SetKeyHeld(platform::Key::Numpad9, true);
                                                          platform::SetKeyHeld(platform::Key::Numpad3, true);
                                                        },
                                                        (1u << 31) | (1u << 23), 0},
                                           OverrideCase{"ManualDown",
                                                        [] {
                                                          ui::TheConfigDialog().thcOptions.ManualTHC = 1;
                                                          platform::SetNumLock(true);
                                                          EngineBlock::PlasmaMode.Set(1);
                                                          platform::SetKeyHeld(platform::Key::Numpad3, true);
                                                        },
                                                        (1u << 31) | (1u << 24), 0},
                                           OverrideCase{"NoKeysInEStop",
                                                        [] {
                                                          ui::TheConfigDialog().thcOptions.ManualTHC = 1;
                                                          platform::SetNumLock(true);
                                                          EngineBlock::PlasmaMode.Set(1);
                                                          EngineBlock::EStop.Set(1);
                                                          platform::SetKeyHeld(platform::Key::Numpad9, true);
                                                        },
                                                        1u << 31, 0},
                                           OverrideCase{"NoKeysWithoutNumLock",
                                                        [] {
                                                          ui::TheConfigDialog().thcOptions.ManualTHC = 1;
                                                          EngineBlock::PlasmaMode.Set(1);
                                                          platform::SetKeyHeld(platform::Key::Numpad9, true);
                                                        },
                                                        0, 0}),
                         [](const auto& info) { return info.param.name; });

TEST_F(OnlineThc, ThePidConstantsGoOutWhenAsked) {
  GoOnline();
  PlannerBlock::AxisStepsPerUnit.Set(2, 1000.0);
  ThcOptions().thcPidPreset = 2;
  Tick();
  EXPECT_THAT(Received(link::CMD_SET_THC_PID), IsEmpty());
  Thc().PidConstantsPending = true;
  Tick();
  Tick();
  const auto sent = Received(link::CMD_SET_THC_PID);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].payload.size(), 16u);
  const ThcPidConstants pid = *controller->Torch().pid;
  EXPECT_FLOAT_EQ(pid.P, 0.3f);
  EXPECT_FLOAT_EQ(pid.I, 0.0001f);
  EXPECT_FLOAT_EQ(pid.D, 6.0f);
}

// --- The panel's commands ---

TEST_F(OnlineThc, AStepTooSmallIsReportedOncePerChangeAndSentAsTheSmallest) {
  GoOnline();
  config::Uploaded().MpgCountsPerUnit = {100.0, 0.001, 0.001};
  PlannerBlock::JogIncrement.Set(0.00001);
  const std::uint32_t before = host.StatusSerial();
  Tick();
  Tick();
  EXPECT_EQ(host.StatusLine(), "MPG step too small, using min.");
  EXPECT_EQ(host.StatusSerial(), before + 1);
  EXPECT_EQ(Received(link::CMD_SET_MPG).size(), 1u);
  EXPECT_EQ(controller->Panel().mpg->Step, (std::array<std::int32_t, 3>{1, 400, 400}));

  // Every step too small: still one message for the change.
  PlannerBlock::JogIncrement.Set(0.00000001);
  Tick();
  EXPECT_EQ(host.StatusSerial(), before + 2);
  EXPECT_EQ(Received(link::CMD_SET_MPG).size(), 1u);
  EXPECT_EQ(controller->Panel().mpg->Step, (std::array<std::int32_t, 3>{1, 1, 1}));
}

struct MpgCase {
  const char* name;
  std::function<void()> set;
  std::function<void(MpgConfig&)> expect;
};

class MpgConfiguration : public OnlineThc, public ::testing::WithParamInterface<MpgCase> {};

TEST_P(MpgConfiguration, CarriesTheAxesStepsFeedLimitAndMode) {
  const MpgCase& c = GetParam();
  GoOnline();
  PlannerBlock::JogIncrement.Set(0.01);
  config::Uploaded().MpgCountsPerUnit = {4.0, 0.0, 8.0};
  PlannerBlock::SelectedAxis.Set(1);
  PlannerBlock::Mpg2Axis.Set(2);
  PlannerBlock::Mpg3Axis.Set(3);
  c.set();
  Tick();
  Received();
  MpgConfig expected;
  expected.Axis = {1, 2, 3};
  expected.Step = {100, 400, 50};  // 0.01 / counts per unit x 40000, a scale of 0 taken as 1
  c.expect(expected);
  ASSERT_TRUE(controller->Panel().mpg.has_value());
  EXPECT_EQ(*controller->Panel().mpg, expected);
}

const auto kHardwareMpgJog = [] {
  config::Uploaded().HwMpgActive = true;
  PlannerBlock::JogMode.Set(2);
};

INSTANTIATE_TEST_SUITE_P(Cases, MpgConfiguration,
                         ::testing::Values(MpgCase{"Plain", [] {}, [](MpgConfig&) {}},
                                           MpgCase{"AxesAboveTheSpindleAreTheSpindle",
                                                   [] {
                                                     PlannerBlock::SelectedAxis.Set(9);
                                                     PlannerBlock::Mpg2Axis.Set(-1);
                                                     PlannerBlock::Mpg3Axis.Set(0x105);
                                                   },
                                                   [](MpgConfig& m) {
                                                     m.Axis = {6, 6, 5};
                                                   }},
                                           MpgCase{"FeedLimit",
                                                   [] {
                                                     ui::TheConfigDialog().general.MPGfeedlimit = 1;
                                                     PlannerBlock::MpgFeedRate.Set(619.0);
                                                   },
                                                   [](MpgConfig& m) { m.FeedLimit = 10; }},
                                           MpgCase{"NoFeedLimitWithoutTheSetting",
                                                   [] { PlannerBlock::MpgFeedRate.Set(619.0); }, [](MpgConfig&) {}},
                                           MpgCase{"HardwareMpgJog", kHardwareMpgJog, [](MpgConfig& m) { m.Mode = 1; }},
                                           MpgCase{"HardwareMpgInShuttleMode",
                                                   [] {
                                                     kHardwareMpgJog();
                                                     plugin::Updates().ShuttleMode = 1;
                                                   },
                                                   [](MpgConfig&) {}},
                                           MpgCase{"NotInMpgJogMode",
                                                   [] {
                                                     kHardwareMpgJog();
                                                     PlannerBlock::JogMode.Set(0);
                                                   },
                                                   [](MpgConfig&) {}},
                                           MpgCase{"NoHardwareMpg",
                                                   [] {
                                                     kHardwareMpgJog();
                                                     config::Uploaded().HwMpgActive = false;
                                                   },
                                                   [](MpgConfig&) {}}),
                         [](const auto& info) { return info.param.name; });

TEST_F(OnlineThc, TheJoystickGoesOutOncePerConnectionWithItsSpeedsInSteps) {
  GoOnline();
  settings::JoystickSettings& joystick = settings::Process().joystick;
  joystick.JoyEna = 1;
  joystick.axes[0].Ena = 1;
  joystick.axes[1] = {'Y', 1, 3, 2400, 150, 4000, 50, 1};
  joystick.axes[2].Ena = 0;
  for (int j = 0; j < 3; ++j) {
    PlannerBlock::AxisMaxVelocity.Set(j, 10.0);
    PlannerBlock::AxisStepsPerUnit.Set(j, 1000.0);
  }
  Tick();
  EXPECT_THAT(Received(link::CMD_SET_JOYSTICK), IsEmpty());

  Special().JoystickPending = true;
  Tick();
  Tick();
  const auto sent = Received(link::CMD_SET_JOYSTICK);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].payload.size(), 34u);
  JoystickConfig expected;
  expected.EnabledAxes = 0x3;
  expected.AnalogInput = {0, 3, 0};
  expected.Neutral = {2500, 2400, 2500};
  expected.DeadZone = {100, 150, 100};
  expected.FullWidth = {4500, 4000, 4500};
  expected.Speed = {10000, -5000, 10000};
  EXPECT_EQ(*controller->Panel().joystick, expected);

  joystick.JoyEna = 0;
  Special().JoystickPending = true;
  Tick();
  Received();
  EXPECT_EQ(controller->Panel().joystick->EnabledAxes, 0) << "the master switch";
}

TEST_F(OnlineThc, TheExtendedPwmDutiesGoOutAtOnceAndWithinTheirRange) {
  GoOnline();
  Tick();
  ASSERT_EQ(Received(link::CMD_SET_PWM_DUTY).size(), 1u) << "the first tick online sends them, zero or not";
  EXPECT_EQ(*controller->Panel().pwmDuties, (PwmDuties{0, 0}));

  const struct {
    double percent1, percent2;
    PwmDuties duties;
  } cases[] = {{50.0, 150.0, {32767, 65535}}, {-5.0, 100.0, {0, 65535}}, {0.1, 99.99, {65, 65528}}};
  for (const auto& c : cases) {
    SetupBlock::UserVariable.Set(1600, c.percent1);
    SetupBlock::UserVariable.Set(1601, c.percent2);
    Tick();
    Received();
    EXPECT_EQ(*controller->Panel().pwmDuties, c.duties) << c.percent1 << ", " << c.percent2;
  }
}

TEST_F(OnlineThc, ACounterTurnedAtTheControllerDrivesItsFunction) {
  StartPlugin();
  GoOnline();
  config::Uploaded().SpecialFunctions[8] = {special_function::kFeedOverride, 0, 0, 0, 0, "Mpg1"};
  config::Uploaded().EncoderWired[4] = true;
  PlannerBlock::EncoderScale.Set(4, 4.0);
  host.SetDroValue(821, 100.0);
  controller->TurnCounter(4, 1000);
  Special().EncoderRebase = true;
  SendFrame();
  Tick();
  EXPECT_EQ(host.Dro(821), 100.0);
  controller->TurnCounter(4, 10);
  SendFrame();
  Tick();
  EXPECT_EQ(host.Dro(821), 102.5);
}

// --- A plasma cut against the controller's torch ---

TEST_F(OnlineThc, ACutFiresTheTorchReleasesTheMotionOnTheArcAndCountsTheConsumables) {
  StartPlugin();
  ui::ThcOptionsPage& thc = ThcOptions();
  thc.THCtype = 1;
  thc.THCarcDetect = 1;
  thc.THCDwell = 1;
  settings::Process().THCnomvoltage = 120.0;
  host.SetDroValue(1501, 120.0);
  host.SetDroValue(1502, 100.0);
  host.SetDroValue(177, 0.1);  // pierce delay, s
  EngineBlock::PlasmaMode.Set(1);
  PlannerBlock::AxisStepsPerUnit.Set(2, 1000.0);
  PlannerBlock::AxisMaxVelocity.Set(2, 2.0);
  PlannerBlock::ThcRate.Set(100.0);
  PlannerBlock::ThcZMin.Set(-5.0);
  PlannerBlock::ThcZMax.Set(5.0);
  ASSERT_NO_FATAL_FAILURE(StartController());
  ops::Reset();
  ASSERT_TRUE(link::Link().ControllerOnline);
  host.StartUpdates();
  ASSERT_TRUE(host.RunUntil([&] { return controller->Torch().parameters.has_value(); }, 2000));

  ops::HandleNotify(ops::host_event::kSpindleStart);
  EXPECT_TRUE(Motion().ArcWait);
  EXPECT_EQ(EngineBlock::DwellBusy.Get(), 1);
  ASSERT_TRUE(host.RunUntil([] { return !Motion().ArcWait; }, 3000)) << "the arc never came";
  EXPECT_TRUE(controller->Torch().arcOk);
  EXPECT_EQ(EngineBlock::DwellBusy.Get(), 0);
  EXPECT_EQ(EngineBlock::InputSignalActive.Get(kThcOn), 1);
  EXPECT_EQ(settings::Process().consumables.THCIgnitionCnt, 1);

  // The torch starts on the plate at 80 V; the regulator lifts it towards
  // 120 V, and the host shows the voltage and the correction.
  ASSERT_TRUE(host.RunUntil([&] { return host.Dro(1500) > 110.0; }, 3000)) << host.Dro(1500);
  EXPECT_GT(EngineBlock::ThcZOffset.Get(), 1000);
  EXPECT_LE(EngineBlock::ThcZOffset.Get(), 5000);

  ops::HandleNotify(ops::host_event::kSpindleStop);
  ASSERT_TRUE(host.RunUntil([] { return EngineBlock::InputSignalActive.Get(kThcOn) == 0; }, 2000));
  host.RunFor(100);
  const std::int32_t cutTime = settings::Process().consumables.THCCutTime;
  EXPECT_GT(cutTime, 500);
  host.RunFor(200);
  EXPECT_EQ(settings::Process().consumables.THCCutTime, cutTime) << "the torch is out";
  EXPECT_EQ(settings::Process().consumables.THCIgnitionCnt, 1);
  EXPECT_FALSE(controller->Torch().fired);
  host.StopUpdates();
}

}  // namespace
}  // namespace veltra::cycle

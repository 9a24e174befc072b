// The substitute controller's plasma torch and operator panel, report by
// report on a clock of the test's own.
#include "torch.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <vector>

#include "cycle/cycle_commands.h"
#include "cycle/special_input_commands.h"
#include "link/command_table.h"
#include "machine.h"
#include "payload_bytes.h"
#include "panel.h"

namespace veltra::emu {
namespace {

using namespace std::chrono_literals;
using Clock = PlasmaTorch::Clock;
using Bytes = std::vector<std::uint8_t>;
namespace flag = cycle::status_flag;

constexpr std::uint16_t kTorchFlags =
    flag::kThcRunning | flag::kArcOk | flag::kThcUp | flag::kThcDown | flag::kSampleTorchVoltage;
constexpr double kStepsPerUnit = 100.0;
const Clock::time_point kStart = Clock::time_point{} + 1000s;

ReceivedCommand Spindle(bool start) {
  Bytes payload(10, 0);
  payload[0] = start ? 1 : 0;
  return {link::CMD_SPINDLE, payload};
}

// Up/down regulation to 100 V within 5 V on input 2, 250 V at full scale,
// 1000 steps per second, a pierce delay of 300 ms, Z limited to -10..+10
// units.
cycle::ThcParameters UpDown() {
  cycle::ThcParameters p;
  p.Type = 1;
  p.AnalogInput = 1;
  p.Nominal = 1000;
  p.Hysteresis = 50;
  p.FullScale = 250;
  p.Speed = 1000;
  p.PierceDelay = 300;
  p.ZMin = -1000;
  p.ZMax = 1000;
  return p;
}

class Torch : public ::testing::Test {
 protected:
  void Configure(const cycle::ThcParameters& parameters) {
    torch.Execute({link::CMD_SET_THC, BytesOf(cycle::EncodeThcParameters(parameters))});
  }
  void Keys(std::uint32_t overrides) {
    torch.Execute({link::CMD_SET_INPUT_OVERRIDES, BytesOf(cycle::EncodeInputOverrides(overrides))});
  }
  // The report at that time after the start, with Z at the given steps.
  cycle::StatusRecord At(Clock::duration since, std::int32_t z = 0, bool plasma = true) {
    status.StepPositions[2] = z;
    torch.Report(kStart + since, plasma, kStepsPerUnit, status);
    return status;
  }
  static double RawVolts(const cycle::StatusRecord& s) { return s.AnalogInputs[1] * 250.0 / 65536.0; }

  PlasmaTorch torch;
  cycle::StatusRecord status;
};

TEST_F(Torch, TheArcFormsAfterIgnitionAndArcOkFollowsThePierce) {
  Configure(UpDown());
  torch.Execute(Spindle(true));
  cycle::StatusRecord s = At(0ms);
  EXPECT_EQ(s.Flags & kTorchFlags, 0);
  EXPECT_EQ(s.AnalogInputs[1], 0);

  // On the plate: 80 V; no regulation before the pierce is through.
  s = At(100ms);
  EXPECT_TRUE(torch.State().arcOn);
  EXPECT_EQ(s.Flags & kTorchFlags, 0);
  EXPECT_NEAR(RawVolts(s), 80.0, 0.01);
  EXPECT_EQ(s.ThcOffset, 0);

  // From the pierce on, the regulator lifts the torch until the voltage is
  // within the hysteresis: 95 V at 0.75 units.
  s = At(300ms);
  EXPECT_EQ(s.Flags & kTorchFlags, flag::kArcOk | flag::kThcRunning | flag::kThcUp);
  EXPECT_EQ(s.ThcOffset, 75);
  EXPECT_NEAR(RawVolts(s), 95.0, 0.01);
  s = At(400ms);
  EXPECT_EQ(s.Flags & kTorchFlags, flag::kArcOk | flag::kThcRunning) << "within the hysteresis it holds";
  EXPECT_EQ(s.ThcOffset, 75);

  // Stopped: one report shows no arc and no correction, later ones leave the
  // status alone.
  torch.Execute(Spindle(false));
  s = At(500ms);
  EXPECT_EQ(s.Flags & kTorchFlags, 0);
  EXPECT_EQ(s.AnalogInputs[1], 0);
  EXPECT_EQ(s.ThcOffset, 0);
  status.AnalogInputs[1] = 1234;
  status.Flags = flag::kArcOk;
  s = At(600ms);
  EXPECT_EQ(s.AnalogInputs[1], 1234);
  EXPECT_EQ(s.Flags, flag::kArcOk);
}

TEST_F(Torch, TooHighATorchGoesDownAsFarAsTheLimit) {
  cycle::ThcParameters p = UpDown();
  p.ZMin = 500;  // absolute: the torch may not go below 5 units
  p.PierceDelay = 0;
  Configure(p);
  torch.Execute(Spindle(true));
  At(0ms, 1000);  // 10 units up: 280 V
  const cycle::StatusRecord s = At(2s, 1000);
  EXPECT_EQ(s.Flags & kTorchFlags, flag::kArcOk | flag::kThcRunning | flag::kThcDown);
  EXPECT_EQ(s.ThcOffset, -500);
  EXPECT_NEAR(RawVolts(s), 180.0, 0.01);
}

TEST_F(Torch, TheProportionalRegulatorSettlesOnTheTarget) {
  cycle::ThcParameters p = UpDown();
  p.Type = 2;
  p.PierceDelay = 0;
  p.VoltageOverride = 1100;  // 110 %: 110 V
  Configure(p);
  torch.Execute(Spindle(true));
  At(0ms);
  const cycle::StatusRecord s = At(2s);
  EXPECT_NEAR(torch.State().volts, 110.0, 0.1);
  EXPECT_NEAR(s.ThcOffset, 150, 1);
}

TEST_F(Torch, TheSampledVoltageModeSamplesOnceAndHoldsIt) {
  cycle::ThcParameters p = UpDown();
  p.Type = 1 | cycle::kThcTypeSampleVoltage;
  p.PierceDelay = 100;
  Configure(p);
  torch.Execute(Spindle(true));
  At(0ms, 50);  // 0.5 units: 90 V
  EXPECT_EQ(At(250ms, 50).Flags & flag::kSampleTorchVoltage, 0);
  EXPECT_EQ(At(300ms, 50).Flags & flag::kSampleTorchVoltage, flag::kSampleTorchVoltage);
  EXPECT_DOUBLE_EQ(torch.State().sampledVolts, 90.0);
  const cycle::StatusRecord s = At(600ms, 50);
  EXPECT_EQ(s.Flags & flag::kSampleTorchVoltage, 0);
  EXPECT_EQ(s.ThcOffset, 0) << "the sampled voltage is the target";
}

TEST_F(Torch, TheManualKeysMoveTheTorchWithoutTheRegulator) {
  cycle::ThcParameters p = UpDown();
  p.Type = 0;
  p.PierceDelay = 0;
  Configure(p);
  torch.Execute(Spindle(true));
  At(0ms);
  Keys(cycle::input_override::kManualThc | cycle::input_override::kThcUp);
  EXPECT_EQ(At(100ms).ThcOffset, 100);
  Keys(cycle::input_override::kManualThc | cycle::input_override::kThcDown);
  const cycle::StatusRecord s = At(150ms);
  EXPECT_EQ(s.ThcOffset, 50);
  EXPECT_EQ(s.Flags & kTorchFlags, flag::kArcOk | flag::kThcDown) << "external THC: no regulator running";
  Keys(cycle::input_override::kManualThc);
  EXPECT_EQ(At(200ms).ThcOffset, 50);
}

TEST_F(Torch, OutsidePlasmaModeTheSpindleIsNoTorch) {
  Configure(UpDown());
  torch.Execute(Spindle(true));
  status.AnalogInputs[1] = 777;
  status.Flags = flag::kThcUp;
  const cycle::StatusRecord s = At(1s, 0, false);
  EXPECT_EQ(s.AnalogInputs[1], 777);
  EXPECT_EQ(s.Flags, flag::kThcUp);
  EXPECT_FALSE(torch.State().arcOn);
}

TEST(TorchInTheMachine, PlasmaModeAndZScaleComeFromTheHostAndAnEStopPutsTheTorchOut) {
  cycle::StatusRecord initial;
  SimulatedMachine machine(initial, kStart);
  config::ConfigRecord record;
  record.Set(config::AxisConfig::StepsPerUnit, 2, 100);
  Bytes configuration(config::kConfigRecordSize);
  std::memcpy(configuration.data(), record.Bytes().data(), configuration.size());
  machine.Execute({link::CMD_CONFIGURE, configuration});
  machine.Execute({link::CMD_SET_OUTPUTS, {0, 0, 0, 0, cycle::control_flag::kPlasmaMode, 0}});
  cycle::ThcParameters p = UpDown();
  p.PierceDelay = 0;
  machine.Execute({link::CMD_SET_THC, BytesOf(cycle::EncodeThcParameters(p))});
  machine.Execute(Spindle(true));
  machine.Report(kStart);
  cycle::StatusRecord s = machine.Report(kStart + 300ms);
  EXPECT_EQ(s.Flags & kTorchFlags, flag::kArcOk | flag::kThcRunning | flag::kThcUp);
  EXPECT_EQ(s.ThcOffset, 75) << "at 100 steps per unit";

  machine.EnterEStop(kFaultEStop);
  s = machine.Report(kStart + 400ms);
  EXPECT_EQ(s.Flags & kTorchFlags, 0);
  EXPECT_FALSE(machine.Torch().State().fired);
}

// --- The panel ---

TEST(Panel, KeepsTheLastConfigurationOfEachKind) {
  PanelInputs panel;
  EXPECT_FALSE(panel.Settings().mpg.has_value());
  cycle::MpgConfig mpg;
  mpg.Axis = {1, 2, 6};
  mpg.Step = {40, -1, 7};
  mpg.FeedLimit = 3;
  mpg.Mode = 1;
  cycle::JoystickConfig joystick;
  joystick.EnabledAxes = 5;
  joystick.Speed = {1, -2, 3};
  panel.Execute({link::CMD_SET_MPG, BytesOf(cycle::EncodeMpgConfig(mpg))});
  panel.Execute({link::CMD_SET_PWM_DUTY, BytesOf(cycle::EncodePwmDuties({100, 65535}))});
  panel.Execute({link::CMD_SET_JOYSTICK, BytesOf(cycle::EncodeJoystickConfig(joystick))});
  panel.Execute({link::CMD_SET_INPUT_OVERRIDES, BytesOf(cycle::EncodeInputOverrides(0x80000003u))});
  panel.Execute({link::CMD_KEEPALIVE, {}});
  EXPECT_EQ(panel.Settings().mpg, mpg);
  EXPECT_EQ(panel.Settings().pwmDuties, (cycle::PwmDuties{100, 65535}));
  EXPECT_EQ(panel.Settings().joystick, joystick);
  EXPECT_EQ(panel.Settings().inputOverrides, 0x80000003u);
}

TEST(Panel, CountersTurnAtTheirRatesKeepingWhatIsLeftOfACount) {
  PanelInputs panel;
  panel.SetCounterRates({10, -3, 0, 0, 0, 0, 1000});
  cycle::StatusRecord s;
  s.EncoderCounts[6] = 2147483500;
  panel.Report(kStart, s);
  panel.Report(kStart + 125ms, s);
  EXPECT_EQ(s.EncoderCounts[0], 1);
  EXPECT_EQ(s.EncoderCounts[1], 0);
  EXPECT_EQ(s.EncoderCounts[6], 2147483625);
  panel.Report(kStart + 375ms, s);
  EXPECT_EQ(s.EncoderCounts[0], 3);
  EXPECT_EQ(s.EncoderCounts[1], -1);
  EXPECT_EQ(s.EncoderCounts[6], -2147483421) << "a counter wraps";
}

TEST(Payloads, SizesAndPlacesOfThePanelsCommands) {
  cycle::MpgConfig mpg;
  mpg.Step = {0, 0, 0x01020304};
  mpg.Mode = 0xABCD;
  const cycle::MpgPayload bytes = cycle::EncodeMpgConfig(mpg);
  EXPECT_EQ(bytes.size(), 21u);
  EXPECT_EQ(wire::Get<std::int32_t>(bytes, 11), 0x01020304);
  EXPECT_EQ(wire::Get<std::uint16_t>(bytes, 19), 0xABCD);
  cycle::JoystickConfig joystick;
  joystick.FullWidth = {0, 0, 4500};
  joystick.Speed = {0, 0, -5000};
  const cycle::JoystickPayload stick = cycle::EncodeJoystickConfig(joystick);
  EXPECT_EQ(stick.size(), 34u);
  EXPECT_EQ(wire::Get<std::uint16_t>(stick, 20), 4500);
  EXPECT_EQ(wire::Get<std::int32_t>(stick, 30), -5000);
  EXPECT_EQ(cycle::EncodePwmDuties({1, 2}).size(), 4u);
}

}  // namespace
}  // namespace veltra::emu

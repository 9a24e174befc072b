#include "config/config_record.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "link/wire.h"
#include "plugin/host_blocks.h"
#include "plugin_fixture.h"
#include "settings/process_settings.h"
#include "ui/config_dialog.h"

namespace veltra::config {
namespace {

using testing::PluginTest;

class ConfigUpload : public PluginTest {};

const std::string kAxesLowered =
    "WARNING: maximum velocity for one or more axes was lowered to be inside limit for specified maximum step "
    "frequency.\nPlease use Motor Tuning dialog to review this settings.";
const std::string kSpindleTooFast =
    "WARNING: maximum velocity for Spindle Step&Dir axis is set too high for specified maximum step "
    "frequency.\nPlease correct this using Motor Tuning dialog and then restart Mach3.";
const std::string kNoStepDirSpindleInPlasma = "You can not use STEP/DIR spindle motor control in THC plasma mode!";

// The host's limit for MaxFreq 100 kHz: trunc(100000 x 20 / 19).
constexpr double kPulseRate100kHz = 105263.0;

struct Axis {
  double stepsPerUnit = 1000.0;
  double velocity = 10.0;
  double pulseRate = kPulseRate100kHz;
  bool enabled = true;
};

void SetAxis(int a, const Axis& axis) {
  PlannerBlock::AxisStepsPerUnit.Set(a, axis.stepsPerUnit);
  PlannerBlock::AxisMaxVelocity.Set(a, axis.velocity);
  PlannerBlock::MaxPulseRate.Set(a, axis.pulseRate);
  EngineBlock::AxisEnabled.Set(a, axis.enabled ? 1 : 0);
}

const ConfigRecord& Record() { return TheConfigRecord(); }

// The fields must cover every byte of the record exactly once: an offset
// typed wrongly leaves a gap and an overlap.
TEST(ConfigRecordLayout, FieldsTileThe533Bytes) {
  EXPECT_EQ(TheConfigRecord().Bytes().size(), 533u);
  std::vector<int> uses(kConfigRecordSize, 0);
  for (const RecordFieldDescriptor& field : kConfigRecordLayout) {
    for (std::size_t i = 0; i < field.count; ++i) {
      for (std::size_t b = 0; b < field.size; ++b) {
        const std::size_t at = field.offset + field.stride * i + b;
        ASSERT_LT(at, kConfigRecordSize) << field.name;
        ++uses[at];
      }
    }
  }
  for (std::size_t at = 0; at < kConfigRecordSize; ++at) EXPECT_EQ(uses[at], 1) << "byte " << at;
}

TEST(ConfigRecordLayout, FieldsSitAtTheControllersOffsets) {
  struct Expected {
    std::string_view name;
    std::size_t offset;
    std::size_t size;
    std::size_t count;
  };
  constexpr Expected kExpected[] = {
      {"StepsPerUnit", 0, 4, 7},       {"SlaveOf", 24, 1, 7},          {"PercentRate", 25, 4, 7},
      {"AxisFlags", 33, 1, 7},         {"ParamRaw", 38, 4, 7},         {"SpindleOption", 294, 1, 1},
      {"SpindleMotorMode", 295, 1, 1}, {"PwmFrequency", 296, 4, 1},    {"SpindlePwm", 300, 4, 1},
      {"LaserSyncOutput", 308, 1, 1},  {"ModeFlags", 309, 1, 1},       {"Divider", 310, 2, 1},
      {"IndexPulses", 313, 2, 1},      {"ShuttleSource", 315, 1, 1},   {"StepWidth", 316, 1, 7},
      {"SpindleEncoder", 333, 1, 1},   {"InputPin", 334, 1, 48},       {"OutputPin", 382, 1, 32},
      {"InputEnable", 414, 4, 1},      {"OutputInvert", 426, 4, 1},    {"Debounce", 430, 2, 32},
      {"GearRatio", 497, 8, 1},        {"GearOffsetSteps", 505, 8, 1}, {"ExtPwmFrequency", 514, 4, 1},
      {"EncoderFilter", 518, 1, 7},    {"ShuttleZeroMv", 525, 2, 1},   {"ShuttleUpperMv", 527, 2, 1},
      {"BackOffDistance", 529, 4, 1},
  };
  for (const Expected& expected : kExpected) {
    const auto* field = std::find_if(std::begin(kConfigRecordLayout), std::end(kConfigRecordLayout),
                                     [&](const auto& f) { return f.name == expected.name; });
    ASSERT_NE(field, std::end(kConfigRecordLayout)) << expected.name;
    EXPECT_EQ(field->offset, expected.offset) << expected.name;
    EXPECT_EQ(field->size, expected.size) << expected.name;
    EXPECT_EQ(field->count, expected.count) << expected.name;
  }
}

// What goes on the wire, read back at raw offsets.
TEST_F(ConfigUpload, UploadEncodesLittleEndianAtTheRecordOffsets) {
  SetAxis(0, {1000.0, 10.0});
  SetAxis(3, {1000.0, 10.0});
  EngineBlock::AxisSlave.Set(3, 1);
  EngineBlock::AxisSlaveMaster.Set(3, 0);
  EngineBlock::DividerFrequency.Set(1000);
  settings::Process().preferences.Steps6 = 2000.0;
  ui::TheConfigDialog().general.BackOffDist = 1.5f;
  BuildConfigRecord();

  const auto bytes = Record().Bytes();
  EXPECT_EQ(wire::Get<std::int32_t>(bytes, 4), 10000);            // X MaxStepRate
  EXPECT_EQ(wire::Get<std::uint8_t>(bytes, 24 + 42 * 3), 1);      // A slaved to X
  EXPECT_EQ(wire::Get<std::int32_t>(bytes, 252), 2000);           // spindle StepsPerUnit
  EXPECT_EQ(wire::Get<std::int32_t>(bytes, 296), 10000);          // PWMFreq
  EXPECT_EQ(wire::Get<std::uint16_t>(bytes, 310), 2048);          // Divider
  EXPECT_EQ(wire::Get<std::uint8_t>(bytes, 312), 10);             // HomeRetract
  EXPECT_EQ(wire::Get<std::uint8_t>(bytes, 316), 5);              // StepWidth X, 100 ns
  EXPECT_EQ(wire::Get<std::uint16_t>(bytes, 330), 2000);          // Enc0cpr
  EXPECT_EQ(wire::Get<std::uint16_t>(bytes, 430 + 2 * 31), 146);  // Debounce of pin 32
  EXPECT_EQ(wire::Get<double>(bytes, 497), 1.0);                  // GearRatio
  EXPECT_EQ(wire::Get<std::int32_t>(bytes, 514), 10000);          // PWMEFreq
  EXPECT_EQ(wire::Get<float>(bytes, 529), 1.5f);                  // BackOffDist
}

struct LoweringCase {
  const char* description;
  Axis axis;
  double velocity;  // in the host afterwards
  std::int32_t maxStepRate;
  bool warned;
};

class VelocityLowering : public PluginTest, public ::testing::WithParamInterface<LoweringCase> {};

INSTANTIATE_TEST_SUITE_P(
    Axes, VelocityLowering,
    ::testing::Values(
        LoweringCase{"too fast: 95 % of the limit", {1000.0, 150.0}, 0.95 * kPulseRate100kHz / 1000.0, 99999, true},
        LoweringCase{"finer steps", {2000.0, 60.0}, 0.95 * kPulseRate100kHz / 2000.0, 99999, true},
        LoweringCase{"within the limit", {1000.0, 100.0}, 100.0, 100000, false},
        LoweringCase{"exactly at the limit", {1000.0, 105.263}, 105.263, 105263, false},
        LoweringCase{
            "a disabled axis keeps its velocity", {1000.0, 150.0, kPulseRate100kHz, false}, 150.0, 150000, false},
        LoweringCase{"no steps per unit divides nothing", {0.0, 150.0, -1.0}, 150.0, 0, false}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

TEST_P(VelocityLowering, StaysInsideTheStepFrequency) {
  const LoweringCase& c = GetParam();
  SetAxis(2, c.axis);
  BuildConfigRecord();
  EXPECT_DOUBLE_EQ(PlannerBlock::AxisMaxVelocity.Get(2), c.velocity) << c.description;
  EXPECT_EQ(Record().Get(AxisConfig::MaxStepRate, 2), c.maxStepRate) << c.description;
  EXPECT_EQ(boxes.Texts(), c.warned ? std::vector<std::string>{kAxesLowered} : std::vector<std::string>{})
      << c.description;
}

TEST_F(ConfigUpload, OneWarningHoweverManyAxesAreLowered) {
  SetAxis(0, {1000.0, 150.0});
  SetAxis(1, {1000.0, 300.0});
  SetAxis(5, {500.0, 1000.0});
  BuildConfigRecord();
  EXPECT_DOUBLE_EQ(PlannerBlock::AxisMaxVelocity.Get(0), 99.99985);
  EXPECT_EQ(Record().Get(AxisConfig::MaxStepRate, 0), 99999);
  EXPECT_DOUBLE_EQ(PlannerBlock::AxisMaxVelocity.Get(1), 99.99985);
  EXPECT_DOUBLE_EQ(PlannerBlock::AxisMaxVelocity.Get(5), 199.9997);
  EXPECT_EQ(boxes.Texts(), std::vector<std::string>{kAxesLowered});
}

TEST_F(ConfigUpload, AxisRecordCarriesTheHostsTuning) {
  SetAxis(1, {400.0, 25.0});
  PlannerBlock::AxisAcceleration.Set(1, 12.5);
  PlannerBlock::AxisSpeedPercent.Set(1, 50);
  PlannerBlock::AxisDistanceA.Set(1, -2.5);
  PlannerBlock::AxisDistanceB.Set(1, 0.75);
  PlannerBlock::AxisOptionBit0.Set(1, 1);
  EngineBlock::AxisOptionBit1.Set(1, 1);
  EngineBlock::AxisParamScaled.Set(1, -4097);
  EngineBlock::AxisParamRaw.Set(1, -77);
  ui::TheConfigDialog().general.BackOffDist = 2.0f;
  BuildConfigRecord();

  EXPECT_EQ(Record().Get(AxisConfig::StepsPerUnit, 1), 400);
  EXPECT_EQ(Record().Get(AxisConfig::MaxStepRate, 1), 10000);
  EXPECT_EQ(Record().Get(AxisConfig::Acceleration, 1), 5000);
  EXPECT_EQ(Record().Get(AxisConfig::PercentRate, 1), 5000);
  EXPECT_EQ(Record().Get(AxisConfig::DistanceASteps, 1), -1000);
  EXPECT_EQ(Record().Get(AxisConfig::DistanceBSteps, 1), 300);
  EXPECT_EQ(Record().Get(AxisConfig::AxisFlags, 1), AxisFlag::OptionBit0 | AxisFlag::OptionBit1 | AxisFlag::BackOff);
  EXPECT_EQ(Record().Get(AxisConfig::AxisFlags, 0), AxisFlag::BackOff);
  EXPECT_EQ(Record().Get(AxisConfig::ParamScaled, 1), -2);  // toward zero
  EXPECT_EQ(Record().Get(AxisConfig::ParamRaw, 1), -77);
}

struct Limits {
  double min;
  double max;
};

struct SlaveCase {
  const char* description;
  int slave;
  std::int32_t master;
  bool slaveEnabled;
  Limits slaveLimits;
  Limits masterLimits;  // of the axis named by master, when it is one
  std::uint8_t slaveOf;
  Limits masterAfter;  // the master's merged limits, in units
};

class SlaveMerge : public PluginTest, public ::testing::WithParamInterface<SlaveCase> {};

INSTANTIATE_TEST_SUITE_P(
    Axes, SlaveMerge,
    ::testing::Values(SlaveCase{"A inside X narrows X", 3, 0, true, {50, 300}, {0, 400}, 1, {50, 300}},
                      SlaveCase{"A wider than X leaves X", 3, 0, true, {-10, 500}, {0, 400}, 1, {0, 400}},
                      SlaveCase{
                          "A overlapping X takes the common range", 3, 0, true, {100, 500}, {0, 400}, 1, {100, 400}},
                      // The master comes after its slave and takes its own limits again.
                      SlaveCase{"X slaved to A leaves A", 0, 3, true, {50, 300}, {0, 400}, 4, {0, 400}},
                      SlaveCase{"a disabled slave merges nothing", 3, 0, false, {50, 300}, {0, 400}, 0, {0, 400}},
                      SlaveCase{"a master the host cannot have", 3, 6, true, {50, 300}, {0, 400}, 0, {0, 400}}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

TEST_P(SlaveMerge, MasterKeepsTheRangeBothAllow) {
  const SlaveCase& c = GetParam();
  const int master = c.master >= 0 && c.master < kMotionAxisCount ? c.master : 0;
  for (int a = 0; a < kMotionAxisCount; ++a) SetAxis(a, {100.0, 1.0});
  EngineBlock::AxisEnabled.Set(c.slave, c.slaveEnabled ? 1 : 0);
  EngineBlock::AxisSlave.Set(c.slave, 1);
  EngineBlock::AxisSlaveMaster.Set(c.slave, c.master);
  PlannerBlock::AxisSoftMin.Set(c.slave, c.slaveLimits.min);
  PlannerBlock::AxisSoftMax.Set(c.slave, c.slaveLimits.max);
  PlannerBlock::AxisSoftMin.Set(master, c.masterLimits.min);
  PlannerBlock::AxisSoftMax.Set(master, c.masterLimits.max);
  BuildConfigRecord();

  EXPECT_EQ(Record().Get(AxisConfig::SlaveOf, c.slave), c.slaveOf) << c.description;
  EXPECT_EQ(Record().Get(AxisConfig::SlaveOf, master), 0) << c.description;
  EXPECT_EQ(Record().Get(AxisConfig::SoftMinSteps, master), c.masterAfter.min * 100) << c.description;
  EXPECT_EQ(Record().Get(AxisConfig::SoftMaxSteps, master), c.masterAfter.max * 100) << c.description;
  EXPECT_EQ(Record().Get(AxisConfig::SoftMinSteps, c.slave), c.slaveLimits.min * 100) << c.description;
  EXPECT_EQ(Record().Get(AxisConfig::SoftMaxSteps, c.slave), c.slaveLimits.max * 100) << c.description;
  EXPECT_EQ(Uploaded().SoftLimitMin[master], c.masterAfter.min) << c.description;
  EXPECT_EQ(Uploaded().SoftLimitMax[master], c.masterAfter.max) << c.description;
  EXPECT_EQ(Uploaded().SoftLimitMin[c.slave], c.slaveLimits.min) << c.description;
  // Host limits are the host's.
  EXPECT_EQ(PlannerBlock::AxisSoftMin.Get(master), c.masterLimits.min) << c.description;
}

TEST_F(ConfigUpload, StepWidthsInUnitsOf20ns) {
  struct Case {
    std::int32_t nanoseconds;
    std::uint8_t width;
  } cases[] = {{130, 6}, {0, 0}, {100, 5}, {119, 5}, {5000, 250}};
  ui::PulseEnginePage& pulse = ui::TheConfigDialog().pulseEngine;
  for (int n = 0; n < 5; ++n) {
    pulse.StepW[n] = cases[n].nanoseconds;
    pulse.PulseMode[n] = n % 3;
  }
  BuildConfigRecord();
  for (int n = 0; n < 5; ++n) {
    EXPECT_EQ(Record().Get(ConfigField::StepWidth, n), cases[n].width) << cases[n].nanoseconds;
    EXPECT_EQ(Record().Get(ConfigField::PulseMode, n), n % 3);
  }
}

TEST_F(ConfigUpload, NegativeBackOffDistanceIsCorrectedInTheSetting) {
  ui::TheConfigDialog().general.BackOffDist = -3.0f;
  BuildConfigRecord();
  EXPECT_EQ(ui::TheConfigDialog().general.BackOffDist, 0.0f);
  EXPECT_EQ(Record().Get(ConfigField::BackOffDistance), 0.0f);
}

struct SpindleCase {
  const char* description;
  bool motorEnabled;
  bool pwmControl;
  bool plasma;
  double vel6;
  std::uint8_t motorMode;
  bool motorEnabledAfter;
  double vel6After;
  std::int32_t maxStepRate;
  std::vector<std::string> messages;
};

class SpindleChecks : public PluginTest, public ::testing::WithParamInterface<SpindleCase> {};

INSTANTIATE_TEST_SUITE_P(
    Spindles, SpindleChecks,
    ::testing::Values(
        SpindleCase{"no spindle motor", false, false, false, 200.0, SpindleMotor::None, false, 200.0, 200000, {}},
        SpindleCase{"PWM spindle", true, true, false, 200.0, SpindleMotor::Pwm, true, 200.0, 200000, {}},
        SpindleCase{"step/dir spindle within the limit",
                    true,
                    false,
                    false,
                    100.0,
                    SpindleMotor::StepDir,
                    true,
                    100.0,
                    100000,
                    {}},
        // The full limit, no margin.
        SpindleCase{"step/dir spindle too fast",
                    true,
                    false,
                    false,
                    200.0,
                    SpindleMotor::StepDir,
                    true,
                    105.263,
                    105263,
                    {kSpindleTooFast}},
        SpindleCase{"step/dir spindle in plasma mode",
                    true,
                    false,
                    true,
                    100.0,
                    SpindleMotor::None,
                    false,
                    100.0,
                    100000,
                    {kNoStepDirSpindleInPlasma}},
        SpindleCase{"too fast, then plasma mode",
                    true,
                    false,
                    true,
                    200.0,
                    SpindleMotor::None,
                    false,
                    105.263,
                    105263,
                    {kSpindleTooFast, kNoStepDirSpindleInPlasma}},
        SpindleCase{"PWM spindle in plasma mode", true, true, true, 200.0, SpindleMotor::Pwm, true, 200.0, 200000, {}}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

TEST_P(SpindleChecks, StepLimitThenPlasmaCheck) {
  const SpindleCase& c = GetParam();
  PlannerBlock::SpindleMotorEnabled.Set(c.motorEnabled ? 1 : 0);
  PlannerBlock::SpindlePwmControl.Set(c.pwmControl ? 1 : 0);
  EngineBlock::PlasmaMode.Set(c.plasma ? 1 : 0);
  PlannerBlock::MaxPulseRate.Set(kSpindleAxis, kPulseRate100kHz);
  settings::HostPreferences& preferences = settings::Process().preferences;
  preferences.Steps6 = 1000.0;
  preferences.Vel6 = c.vel6;
  preferences.Acc6 = 2.5;
  BuildConfigRecord();

  EXPECT_EQ(Record().Get(ConfigField::SpindleMotorMode), c.motorMode) << c.description;
  EXPECT_EQ(PlannerBlock::SpindleMotorEnabled.Get() != 0, c.motorEnabledAfter) << c.description;
  EXPECT_DOUBLE_EQ(preferences.Vel6, c.vel6After) << c.description;
  EXPECT_EQ(Record().Get(AxisConfig::StepsPerUnit, kSpindleAxis), 1000) << c.description;
  EXPECT_EQ(Record().Get(AxisConfig::MaxStepRate, kSpindleAxis), c.maxStepRate) << c.description;
  EXPECT_EQ(Record().Get(AxisConfig::Acceleration, kSpindleAxis), 2500) << c.description;
  EXPECT_EQ(Record().Get(AxisConfig::SoftMaxSteps, kSpindleAxis), 0) << c.description;
  EXPECT_EQ(boxes.Texts(), c.messages) << c.description;
}

// Every warning, in the order of the steps.
TEST_F(ConfigUpload, MessagesComeInTheOrderOfTheSteps) {
  SetAxis(4, {1000.0, 150.0});
  PlannerBlock::SpindleMotorEnabled.Set(1);
  EngineBlock::PlasmaMode.Set(1);
  PlannerBlock::MaxPulseRate.Set(kSpindleAxis, kPulseRate100kHz);
  settings::Process().preferences.Vel6 = 1000.0;
  BuildConfigRecord();
  EXPECT_EQ(boxes.Texts(), (std::vector<std::string>{kAxesLowered, kSpindleTooFast, kNoStepDirSpindleInPlasma}));
  for (const auto& box : boxes.Shown()) EXPECT_EQ(box.buttons, platform::MessageBoxButtons::Ok);
}

struct PwmCase {
  const char* description;
  bool bipolar;
  bool laserComp;
  bool laserGrayLevel;
  std::int32_t percent;
  std::int32_t spindlePwm;
  bool bipolarInForce;
};

class SpindlePwm : public PluginTest, public ::testing::WithParamInterface<PwmCase> {};

INSTANTIATE_TEST_SUITE_P(Modes, SpindlePwm,
                         ::testing::Values(PwmCase{"unipolar", false, false, false, 50, 32768, false},
                                           PwmCase{"bipolar", true, false, false, 50, 49152, true},
                                           PwmCase{"bipolar at 0", true, false, false, 0, 32768, true},
                                           PwmCase{"bipolar at 100", true, false, false, 100, 65536, true},
                                           PwmCase{"bipolar halves toward zero", true, false, false, -1, 32768 - 327,
                                                   true},
                                           PwmCase{"bipolar with LaserComp", true, true, false, 50, 32768, false},
                                           PwmCase{"bipolar with LaserGL", true, false, true, 50, 32768, false}),
                         [](const auto& info) { return "case" + std::to_string(info.index); });

TEST_P(SpindlePwm, BipolarCentresOn32768) {
  const PwmCase& c = GetParam();
  ui::GeneralPage& general = ui::TheConfigDialog().general;
  general.PWMBipMode = c.bipolar ? 1 : 0;
  general.LaserComp = c.laserComp ? 1 : 0;
  general.LaserGL = c.laserGrayLevel ? 1 : 0;
  PlannerBlock::SpindlePwmPercent.Set(c.percent);
  PlannerBlock::PostInitPercent.Set(99.9);
  BuildConfigRecord();
  EXPECT_EQ(Record().Get(ConfigField::SpindlePwm), c.spindlePwm) << c.description;
  EXPECT_EQ(Uploaded().PwmBipolar, c.bipolarInForce) << c.description;
  EXPECT_EQ(Record().Get(ConfigField::PostInitValue), 99) << c.description;
}

TEST_F(ConfigUpload, PwmFrequenciesBelow10AreRaisedComparedUnsigned) {
  struct Case {
    std::int32_t frequency;
    std::int32_t corrected;
  } cases[] = {{5, 10}, {0, 10}, {10, 10}, {20000, 20000}, {-5, -5}};
  for (const Case& c : cases) {
    ui::ConfigDialog& dialog = ui::TheConfigDialog();
    dialog.general.PWMFreq = c.frequency;
    dialog.specialFunctions.PWMEFreq = c.frequency;
    BuildConfigRecord();
    EXPECT_EQ(dialog.general.PWMFreq, c.corrected) << c.frequency;
    EXPECT_EQ(dialog.specialFunctions.PWMEFreq, c.corrected) << c.frequency;
    EXPECT_EQ(PlannerBlock::SpindlePwmFrequency.Get(), c.corrected) << c.frequency;
    EXPECT_EQ(Record().Get(ConfigField::PwmFrequency), c.corrected) << c.frequency;
    EXPECT_EQ(Record().Get(ConfigField::ExtPwmFrequency), c.corrected) << c.frequency;
  }
}

TEST_F(ConfigUpload, DividerFrequencyIsClampedInTheHost) {
  struct Case {
    std::int32_t frequency;
    std::int32_t clamped;
    std::uint16_t divider;
  } cases[] = {{100, 256, 8000}, {25000, 20480, 100}, {0, 256, 8000},   {-7, 256, 8000},
               {256, 256, 8000}, {20480, 20480, 100}, {3000, 3000, 682}};
  for (const Case& c : cases) {
    EngineBlock::DividerFrequency.Set(c.frequency);
    BuildConfigRecord();
    EXPECT_EQ(EngineBlock::DividerFrequency.Get(), c.clamped) << c.frequency;
    EXPECT_EQ(Record().Get(ConfigField::Divider), c.divider) << c.frequency;
  }
}

TEST_F(ConfigUpload, ModeFlagsAreRebuiltFromTheirSources) {
  struct Case {
    const char* source;
    void (*set)(int);
    std::uint8_t bit;
  } cases[] = {
      {"ControllerOptionBit0", [](int on) { PlannerBlock::ControllerOptionBit0.Set(on); }, ModeFlag::ControllerOption0},
      {"ControllerOptionBit1", [](int on) { EngineBlock::ControllerOptionBit1.Set(on); }, ModeFlag::ControllerOption1},
      {"THCramp", [](int on) { ui::TheConfigDialog().thcOptions.THCramp = on; }, ModeFlag::ThcRamp},
      {"LaserComp", [](int on) { ui::TheConfigDialog().general.LaserComp = on; }, ModeFlag::LaserComp},
      {"LaserGL", [](int on) { ui::TheConfigDialog().general.LaserGL = on; }, ModeFlag::LaserGrayLevel},
      {"ControllerOptionBit6", [](int on) { EngineBlock::ControllerOptionBit6.Set(on); }, ModeFlag::ControllerOption6},
      {"SlaveHome", [](int on) { settings::Process().preferences.SlaveHome = on; }, ModeFlag::SlaveHome},
  };
  for (const Case& c : cases) c.set(0);
  // The reset sequence's own bit does not survive a rebuild.
  TheConfigRecord().Set(ConfigField::ModeFlags, ModeFlag::LimitOverride);
  BuildConfigRecord();
  EXPECT_EQ(Record().Get(ConfigField::ModeFlags), 0);
  for (const Case& c : cases) {
    c.set(1);
    BuildConfigRecord();
    EXPECT_EQ(Record().Get(ConfigField::ModeFlags), c.bit) << c.source;
    c.set(0);
  }
}

TEST_F(ConfigUpload, LaserSyncOutputOnlyWithLaserSync) {
  ui::GeneralPage& general = ui::TheConfigDialog().general;
  general.LaserSyncPort = 3;
  BuildConfigRecord();
  EXPECT_EQ(Record().Get(ConfigField::LaserSyncOutput), 0);
  general.LaserSync = 1;
  BuildConfigRecord();
  EXPECT_EQ(Record().Get(ConfigField::LaserSyncOutput), 3);
}

void WireEncoder(int k) {
  EngineBlock::EncoderEnabled.Set(k, 1);
  EngineBlock::EncoderPortA.Set(k, 1);
  EngineBlock::EncoderPortB.Set(k, 1);
  EngineBlock::EncoderPinA.Set(k, 2 * k + 1);
  EngineBlock::EncoderPinB.Set(k, 2 * k + 2);
}

struct ShuttleCase {
  const char* description;
  std::vector<int> shuttleFunctions;  // special function entries set to shuttle
  std::vector<int> wiredEncoders;
  std::uint8_t source;
  std::uint16_t zeroMv;
};

class ShuttleSource : public PluginTest, public ::testing::WithParamInterface<ShuttleCase> {};

INSTANTIATE_TEST_SUITE_P(Sources, ShuttleSource,
                         ::testing::Values(ShuttleCase{"nothing wired", {}, {}, 4, 0},
                                           ShuttleCase{"an encoder is no MPG", {}, {0, 3}, 4, 0},
                                           ShuttleCase{"first wired MPG", {}, {6, 5}, 5, 0},
                                           ShuttleCase{"MPG set to shuttle wins over a wired one", {10}, {4}, 6, 0},
                                           ShuttleCase{"first MPG set to shuttle", {10, 9}, {}, 5, 0},
                                           ShuttleCase{"an encoder set to shuttle is no source", {5}, {}, 4, 0},
                                           ShuttleCase{"analog input wins over MPGs", {8, 2}, {4}, 2, 300},
                                           ShuttleCase{"first analog input", {3, 1}, {}, 1, 300}),
                         [](const auto& info) { return "case" + std::to_string(info.index); });

TEST_P(ShuttleSource, AnalogThenMpgByFunctionThenWiredMpg) {
  const ShuttleCase& c = GetParam();
  auto& sources = ui::TheConfigDialog().specialFunctions.sources;
  for (int entry : c.shuttleFunctions) sources[entry] = {5, 0, 1000, 300, 4500, sources[entry].name};
  for (int k : c.wiredEncoders) WireEncoder(k);
  BuildConfigRecord();
  EXPECT_EQ(Record().Get(ConfigField::ShuttleSource), c.source) << c.description;
  EXPECT_EQ(Record().Get(ConfigField::ShuttleZeroMv), c.zeroMv) << c.description;
  EXPECT_EQ(Record().Get(ConfigField::ShuttleUpperMv), c.zeroMv != 0 ? 4500 : 0) << c.description;
}

TEST_F(ConfigUpload, ShuttleUpperThresholdKeepsThePreviousAnalogValue) {
  auto& sources = ui::TheConfigDialog().specialFunctions.sources;
  sources[0].Fun = 5;
  sources[0].ZThresh = 250;
  sources[0].UPThresh = 70000;  // the low 16 bits go out: 4464
  BuildConfigRecord();
  EXPECT_EQ(Record().Get(ConfigField::ShuttleUpperMv), 4464);

  sources[0].Fun = 0;
  sources[9].Fun = 5;
  BuildConfigRecord();
  EXPECT_EQ(Record().Get(ConfigField::ShuttleSource), 5);
  EXPECT_EQ(Record().Get(ConfigField::ShuttleZeroMv), 0);
  EXPECT_EQ(Record().Get(ConfigField::ShuttleUpperMv), 4464);
}

TEST_F(ConfigUpload, UploadRefreshesTheValuesTheRealTimeCodeReads) {
  EXPECT_EQ(Uploaded().MpgCountsPerUnit, (std::array<double, kMpgCount>{1.0, 1.0, 1.0}));

  ui::ConfigDialog& dialog = ui::TheConfigDialog();
  dialog.general.HwMPG = 1;
  dialog.syncedModes.EncRPM = 1;
  dialog.syncedModes.RTSIndex = 1;
  dialog.syncedModes.EncForSync = 2;
  dialog.general.IndexCnt = 4;
  dialog.specialFunctions.sources[6] = {3, 1, 1234, 10, 20, dialog.specialFunctions.sources[6].name};
  dialog.general.curve = {3, {0.0, 50.0, 100.0}, {0.0, 80.0, 100.0}, 1000.0};
  dialog.inputFilter.EncFilt[2] = 0x1207;
  for (int i = 0; i < 7; ++i) PlannerBlock::EncoderScale.Set(i, 10.0 + i);
  WireEncoder(1);
  WireEncoder(5);
  BuildConfigRecord();

  const UploadedConfig& uploaded = Uploaded();
  EXPECT_TRUE(uploaded.HwMpgActive);
  EXPECT_EQ(uploaded.MpgCountsPerUnit, (std::array<double, kMpgCount>{14.0, 15.0, 16.0}));
  EXPECT_TRUE(uploaded.EncRpmInForce);
  EXPECT_EQ(Record().Get(ConfigField::SpindleEncoderFlags), 3);
  EXPECT_EQ(Record().Get(ConfigField::SpindleEncoder), 2);
  EXPECT_EQ(Record().Get(ConfigField::IndexPulses), 4);
  EXPECT_EQ(Record().Get(ConfigField::EncoderFilter, 2), 7);
  EXPECT_EQ(uploaded.EncoderWired, (std::array<bool, 7>{false, true, false, false, false, true, false}));
  EXPECT_EQ(uploaded.SpecialFunctions[6].Fun, 3);
  EXPECT_EQ(uploaded.SpecialFunctions[6].VarID, 1234);
  EXPECT_EQ(uploaded.SpecialFunctions[6].name, "Encoder3");
  EXPECT_NEAR(uploaded.RampSpline.Evaluate(25.0), 45.625, 1e-9);

  // Taken over at the upload only.
  dialog.specialFunctions.sources[6].Fun = 0;
  dialog.general.HwMPG = 0;
  EXPECT_EQ(uploaded.SpecialFunctions[6].Fun, 3);
  EXPECT_TRUE(uploaded.HwMpgActive);
}

TEST_F(ConfigUpload, GearingOffsetInStepsOfTheGearedAxis) {
  ui::SyncedModesPage& synced = ui::TheConfigDialog().syncedModes;
  synced.gearEnable = 1;
  synced.gearAxis = 2;
  synced.gearMaster = 3;
  synced.gearRatio = -0.25;
  synced.gearOffset = 1.5;
  synced.gearRelative = 1;
  PlannerBlock::AxisStepsPerUnit.Set(2, 800.0);
  BuildConfigRecord();
  EXPECT_EQ(Record().Get(ConfigField::GearEnable), 1);
  EXPECT_EQ(Record().Get(ConfigField::GearAxis), 2);
  EXPECT_EQ(Record().Get(ConfigField::GearMaster), 3);
  EXPECT_EQ(Record().Get(ConfigField::GearRatio), -0.25);
  EXPECT_EQ(Record().Get(ConfigField::GearOffsetSteps), 1200.0);
  EXPECT_EQ(Record().Get(ConfigField::GearRelative), 1);
}

}  // namespace
}  // namespace veltra::config

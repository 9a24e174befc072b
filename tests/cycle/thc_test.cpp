// The torch height control's host side: the voltage from the raw reading,
// the log file, the graph feed, the nominal voltage DRO, the arc wait, the
// consumables and the numbers the regulator is configured with.
#include "cycle/thc.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "cycle/cycle.h"
#include "cycle/motion.h"
#include "platform/clock.h"
#include "platform/keyboard.h"
#include "plugin/host_blocks.h"
#include "plugin/nominal_voltage.h"
#include "plugin_fixture.h"
#include "settings/process_settings.h"
#include "ui/config_dialog.h"
#include "ui/thc_graph_samples.h"

namespace veltra::cycle {
namespace {

using veltra::testing::PluginTest;

constexpr std::int32_t kDroTorchVoltage = 1500;
constexpr std::int32_t kDroNominalVoltage = 1501;
constexpr std::int32_t kDroVoltageOverride = 1502;

ui::ThcOptionsPage& Options() { return ui::TheConfigDialog().thcOptions; }

ui::GraphSamples GraphNow() {
  return ui::TheThcGraph().WithSamples([](const ui::GraphSamples& samples) { return samples; });
}

StatusRecord Frame(std::uint16_t raw, std::uint16_t flags = 0) {
  StatusRecord record;
  record.AnalogInputs[0] = raw;
  record.Flags = flags;
  return record;
}

// The plugin started in its host, with an internal THC calibrated 250 V at
// 5000 mV (50 V per input volt), reading input 1, the voltage override at
// 100 %.
class ThcTest : public PluginTest {
 protected:
  ThcTest() {
    StartPlugin();
    Options().THCtype = 1;
    Options().THCtorchv = 250;
    Options().THCanalogv = 5000;
    settings::Process().LiveAnalogIndex = 0;
    settings::Process().THCnomvoltage = 150.0;
    host.SetDroValue(kDroNominalVoltage, 150.0);
    host.SetDroValue(kDroVoltageOverride, 100.0);
  }
};

struct VoltageCase {
  const char* name;
  std::int32_t torchVolts, inputMillivolts;
  std::uint16_t raw;
  double volts, dro;
};

class TorchVoltage : public ThcTest, public ::testing::WithParamInterface<VoltageCase> {};

TEST_P(TorchVoltage, ReachesTheDroCutToTenthsAndTheGraph) {
  const VoltageCase& c = GetParam();
  Options().THCtorchv = c.torchVolts;
  Options().THCanalogv = c.inputMillivolts;
  RunVoltageStep(Frame(c.raw));
  EXPECT_NEAR(TorchVolts(c.raw), c.volts, 1e-9);
  EXPECT_DOUBLE_EQ(host.Dro(kDroTorchVoltage), c.dro);
  const ui::GraphSamples graph = GraphNow();
  EXPECT_EQ(graph.count, 1);
  EXPECT_EQ(graph.writeIndex, 1);
  EXPECT_FLOAT_EQ(graph.lastSample, static_cast<float>(c.volts));
}

INSTANTIATE_TEST_SUITE_P(Cases, TorchVoltage,
                         ::testing::Values(VoltageCase{"HalfScale", 250, 5000, 32768, 125.0, 125.0},
                                           VoltageCase{"CutToTenths", 250, 5000, 32800, 125.1220703125, 125.1},
                                           VoltageCase{"FullScale", 300, 3000, 65535, 499.99237060546875, 499.9},
                                           // A calibration without an input voltage reads 0, never a division by 0.
                                           VoltageCase{"NoInputCalibration", 250, 0, 32768, 0.0, 0.0}),
                         [](const auto& info) { return info.param.name; });

// The log file goes to the current directory: one of the test process's own.
class InTestDirectory : public ThcTest {
 protected:
  InTestDirectory() : previous_(std::filesystem::current_path()) {
    std::filesystem::current_path(std::filesystem::path(ProfilePath()).parent_path());
  }
  ~InTestDirectory() override { std::filesystem::current_path(previous_); }

 private:
  std::filesystem::path previous_;
};

TEST_F(InTestDirectory, ASamplingFrameOnlyCapturesTheVoltage) {
  Options().logToFile = 1;
  host.SetDroValue(kDroTorchVoltage, 7.0);
  host.SetDroValue(kDroNominalVoltage, 320.0);

  RunVoltageStep(Frame(32768, status_flag::kSampleTorchVoltage | status_flag::kThcRunning));
  EXPECT_TRUE(Thc().SampledVoltageValid);
  EXPECT_DOUBLE_EQ(Thc().SampledVoltage, 125.0);
  EXPECT_EQ(host.Dro(kDroTorchVoltage), 7.0);
  EXPECT_EQ(GraphNow().count, 0);
  EXPECT_FALSE(std::filesystem::exists(kVoltageLogFile));
  // The nominal voltage DRO is followed all the same.
  EXPECT_EQ(host.Dro(kDroNominalVoltage), 300.0);
}

struct NominalCase {
  const char* name;
  std::int32_t thcType;
  std::int32_t sWord;
  bool updating;
  double typed;
  double droAfter, settingAfter, spindleAfter;
};

class NominalVoltageDro : public ThcTest, public ::testing::WithParamInterface<NominalCase> {};

TEST_P(NominalVoltageDro, IsTakenOverAfterTheNextFrame) {
  const NominalCase& c = GetParam();
  Options().THCtype = c.thcType;
  Options().THCSWord = c.sWord;
  PlannerBlock::SpindleSpeed.Set(1000.0);
  host.SetDroValue(kDroNominalVoltage, c.typed);
  plugin::NominalVoltageUpdating = c.updating;
  RunVoltageStep(Frame(0));
  EXPECT_EQ(host.Dro(kDroNominalVoltage), c.droAfter);
  EXPECT_EQ(settings::Process().THCnomvoltage, c.settingAfter);
  EXPECT_EQ(PlannerBlock::SpindleSpeed.Get(), c.spindleAfter);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NominalVoltageDro,
    ::testing::Values(NominalCase{"AboveTheRangeIsPulledBack", 1, 0, false, 320.0, 300.0, 300.0, 1000.0},
                      NominalCase{"TakenIntoTheSWord", 2, 1, false, 180.0, 180.0, 180.0, 180.0},
                      NominalCase{"NotWhileSomeoneSetsIt", 1, 1, true, 180.0, 180.0, 150.0, 1000.0},
                      NominalCase{"ExternalThcShowsNone", 0, 1, false, 180.0, 0.0, 150.0, 1000.0}),
    [](const auto& info) { return info.param.name; });

// --- The log file ---

class VoltageLog : public InTestDirectory {
 protected:
  VoltageLog() {
    Options().logToFile = 1;
    PlannerBlock::AxisStepsPerUnit.Set(2, 100.0);
    EngineBlock::ThcZOffset.Set(-50);
    EngineBlock::InputSignalActive.Set(26, 1);  // THC on
  }
  static StatusRecord RunningFrame(std::uint16_t raw, std::uint16_t flags, std::int32_t z) {
    StatusRecord record = Frame(raw, static_cast<std::uint16_t>(flags | status_flag::kThcRunning));
    record.StepPositions[2] = z;
    return record;
  }
  static std::string Log() {
    std::ostringstream text;
    text << std::ifstream(kVoltageLogFile).rdbuf();
    return text.str();
  }
};

TEST_F(VoltageLog, StartsAFreshFileAtTheFirstLineAndAppendsWhileTheRegulatorRuns) {
  std::ofstream(kVoltageLogFile) << "a log of an earlier run\n";
  RunVoltageStep(RunningFrame(32768, 0, 1050));
  RunVoltageStep(Frame(16384));  // the regulator idle: no line
  RunVoltageStep(RunningFrame(16384, status_flag::kArcOk, 2050));
  EngineBlock::InputSignalActive.Set(26, 0);
  RunVoltageStep(RunningFrame(65535, status_flag::kArcOk | status_flag::kHostLed1500, -50));
  EXPECT_EQ(Log(),
            "flags\tth\tadc\tvolts\tz\n"
            "0x02\t1\t32768\t125.000000\t10.000000\n"
            "0x0A\t1\t16384\t62.500000\t20.000000\n"
            "0x20A\t0\t65535\t249.996185\t-1.000000\n");

  Options().logToFile = 0;
  RunVoltageStep(RunningFrame(32768, 0, 0));
  const std::string log = Log();
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 4) << "no line without the log switch";
}

TEST_F(VoltageLog, ALogThatCannotBeOpenedLosesTheLineAndTheNextOneStartsAfresh) {
  std::filesystem::create_directory(kVoltageLogFile);  // in the way of the file
  RunVoltageStep(RunningFrame(32768, 0, 1050));
  EXPECT_DOUBLE_EQ(host.Dro(kDroTorchVoltage), 125.0) << "the frame goes on without its line";
  std::filesystem::remove(kVoltageLogFile);

  std::ofstream(kVoltageLogFile) << "a log of an earlier run\n";
  RunVoltageStep(RunningFrame(16384, 0, 1050));
  EXPECT_EQ(Log(),
            "flags\tth\tadc\tvolts\tz\n"
            "0x02\t1\t16384\t62.500000\t10.000000\n");
}

// --- The graph ---

struct ReferenceCase {
  const char* name;
  std::int32_t sampleMode;
  bool sampled;
  float reference;
};

class GraphReference : public ThcTest, public ::testing::WithParamInterface<ReferenceCase> {};

TEST_P(GraphReference, IsTheNominalOrTheSampledVoltageTimesTheOverride) {
  const ReferenceCase& c = GetParam();
  Options().THCVSample = c.sampleMode;
  host.SetDroValue(kDroVoltageOverride, 110.0);
  if (c.sampled) RunVoltageStep(Frame(24576, status_flag::kSampleTorchVoltage));  // 93.75 V
  RunVoltageStep(Frame(32768));
  EXPECT_FLOAT_EQ(GraphNow().referenceLevel, c.reference);
}

INSTANTIATE_TEST_SUITE_P(Cases, GraphReference,
                         ::testing::Values(ReferenceCase{"Nominal", 0, false, 165.0f},
                                           ReferenceCase{"NoSampleYet", 1, false, 0.0f},
                                           ReferenceCase{"Sampled", 1, true, 103.125f}),
                         [](const auto& info) { return info.param.name; });

TEST(GraphSamples, TheRingWrapsAtItsSpanAndASpanChangeKeepsItWithinTheSlots) {
  ui::ThcGraphFeed& graph = ui::TheThcGraph();
  for (int i = 0; i < ui::kGraphInitialCapacity + 5; ++i) graph.Append(static_cast<float>(i));
  ui::GraphSamples ring = GraphNow();
  EXPECT_EQ(ring.capacity, 1200);
  EXPECT_EQ(ring.writeIndex, 5);
  EXPECT_EQ(ring.count, 1205);
  EXPECT_EQ(ring.total, 1205);
  EXPECT_EQ(ring.samples[4], 1204.0f);
  EXPECT_EQ(ring.samples[5], 5.0f);
  EXPECT_EQ(ring.lastSample, 1204.0f);

  graph.SetTimePeriod(60);
  EXPECT_EQ(GraphNow().count, 1205) << "the same span leaves the ring alone";

  const struct {
    int seconds;
    int capacity, writeIndex;
  } changes[] = {{30, 600, 5}, {1000, ui::kGraphSlots, 5}, {0, 1, 0}, {-7, 1, 0}, {120, 2400, 0}};
  for (const auto& change : changes) {
    graph.SetTimePeriod(change.seconds);
    ring = GraphNow();
    EXPECT_EQ(ring.capacity, change.capacity) << change.seconds;
    EXPECT_EQ(ring.writeIndex, change.writeIndex) << change.seconds;
    EXPECT_EQ(ring.count, change.writeIndex) << change.seconds;
    EXPECT_EQ(ring.total, 1205) << change.seconds;
  }
}

// --- The arc wait and the consumables ---

struct ArcWaitCase {
  const char* name;
  std::uint8_t eStop, thcOn;
  std::int32_t dwellTicks;
  bool waitingAfter;
  std::int32_t dwellBusyAfter;
};

class ArcWaitRelease : public ThcTest, public ::testing::WithParamInterface<ArcWaitCase> {};

TEST_P(ArcWaitRelease, LetsMotionGoOnceTheArcIsOn) {
  const ArcWaitCase& c = GetParam();
  Motion().ArcWait = true;
  Motion().DwellTicks = c.dwellTicks;
  EngineBlock::DwellBusy.Set(1);
  EngineBlock::EStop.Set(c.eStop);
  EngineBlock::InputSignalActive.Set(26, c.thcOn);
  ReleaseArcWait();
  EXPECT_EQ(Motion().ArcWait, c.waitingAfter);
  EXPECT_EQ(EngineBlock::DwellBusy.Get(), c.dwellBusyAfter);
}

INSTANTIATE_TEST_SUITE_P(Cases, ArcWaitRelease,
                         ::testing::Values(ArcWaitCase{"ArcOn", 0, 1, 0, false, 0},
                                           ArcWaitCase{"ArcOnDuringADwell", 0, 1, 3, false, 1},
                                           ArcWaitCase{"NoArcYet", 0, 0, 0, true, 1},
                                           ArcWaitCase{"InEStop", 1, 1, 0, true, 1}),
                         [](const auto& info) { return info.param.name; });

class Consumables : public ThcTest {
 protected:
  Consumables() {
    platform::SetClock(&clock);
    Options().THCarcDetect = 1;
    EngineBlock::PlasmaMode.Set(1);
  }
  ~Consumables() override { platform::SetClock(nullptr); }
  // Ticks of 25 ms with the controller's arc OK as given.
  void Ticks(int count, bool arcOk) {
    Cycle().Status.Flags = arcOk ? status_flag::kArcOk : 0;
    for (int i = 0; i < count; ++i) {
      CountConsumables();
      clock.Advance(25);
    }
  }
  platform::ManualClock clock;
};

TEST_F(Consumables, AnArcCountsOneIgnitionAndItsTimeInMilliseconds) {
  settings::Process().consumables = {7, 1000};
  Ticks(4, false);
  Ticks(100, true);  // 2.5 s
  EXPECT_EQ(EngineBlock::InputSignalActive.Get(26), 1) << "THC on follows arc OK";
  Ticks(3, false);
  EXPECT_EQ(EngineBlock::InputSignalActive.Get(26), 0);
  EXPECT_EQ(settings::Process().consumables.THCIgnitionCnt, 8);
  EXPECT_EQ(settings::Process().consumables.THCCutTime, 3500);

  Ticks(2, true);
  Ticks(1, false);
  EXPECT_EQ(settings::Process().consumables.THCIgnitionCnt, 9);
  EXPECT_EQ(settings::Process().consumables.THCCutTime, 3550);
}

TEST_F(Consumables, NothingCountsOutsidePlasmaModeOrInEStopAndTheCountersSaturate) {
  EngineBlock::PlasmaMode.Set(0);
  Ticks(10, true);
  EngineBlock::PlasmaMode.Set(1);
  EngineBlock::EStop.Set(1);
  Ticks(10, true);
  EXPECT_EQ(settings::Process().consumables.THCIgnitionCnt, 0);
  EXPECT_EQ(settings::Process().consumables.THCCutTime, 0);

  EngineBlock::EStop.Set(0);
  settings::Process().consumables = {2147483647, 2147483600};
  Ticks(4, true);
  EXPECT_EQ(settings::Process().consumables.THCIgnitionCnt, 2147483647);
  EXPECT_EQ(settings::Process().consumables.THCCutTime, 2147483647);
}

TEST_F(Consumables, TheThcOnSignalIsLeftToItsOwnInputOrToTheSpindle) {
  const struct {
    const char* name;
    std::uint8_t enabled, fromSpindle;
    std::int32_t arcDetect, thcType;
    std::uint8_t before, after;
  } cases[] = {
      {"OwnInput", 1, 0, 1, 1, 0, 0},    {"FromSpindle", 0, 1, 1, 1, 0, 0}, {"WithoutArcDetection", 0, 0, 0, 1, 1, 0},
      {"ExternalThc", 0, 0, 1, 0, 1, 0}, {"ArcOk", 0, 0, 1, 1, 0, 1},
  };
  for (const auto& c : cases) {
    EngineBlock::InputSignalEnabled.Set(26, c.enabled);
    EngineBlock::ThcOnFromSpindle.Set(c.fromSpindle);
    Options().THCarcDetect = c.arcDetect;
    Options().THCtype = c.thcType;
    EngineBlock::InputSignalActive.Set(26, c.before);
    Ticks(1, true);
    EXPECT_EQ(EngineBlock::InputSignalActive.Get(26), c.after) << c.name;
  }
}

// --- The regulator's numbers ---

TEST(LowPass, CoefficientsForTheControllersSampling) {
  const struct {
    double hertz;
    std::int32_t b0, a1;
  } cases[] = {{50, 4480, -23806}, {100, 8036, -16695}, {250, 16384, 0}, {0, 0, -32767}};
  for (const auto& c : cases) {
    const LowPassCoefficients coefficients = LowPassFor(c.hertz);
    EXPECT_EQ(coefficients.b0, c.b0) << c.hertz;
    EXPECT_EQ(coefficients.a1, c.a1) << c.hertz;
  }
}

struct PidCase {
  const char* name;
  std::int32_t custom, preset, inputMillivolts;
  float p, i, d;
};

class PidConstants : public ThcTest, public ::testing::WithParamInterface<PidCase> {};

// Z at 1000 steps per unit and 50 V per input volt: c = 1000 x 0.05 / 50 = 1.
TEST_P(PidConstants, ScaleThePresetOrTheCustomConstants) {
  const PidCase& c = GetParam();
  PlannerBlock::AxisStepsPerUnit.Set(2, 1000.0);
  Options().thcIsCustom = c.custom;
  Options().thcPidPreset = c.preset;
  Options().thcP = 2.0f;
  Options().thcI = 0.5f;
  Options().thcD = 4.0f;
  Options().THCanalogv = c.inputMillivolts;
  const ThcPidConstants pid = ComputePidConstants();
  EXPECT_FLOAT_EQ(pid.P, c.p);
  EXPECT_FLOAT_EQ(pid.I, c.i);
  EXPECT_FLOAT_EQ(pid.D, c.d);
}

INSTANTIATE_TEST_SUITE_P(Cases, PidConstants,
                         ::testing::Values(PidCase{"Preset2", 0, 2, 5000, 0.3f, 0.0001f, 6.0f},
                                           PidCase{"Preset0", 0, 0, 5000, 0.1f, 0.0001f / 3, 2.0f},
                                           PidCase{"Preset4", 0, 4, 5000, 0.9f, 0.0003f, 18.0f},
                                           // 100 V per input volt: c = 0.5.
                                           PidCase{"Custom", 1, 2, 2500, 1.0f, 0.25f, 2.0f},
                                           // Outside the dialog's five: the nearest preset.
                                           PidCase{"PresetAboveTheTable", 0, 9, 5000, 0.9f, 0.0003f, 18.0f},
                                           PidCase{"PresetBelowTheTable", 0, -1, 5000, 0.1f, 0.0001f / 3, 2.0f},
                                           // No voltage scale: no gain rather than an infinite one.
                                           PidCase{"NoInputCalibration", 0, 2, 0, 0.0f, 0.0f, 0.0f}),
                         [](const auto& info) { return info.param.name; });

TEST_F(ThcTest, TheParametersCarryTheSettingsInControllerUnits) {
  ui::ThcOptionsPage& o = Options();
  o.THCtype = 2;
  o.THCVSample = 1;
  o.THCAnsel = 3;
  o.THChystvoltage = 2.5f;
  o.THCarcDetect = 1;
  o.THCdetVoltage = 60;
  o.THCdetTime = 300;
  o.THCVSDelta = 10.0f;
  o.KerfDetect = 1;
  o.THCLock = 1;
  o.KerfVoltage = 20;
  o.KerfTime = 15;
  o.THCLPFreq = 50;
  o.THCLockMax = 150;
  o.THCLockMin = 70;
  o.ManualSpeed = 10;
  settings::Process().THCnomvoltage = 120.0;
  PlannerBlock::AxisStepsPerUnit.Set(2, 1000.0);
  PlannerBlock::AxisMaxVelocity.Set(2, 2.0);
  PlannerBlock::ThcRate.Set(50.0);
  PlannerBlock::ThcZMin.Set(-1.5);
  PlannerBlock::ThcZMax.Set(25.0);
  host.SetDroValue(177, 0.75);
  host.SetDroValue(kDroVoltageOverride, 95.5);

  ThcParameters expected;
  expected.Speed = 1000;  // 2 units/s x 50 % x 1000 steps
  expected.ZMin = -1500;
  expected.ZMax = 25000;
  expected.PierceDelay = 750;
  expected.Type = 0x82;
  expected.AnalogInput = 3;
  expected.Nominal = 1200;
  expected.Hysteresis = 25;
  expected.FullScale = 250;
  expected.ArcDetectVoltage = 60;
  expected.ArcDetectTime = 300;
  expected.SampleDelta = 120;
  expected.VoltageOverride = 955;
  expected.Options = thc_option::kKerfDetect | thc_option::kLock;
  expected.KerfVoltage = 240;
  expected.KerfTime = 15;
  expected.LowPassB0 = 4480;
  expected.LowPassB1 = 4480;
  expected.LowPassA1 = -23806;
  expected.LockMax = 1800;
  expected.LockMin = 840;
  EXPECT_EQ(BuildThcParameters(), expected);

  // Num Lock slows the regulator to the manual speed.
  platform::SetNumLock(true);
  EXPECT_EQ(BuildThcParameters().Speed, 100);
  platform::SetNumLock(false);

  o.THCarcDetect = 0;
  o.THCanalogv = 0;
  EXPECT_EQ(BuildThcParameters().ArcDetectVoltage, 0);
  EXPECT_EQ(BuildThcParameters().FullScale, 0);
}

TEST(ThcPayloads, SizesAndPlaces) {
  ThcParameters p;
  p.Nominal = 0x1234;
  p.LowPassA1 = -2;
  p.LockMin = 0xBEEF;
  const ThcPayload bytes = EncodeThcParameters(p);
  EXPECT_EQ(bytes.size(), 52u);
  EXPECT_EQ(wire::Get<std::uint16_t>(bytes, 16), 0x1234);
  EXPECT_EQ(wire::Get<std::int32_t>(bytes, 44), -2);
  EXPECT_EQ(wire::Get<std::uint16_t>(bytes, 50), 0xBEEF);
  EXPECT_EQ(DecodeThcParameters(bytes), p);

  const ThcPidPayload pid = EncodeThcPid({1.5f, -2.0f, 3.25f});
  EXPECT_EQ(pid.size(), 16u);
  EXPECT_EQ(wire::Get<float>(pid, 8), 3.25f);
  EXPECT_EQ(wire::Get<std::uint32_t>(pid, 12), 0u);
  EXPECT_EQ(EncodeInputOverrides(0x80400001u).size(), 4u);
}

}  // namespace
}  // namespace veltra::cycle

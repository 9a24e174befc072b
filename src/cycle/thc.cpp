#include "cycle/thc.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <limits>
#include <numbers>

#include "cycle/cycle.h"
#include "cycle/motion.h"
#include "cycle/status_rules.h"
#include "link/command_table.h"
#include "link/commands.h"
#include "link/controller_socket.h"
#include "platform/clock.h"
#include "platform/keyboard.h"
#include "platform/messages.h"
#include "plugin/host_blocks.h"
#include "plugin/host_callbacks.h"
#include "plugin/nominal_voltage.h"
#include "plugin/numeric.h"
#include "settings/process_settings.h"
#include "ui/config_dialog.h"
#include "ui/thc_graph_samples.h"
#include "ui/window_handles.h"

namespace veltra::cycle {
namespace {

constexpr std::int32_t kDroPierceDelay = 177;  // s
constexpr std::int32_t kDroTorchVoltage = 1500;
constexpr std::int32_t kDroNominalVoltage = 1501;
constexpr std::int32_t kDroVoltageOverride = 1502;  // percent

constexpr std::int32_t kThcExternal = 0;
constexpr double kHighestNominalVolts = 300.0;
constexpr int kAxisZ = 2;
constexpr double kInputFullScaleVolts = 5.0;
constexpr double kRawPerFullScale = 65536.0;
constexpr double kControllerSampleHz = 1000.0;
constexpr double kCoefficientScale = 32768.0;

// The host's input signals behind bits 0..24 of the input overrides.
constexpr std::array<int, input_override::kEmulatedInputCount> kEmulatedInputSignals{
    2,  5,  8,  11, 14, 17,  // HomeX..HomeC
    1,  4,  7,  10, 13, 16,  // LimitX-..LimitC-
    0,  3,  6,  9,  12, 15,  // LimitX+..LimitC+
    22, 23, 44, 25,          // Probe, Index, Timing, ESTOP
    26, 27, 28};             // THC on, THC up, THC down

// PID presets 0..4: factors of the voltage-scaled base constants.
constexpr std::array<double, 5> kPidPresetFactors{1.0 / 3.0, 0.5, 1.0, 2.0, 3.0};
constexpr double kPidBaseP = 0.3;
constexpr double kPidBaseI = 0.0001;
constexpr double kPidBaseD = 6.0;
constexpr double kPidStepsPerVolt = 0.05;

const ui::ThcOptionsPage& Options() { return ui::TheConfigDialog().thcOptions; }

bool ThcOnActive() { return EngineBlock::InputSignalActive.Get(kInputThcOn) != 0; }
void SetThcOnActive(bool active) { EngineBlock::InputSignalActive.Set(kInputThcOn, active ? 1 : 0); }
bool ThcOnEnabled() { return EngineBlock::InputSignalEnabled.Get(kInputThcOn) != 0; }

double ZStepsPerUnit() { return PlannerBlock::AxisStepsPerUnit.Get(kAxisZ); }

// Torch volts at the given input volts; 0 without an input calibration.
double TorchVoltsAtInput(double inputVolts) {
  const ui::ThcOptionsPage& options = Options();
  if (options.THCanalogv == 0) return 0.0;
  return options.THCtorchv * inputVolts / (options.THCanalogv * 0.001);
}

// --- The voltage step ---

// Each line opens the file anew, so a log survives a crash of the host. A
// file that cannot be opened loses the line; the next line tries again, and
// the fresh start waits for the first line that is written.
void LogVoltage(const StatusRecord& record, std::uint16_t raw, double volts) {
  ThcRuntime& thc = Thc();
  std::FILE* file = std::fopen(kVoltageLogFile, thc.LogFileFresh ? "w" : "a");
  if (!file) return;
  if (thc.LogFileFresh) std::fputs("flags\tth\tadc\tvolts\tz\n", file);
  thc.LogFileFresh = false;
  const double stepsPerUnit = ZStepsPerUnit();
  const double zSteps = static_cast<double>(EngineBlock::ThcZOffset.Get()) + record.StepPositions[kAxisZ];
  const double z = stepsPerUnit != 0.0 ? zSteps / stepsPerUnit : 0.0;
  std::fprintf(file, "0x%02X\t%d\t%d\t%f\t%f\n", static_cast<unsigned>(record.Flags),
               static_cast<int>(EngineBlock::InputSignalActive.Get(kInputThcOn)), static_cast<int>(raw), volts, z);
  std::fclose(file);
}

// The reference follows the nominal voltage, or the sampled one once there
// is one, times the voltage override.
void FeedGraph(double volts) {
  ui::ThcGraphFeed& graph = ui::TheThcGraph();
  graph.Append(NarrowToFloat(volts));
  const platform::Window window = ui::Windows().thcGraph;
  if (ui::WindowExists(window)) platform::PostToWindow(window, ui::kMsgNewData, 0, 0);

  const ThcRuntime& thc = Thc();
  const double override = host::GetDro(kDroVoltageOverride) * 0.01;
  if (Options().THCVSample == 0) {
    graph.SetReferenceLevel(NarrowToFloat(settings::Process().THCnomvoltage * override));
  } else if (thc.SampledVoltageValid) {
    graph.SetReferenceLevel(NarrowToFloat(thc.SampledVoltage * override));
  }
}

// A frame at the controller's sampling moment only captures the voltage.
void MeasureTorchVoltage(const StatusRecord& record) {
  const std::int32_t input = settings::Process().LiveAnalogIndex;
  if (input < 0 || input >= kStatusAnalogCount) return;
  const std::uint16_t raw = record.AnalogInputs[input];
  const double volts = TorchVolts(raw);
  if ((record.Flags & status_flag::kSampleTorchVoltage) != 0) {
    ThcRuntime& thc = Thc();
    thc.SampledVoltage = volts;
    thc.SampledVoltageValid = true;
    return;
  }
  if (Options().logToFile != 0 && (record.Flags & status_flag::kThcRunning) != 0) LogVoltage(record, raw, volts);
  FeedGraph(volts);
  host::SetDro(kDroTorchVoltage, std::trunc(volts * 10.0) * 0.1);
}

// The DRO is where the user and the host's programs set the nominal voltage;
// the setting takes whatever it shows, within the regulator's range.
void FollowNominalVoltageDro() {
  double volts = host::GetDro(kDroNominalVoltage);
  if (volts > kHighestNominalVolts) {
    host::SetDro(kDroNominalVoltage, kHighestNominalVolts);
    volts = kHighestNominalVolts;
  }
  if (plugin::NominalVoltageUpdating || volts == settings::Process().THCnomvoltage) return;
  plugin::SetThcNominalVoltage(volts);
}

// --- The input overrides ---

std::uint32_t EmulatedInputBits() {
  std::uint32_t bits = 0;
  for (int i = 0; i < input_override::kEmulatedInputCount; ++i) {
    const int signal = kEmulatedInputSignals[i];
    if (EngineBlock::InputSignalEnabled.Get(signal) != 0 && EngineBlock::InputSignalEmulated.Get(signal) != 0 &&
        EngineBlock::InputSignalActive.Get(signal) != 0) {
      bits |= 1u << i;
    }
  }
  return bits;
}

// Without a THC on input of its own, the torch is on while the spindle is,
// in plasma mode.
void DeriveThcOnFromSpindle(std::uint32_t& bits) {
  if (EngineBlock::ThcOnFromSpindle.Get() == 0 || ThcOnEnabled()) return;
  if (EngineBlock::PlasmaMode.Get() == 0) {
    SetThcOnActive(false);
    return;
  }
  bits |= input_override::kThcOn;
  SetThcOnActive(PlannerBlock::SpindleOn.Get() != 0);
}

// With Num Lock on, the keypad's 9 and 3 move the torch up and down.
void ApplyManualThc(std::uint32_t& bits) {
  if (Options().ManualTHC == 0 || !platform::NumLockOn()) return;
  bits = (bits & ~input_override::kClearedInManualMode) | input_override::kManualThc;
  if (EngineBlock::PlasmaMode.Get() == 0 || EngineBlock::EStop.Get() != 0) return;
  if (platform::KeyHeld(platform::Key::Numpad9)) {
    bits |= input_override::kThcUp;
  } else if (platform::KeyHeld(platform::Key::Numpad3)) {
    bits |= input_override::kThcDown;
  }
}

// --- The regulator's parameters ---

std::int32_t ZSteps(double units) { return TruncateSaturating<std::int32_t>(units * ZStepsPerUnit()); }

std::uint16_t Tenths(double value) { return TruncateSaturating<std::uint16_t>(value * 10.0); }

// A percentage of the nominal voltage, in the nominal's 0.1 V.
std::uint16_t PercentOfNominal(double percent, std::uint16_t nominal) {
  return TruncateSaturating<std::uint16_t>(percent * nominal * 0.01);
}

std::uint16_t ThcOptionBits(const ui::ThcOptionsPage& options) {
  std::uint16_t bits = 0;
  if (options.KerfDetect != 0) bits |= thc_option::kKerfDetect;
  if (options.THCLP != 0) bits |= thc_option::kLowPass;
  if (options.THCLock != 0) bits |= thc_option::kLock;
  if (options.THCLockCmd != 0) bits |= thc_option::kLockCommand;
  return bits;
}

// Counters saturate rather than wrap: they are the user's record of a
// torch's consumables.
std::int32_t SaturatingAdd(std::int32_t counter, std::uint32_t amount) {
  const std::int64_t sum = std::int64_t{counter} + amount;
  return static_cast<std::int32_t>(std::min<std::int64_t>(sum, std::numeric_limits<std::int32_t>::max()));
}

}  // namespace

ThcRuntime& Thc() {
  static ThcRuntime state;
  return state;
}

double VoltageScale() { return TorchVoltsAtInput(1.0); }

double TorchVolts(std::uint32_t raw) { return raw * VoltageScale() * kInputFullScaleVolts / kRawPerFullScale; }

LowPassCoefficients LowPassFor(double hertz) {
  const double k = std::tan(std::numbers::pi * hertz / kControllerSampleHz);
  const double g = 1.0 / (1.0 + k);
  return LowPassCoefficients{TruncateSaturating<std::int32_t>(k * g * kCoefficientScale + 0.5),
                             TruncateSaturating<std::int32_t>((k - 1.0) * g * kCoefficientScale + 0.5)};
}

ThcParameters BuildThcParameters() {
  const ui::ThcOptionsPage& options = Options();
  ThcParameters p;
  double speed = PlannerBlock::AxisMaxVelocity.Get(kAxisZ) * PlannerBlock::ThcRate.Get() * ZStepsPerUnit() * 0.01;
  if (platform::NumLockOn()) speed *= options.ManualSpeed * 0.01;
  p.Speed = TruncateSaturating<std::int32_t>(speed);
  p.ZMin = ZSteps(PlannerBlock::ThcZMin.Get());
  p.ZMax = ZSteps(PlannerBlock::ThcZMax.Get());
  p.PierceDelay = TruncateSaturating<std::uint16_t>(host::GetDro(kDroPierceDelay) * 1000.0);
  p.Type = static_cast<std::uint8_t>(options.THCtype + (options.THCVSample != 0 ? kThcTypeSampleVoltage : 0));
  p.AnalogInput = static_cast<std::uint8_t>(options.THCAnsel);
  p.Nominal = Tenths(settings::Process().THCnomvoltage);
  p.Hysteresis = Tenths(options.THChystvoltage);
  p.FullScale = TruncateSaturating<std::uint16_t>(TorchVoltsAtInput(kInputFullScaleVolts));
  p.ArcDetectVoltage = options.THCarcDetect != 0 ? TruncateSaturating<std::uint16_t>(options.THCdetVoltage) : 0;
  p.ArcDetectTime = TruncateSaturating<std::uint16_t>(options.THCdetTime);
  p.SampleDelta = PercentOfNominal(options.THCVSDelta, p.Nominal);
  p.VoltageOverride = Tenths(host::GetDro(kDroVoltageOverride));
  p.Options = ThcOptionBits(options);
  p.KerfVoltage = PercentOfNominal(options.KerfVoltage, p.Nominal);
  p.KerfTime = TruncateSaturating<std::uint16_t>(options.KerfTime);
  const LowPassCoefficients lowPass = LowPassFor(options.THCLPFreq);
  p.LowPassB0 = lowPass.b0;
  p.LowPassB1 = lowPass.b0;
  p.LowPassA1 = lowPass.a1;
  p.LockMax = PercentOfNominal(options.THCLockMax, p.Nominal);
  p.LockMin = PercentOfNominal(options.THCLockMin, p.Nominal);
  return p;
}

// Without a voltage scale the regulator gets no gain at all rather than an
// infinite one; a preset outside the dialog's five takes the nearest.
ThcPidConstants ComputePidConstants() {
  const ui::ThcOptionsPage& options = Options();
  const double scale = VoltageScale();
  const double c = scale != 0.0 ? ZStepsPerUnit() * kPidStepsPerVolt / scale : 0.0;
  if (options.thcIsCustom != 0) {
    return ThcPidConstants{NarrowToFloat(options.thcP * c), NarrowToFloat(options.thcI * c),
                           NarrowToFloat(options.thcD * c)};
  }
  const std::int32_t preset =
      std::clamp(options.thcPidPreset, 0, static_cast<std::int32_t>(kPidPresetFactors.size()) - 1);
  const double scaled = c * kPidPresetFactors[preset];
  return ThcPidConstants{NarrowToFloat(kPidBaseP * scaled), NarrowToFloat(kPidBaseI * scaled),
                         NarrowToFloat(kPidBaseD * scaled)};
}

void RunVoltageStep(const StatusRecord& record) {
  if (Options().THCtype == kThcExternal) {
    host::SetDro(kDroNominalVoltage, 0.0);
    return;
  }
  MeasureTorchVoltage(record);
  FollowNominalVoltageDro();
}

void ReleaseArcWait() {
  if (EngineBlock::EStop.Get() != 0) return;
  MotionState& motion = Motion();
  if (!motion.ArcWait || !ThcOnActive()) return;
  motion.ArcWait = false;
  // A running dwell releases the host when it ends.
  if (motion.DwellTicks == 0) EngineBlock::DwellBusy.Set(0);
}

void SendInputOverrides() {
  if (!link::Online()) return;
  std::uint32_t bits = EmulatedInputBits();
  DeriveThcOnFromSpindle(bits);
  ApplyManualThc(bits);
  SendWhenChanged(link::CMD_SET_INPUT_OVERRIDES, Thc().LastInputOverrides, EncodeInputOverrides(bits));
}

// Outside plasma mode the parameters go out only when the torch's analog
// input changed since they last went out.
void SendThcParameters() {
  ThcRuntime& thc = Thc();
  const auto lastInput = std::to_integer<std::int32_t>(thc.LastThcParameters.Kept()[thc_payload::kAnalogInput]);
  if (EngineBlock::PlasmaMode.Get() == 0 && Options().THCAnsel == lastInput) return;
  const ThcPayload payload = EncodeThcParameters(BuildThcParameters());
  if (link::Online()) SendWhenChanged(link::CMD_SET_THC, thc.LastThcParameters, payload);
}

// Ignitions and cut time count in plasma mode out of e-stop, by the THC on
// signal: from the controller's arc OK when nothing else drives it.
void CountConsumables() {
  const ui::ThcOptionsPage& options = Options();
  if (EngineBlock::ThcOnFromSpindle.Get() == 0 && !ThcOnEnabled()) {
    const bool arcOk = (Cycle().Status.Flags & status_flag::kArcOk) != 0;
    SetThcOnActive(options.THCarcDetect != 0 && options.THCtype != kThcExternal && arcOk);
  }
  if (EngineBlock::EStop.Get() != 0 || EngineBlock::PlasmaMode.Get() == 0) return;
  ThcRuntime& thc = Thc();
  settings::ConsumableCounters& counters = settings::Process().consumables;
  const bool arcOn = ThcOnActive();
  const std::uint32_t now = platform::TickCount();
  if (arcOn && !thc.ArcWasOn) {
    counters.THCIgnitionCnt = SaturatingAdd(counters.THCIgnitionCnt, 1);
    thc.ArcStartTick = now;
  }
  if (thc.ArcWasOn) {
    counters.THCCutTime = SaturatingAdd(counters.THCCutTime, now - thc.ArcStartTick);
    thc.ArcStartTick = now;
  }
  thc.ArcWasOn = arcOn;
}

void SendPidConstants() {
  ThcRuntime& thc = Thc();
  if (!thc.PidConstantsPending || !link::Online()) return;
  thc.PidConstantsPending = false;
  link::SendCommand(link::CMD_SET_THC_PID, EncodeThcPid(ComputePidConstants()));
}

}  // namespace veltra::cycle

#include "config/config_record.h"

#include <algorithm>

#include "config/pin_map.h"
#include "platform/message_box.h"
#include "plugin/host_blocks.h"
#include "plugin/numeric.h"
#include "settings/process_settings.h"
#include "ui/config_dialog.h"

namespace veltra::config {
namespace {

constexpr double kVelocityMargin = 0.95;
constexpr double kPwmFullScale = 655.36;  // percent to 16-bit fraction
constexpr std::int32_t kBipolarCentre = 32768;
constexpr std::int32_t kMinDividerFrequency = 256;
constexpr std::int32_t kMaxDividerFrequency = 20480;
constexpr double kDividerBase = 2048000.0;
constexpr std::uint32_t kMinPwmFrequency = 10;
constexpr std::int32_t kStepWidthUnitNs = 20;
constexpr std::int32_t kParamScaledDivisor = 2048;
constexpr std::int32_t kShuttleFunction = 5;
constexpr int kFirstAnalogSource = 0;
constexpr int kAnalogSourceCount = 4;
constexpr int kFirstMpgSource = 8;
constexpr std::uint8_t kFirstMpgShuttle = 4;
constexpr int kFirstMpgEncoder = 4;

std::int32_t Steps(double value) { return TruncateSaturating<std::int32_t>(value); }

using AxisValues = std::array<double, kMotionAxisCount>;

// The motion axes X to C: velocity lowered to the step frequency, the axis
// record, and the soft limits of slaves merged into their masters. Returns
// whether any velocity was lowered. The soft limits are worked on in the
// process-wide values, so that the probe sees the merged ranges.
bool BuildMotionAxes(ConfigRecord& record, UploadedConfig& uploaded, AxisValues& distanceA) {
  const float backOff = ui::TheConfigDialog().general.BackOffDist;
  bool lowered = false;
  for (int a = 0; a < kMotionAxisCount; ++a) {
    const double s = PlannerBlock::AxisStepsPerUnit.Get(a);
    double v = PlannerBlock::AxisMaxVelocity.Get(a);
    const double f = PlannerBlock::MaxPulseRate.Get(a);
    const bool enabled = EngineBlock::AxisEnabled.Get(a) != 0;
    if (enabled && s != 0.0 && v * s > f) {
      v = kVelocityMargin * f / s;
      PlannerBlock::AxisMaxVelocity.Set(a, v);
      lowered = true;
    }
    record.Set(AxisConfig::StepsPerUnit, a, Steps(s));
    record.Set(AxisConfig::MaxStepRate, a, Steps(v * s));
    record.Set(AxisConfig::Acceleration, a, Steps(PlannerBlock::AxisAcceleration.Get(a) * s));

    // A master index the host cannot have makes no slave.
    const std::int32_t master = EngineBlock::AxisSlaveMaster.Get(a);
    const bool slaved = enabled && EngineBlock::AxisSlave.Get(a) != 0 && master >= 0 && master < kMotionAxisCount;
    record.Set(AxisConfig::SlaveOf, a, static_cast<std::uint8_t>(slaved ? master + 1 : 0));

    uploaded.SoftLimitMin[a] = PlannerBlock::AxisSoftMin.Get(a);
    uploaded.SoftLimitMax[a] = PlannerBlock::AxisSoftMax.Get(a);
    distanceA[a] = PlannerBlock::AxisDistanceA.Get(a);
    // The master keeps the range both axes allow. A master after its slave
    // takes its own host limits again at its turn, which undoes this.
    if (slaved) {
      uploaded.SoftLimitMax[master] = std::min(uploaded.SoftLimitMax[master], uploaded.SoftLimitMax[a]);
      uploaded.SoftLimitMin[master] = std::max(uploaded.SoftLimitMin[master], uploaded.SoftLimitMin[a]);
    }

    record.Set(AxisConfig::PercentRate, a, Steps(PlannerBlock::AxisSpeedPercent.Get(a) * v * s * 0.01));
    record.Set(AxisConfig::DistanceBSteps, a, Steps(PlannerBlock::AxisDistanceB.Get(a) * s));
    std::uint8_t flags = 0;
    if (PlannerBlock::AxisOptionBit0.Get(a) != 0) flags |= AxisFlag::OptionBit0;
    if (EngineBlock::AxisOptionBit1.Get(a) != 0) flags |= AxisFlag::OptionBit1;
    if (backOff != 0.0f) flags |= AxisFlag::BackOff;
    record.Set(AxisConfig::AxisFlags, a, flags);
    record.Set(AxisConfig::ParamScaled, a, EngineBlock::AxisParamScaled.Get(a) / kParamScaledDivisor);
    record.Set(AxisConfig::ParamRaw, a, EngineBlock::AxisParamRaw.Get(a));
  }
  return lowered;
}

void WriteAxisPositions(ConfigRecord& record, const UploadedConfig& uploaded, const AxisValues& distanceA) {
  for (int a = 0; a < kMotionAxisCount; ++a) {
    const double s = PlannerBlock::AxisStepsPerUnit.Get(a);
    record.Set(AxisConfig::SoftMinSteps, a, Steps(uploaded.SoftLimitMin[a] * s));
    record.Set(AxisConfig::SoftMaxSteps, a, Steps(uploaded.SoftLimitMax[a] * s));
    record.Set(AxisConfig::DistanceASteps, a, Steps(distanceA[a] * s));
  }
}

bool StepDirSpindle() {
  return PlannerBlock::SpindleMotorEnabled.Get() != 0 && PlannerBlock::SpindlePwmControl.Get() == 0;
}

void BuildSpindleAxis(ConfigRecord& record) {
  settings::HostPreferences& preferences = settings::Process().preferences;
  const double limit = PlannerBlock::MaxPulseRate.Get(kSpindleAxis);
  if (StepDirSpindle() && preferences.Steps6 != 0.0 && preferences.Steps6 * preferences.Vel6 > limit) {
    // Only in memory: the host keeps its own tuning.
    preferences.Vel6 = limit / preferences.Steps6;
    platform::ShowMessageBox(
        "WARNING: maximum velocity for Spindle Step&Dir axis is set too high for specified maximum step "
        "frequency.\nPlease correct this using Motor Tuning dialog and then restart Mach3.");
  }
  record.Set(AxisConfig::StepsPerUnit, kSpindleAxis, Steps(preferences.Steps6));
  record.Set(AxisConfig::MaxStepRate, kSpindleAxis, Steps(preferences.Steps6 * preferences.Vel6));
  record.Set(AxisConfig::Acceleration, kSpindleAxis, Steps(preferences.Acc6 * preferences.Steps6));
}

void BuildSpindleMotor(ConfigRecord& record) {
  if (EngineBlock::PlasmaMode.Get() != 0 && StepDirSpindle()) {
    PlannerBlock::SpindleMotorEnabled.Set(0);
    platform::ShowMessageBox("You can not use STEP/DIR spindle motor control in THC plasma mode!");
  }
  record.Set(ConfigField::SpindleOption, PlannerBlock::SpindleOptionByte.Get());
  std::uint8_t mode = SpindleMotor::None;
  if (PlannerBlock::SpindleMotorEnabled.Get() != 0) {
    mode = PlannerBlock::SpindlePwmControl.Get() == 0 ? SpindleMotor::StepDir : SpindleMotor::Pwm;
  }
  record.Set(ConfigField::SpindleMotorMode, mode);
}

// Compared unsigned, as the profile load does: a negative value stays.
void RaiseToMinimumPwmFrequency(std::int32_t& frequency) {
  if (static_cast<std::uint32_t>(frequency) < kMinPwmFrequency) frequency = static_cast<std::int32_t>(kMinPwmFrequency);
}

void BuildPwm(ConfigRecord& record, UploadedConfig& uploaded) {
  ui::ConfigDialog& dialog = ui::TheConfigDialog();
  ui::GeneralPage& general = dialog.general;
  RaiseToMinimumPwmFrequency(general.PWMFreq);
  PlannerBlock::SpindlePwmFrequency.Set(general.PWMFreq);
  record.Set(ConfigField::PwmFrequency, general.PWMFreq);

  std::int32_t spindlePwm = TruncateSaturating<std::int32_t>(PlannerBlock::SpindlePwmPercent.Get() * kPwmFullScale);
  record.Set(ConfigField::PostInitValue, TruncateSaturating<std::int32_t>(PlannerBlock::PostInitPercent.Get()));
  RaiseToMinimumPwmFrequency(dialog.specialFunctions.PWMEFreq);
  record.Set(ConfigField::ExtPwmFrequency, dialog.specialFunctions.PWMEFreq);

  uploaded.PwmBipolar = general.PWMBipMode != 0 && general.LaserComp == 0 && general.LaserGL == 0;
  if (uploaded.PwmBipolar) spindlePwm = spindlePwm / 2 + kBipolarCentre;
  record.Set(ConfigField::SpindlePwm, spindlePwm);
}

void BuildModeFlags(ConfigRecord& record) {
  const ui::ConfigDialog& dialog = ui::TheConfigDialog();
  std::uint8_t flags = 0;
  if (PlannerBlock::ControllerOptionBit0.Get() != 0) flags |= ModeFlag::ControllerOption0;
  if (EngineBlock::ControllerOptionBit1.Get() != 0) flags |= ModeFlag::ControllerOption1;
  if (dialog.thcOptions.THCramp != 0) flags |= ModeFlag::ThcRamp;
  if (dialog.general.LaserComp != 0) flags |= ModeFlag::LaserComp;
  if (dialog.general.LaserGL != 0) flags |= ModeFlag::LaserGrayLevel;
  if (EngineBlock::ControllerOptionBit6.Get() != 0) flags |= ModeFlag::ControllerOption6;
  if (settings::Process().preferences.SlaveHome != 0) flags |= ModeFlag::SlaveHome;
  record.Set(ConfigField::ModeFlags, flags);
  const ui::GeneralPage& general = dialog.general;
  record.Set(ConfigField::LaserSyncOutput,
             static_cast<std::uint8_t>(general.LaserSync != 0 ? general.LaserSyncPort & 0xFF : 0));
}

void BuildDividerAndSpindleEncoder(ConfigRecord& record, UploadedConfig& uploaded) {
  const std::int32_t frequency =
      std::clamp(EngineBlock::DividerFrequency.Get(), kMinDividerFrequency, kMaxDividerFrequency);
  EngineBlock::DividerFrequency.Set(frequency);
  record.Set(ConfigField::Divider, TruncateSaturating<std::uint16_t>(kDividerBase / frequency));

  const ui::ConfigDialog& dialog = ui::TheConfigDialog();
  const ui::SyncedModesPage& synced = dialog.syncedModes;
  record.Set(ConfigField::IndexPulses, static_cast<std::uint16_t>(dialog.general.IndexCnt));
  record.Set(ConfigField::EncoderCpr, static_cast<std::uint16_t>(synced.Enc0cpr));
  record.Set(ConfigField::SpindleEncoder, static_cast<std::uint8_t>(synced.EncForSync));
  std::uint8_t encoderFlags = static_cast<std::uint8_t>(synced.RTSIndex & 0xFF);
  if (synced.EncRPM != 0) encoderFlags |= SpindleEncoderFlag::RpmFromEncoder;
  record.Set(ConfigField::SpindleEncoderFlags, encoderFlags);
  uploaded.EncRpmInForce = synced.EncRPM != 0;

  record.Set(ConfigField::GearEnable, static_cast<std::uint8_t>(synced.gearEnable));
  record.Set(ConfigField::GearAxis, static_cast<std::uint8_t>(synced.gearAxis));
  record.Set(ConfigField::GearMaster, static_cast<std::uint8_t>(synced.gearMaster));
  record.Set(ConfigField::GearRatio, synced.gearRatio);
  record.Set(ConfigField::GearOffsetSteps, synced.gearOffset * PlannerBlock::AxisStepsPerUnit.Get(synced.gearAxis));
  record.Set(ConfigField::GearRelative, static_cast<std::uint8_t>(synced.gearRelative));
}

// An analog input set to shuttle wins, then an MPG set to shuttle, then the
// first MPG wired to the controller. The upper threshold is only replaced by
// an analog source's.
void ChooseShuttleSource(ConfigRecord& record, const UploadedConfig& uploaded) {
  record.Set(ConfigField::ShuttleZeroMv, std::uint16_t{0});
  for (int i = kFirstAnalogSource; i < kFirstAnalogSource + kAnalogSourceCount; ++i) {
    const ui::SpecialFunctionRecord& source = uploaded.SpecialFunctions[i];
    if (source.Fun != kShuttleFunction) continue;
    record.Set(ConfigField::ShuttleSource, static_cast<std::uint8_t>(i));
    record.Set(ConfigField::ShuttleZeroMv, static_cast<std::uint16_t>(source.ZThresh));
    record.Set(ConfigField::ShuttleUpperMv, static_cast<std::uint16_t>(source.UPThresh));
    return;
  }
  for (int i = kFirstMpgSource; i < kFirstMpgSource + kMpgCount; ++i) {
    if (uploaded.SpecialFunctions[i].Fun != kShuttleFunction) continue;
    record.Set(ConfigField::ShuttleSource, static_cast<std::uint8_t>(kFirstMpgShuttle + (i - kFirstMpgSource)));
    return;
  }
  for (int k = kFirstMpgEncoder; k < kFirstMpgEncoder + kMpgCount; ++k) {
    if (!uploaded.EncoderWired[k]) continue;
    record.Set(ConfigField::ShuttleSource, static_cast<std::uint8_t>(k));
    return;
  }
  record.Set(ConfigField::ShuttleSource, kFirstMpgShuttle);
}

void BuildStepOutputs(ConfigRecord& record) {
  const ui::PulseEnginePage& pulse = ui::TheConfigDialog().pulseEngine;
  for (int n = 0; n < ui::kStepOutputCount; ++n) {
    record.Set(ConfigField::StepWidth, n, static_cast<std::uint8_t>(pulse.StepW[n] / kStepWidthUnitNs));
    record.Set(ConfigField::PulseMode, n, static_cast<std::uint8_t>(pulse.PulseMode[n]));
  }
}

}  // namespace

ConfigRecord& TheConfigRecord() {
  static ConfigRecord record;
  return record;
}

UploadedConfig& Uploaded() {
  static UploadedConfig uploaded;
  return uploaded;
}

void BuildConfigRecord() {
  ConfigRecord& record = TheConfigRecord();
  UploadedConfig& uploaded = Uploaded();
  ui::ConfigDialog& dialog = ui::TheConfigDialog();

  // Rebuilt from nothing, except the shuttle's upper threshold, which only an
  // analog shuttle source replaces.
  const std::uint16_t shuttleUpper = record.Get(ConfigField::ShuttleUpperMv);
  record.Clear();
  record.Set(ConfigField::ShuttleUpperMv, shuttleUpper);

  uploaded.RampSpline.Fit(dialog.general.curve, settings::CurveSpline::kNaturalEnd, settings::CurveSpline::kNaturalEnd);
  uploaded.RampNominalFeed = dialog.general.curve.LMaxFeed;
  uploaded.SpecialFunctions = dialog.specialFunctions.sources;

  AxisValues distanceA{};
  if (BuildMotionAxes(record, uploaded, distanceA)) {
    platform::ShowMessageBox(
        "WARNING: maximum velocity for one or more axes was lowered to be inside limit for specified maximum step "
        "frequency.\nPlease use Motor Tuning dialog to review this settings.");
  }
  WriteAxisPositions(record, uploaded, distanceA);

  ui::GeneralPage& general = dialog.general;
  record.Set(ConfigField::HomeRetract, static_cast<std::uint8_t>(general.HomeRetract));
  if (general.BackOffDist < 0.0f) general.BackOffDist = 0.0f;
  record.Set(ConfigField::BackOffDistance, general.BackOffDist);

  BuildSpindleAxis(record);
  BuildSpindleMotor(record);
  BuildPwm(record, uploaded);
  BuildModeFlags(record);
  BuildDividerAndSpindleEncoder(record, uploaded);

  MapInputChannels(record, uploaded.EncoderWired);
  ChooseShuttleSource(record, uploaded);
  BuildStepOutputs(record);
  MapOutputChannels(record);
  BuildDebounceTable(record);

  uploaded.HwMpgActive = general.HwMPG != 0;
  for (int i = 0; i < kMpgCount; ++i) {
    uploaded.MpgCountsPerUnit[i] = PlannerBlock::EncoderScale.Get(kFirstMpgEncoder + i);
  }

  for (int e = 0; e < ui::kEncoderCount; ++e) {
    record.Set(ConfigField::EncoderFilter, e, static_cast<std::uint8_t>(dialog.inputFilter.EncFilt[e] & 0xFF));
  }
  SwitchOffFilteredEncoderDebounce(record);
}

}  // namespace veltra::config

#include "cycle/special_inputs.h"

#include <algorithm>
#include <cmath>

#include "config/config_record.h"
#include "link/command_table.h"
#include "link/controller_socket.h"
#include "plugin/host_blocks.h"
#include "plugin/host_callbacks.h"
#include "plugin/nominal_voltage.h"
#include "plugin/numeric.h"
#include "settings/process_settings.h"

namespace veltra::cycle {
namespace {

using ui::SpecialFunctionRecord;

constexpr std::int32_t kDroSpindleOverride = 74;
constexpr std::int32_t kDroFeedOverride = 821;
constexpr std::int32_t kDroVoltageOverride = 1502;
constexpr int kUserVariablePwm1 = 1600;
constexpr int kUserVariablePwm2 = 1601;

constexpr double kSmallestCountsPerUnit = 0.00001;
constexpr double kFullScale = 65535.0;          // a source's value spans 0..65535
constexpr double kCountsPerMillivolt = 13.107;  // 65535 counts per 5000 mV
constexpr double kMillivoltsFullScale = 5000.0;
constexpr std::int32_t kTypePercentage = 1;  // else a 16-bit value
constexpr double kOverrideMin = 0.0, kOverrideMax = 250.0;
constexpr double kNominalVoltsMin = 50.0, kNominalVoltsMax = 300.0;
constexpr double kNominalVoltsSpan = 300.0;
constexpr double kVoltageOverrideMin = 80.0, kVoltageOverrideMax = 120.0;
constexpr double kDutyPercentMax = 100.0;
constexpr double kDutyPerPercent = 655.35;

bool UserVariableExists(std::int32_t id) { return SetupBlock::UserVariable.Contains(id); }
bool SpecialDroExists(std::int32_t id) { return id >= 0 && id <= kHighestSpecialDro; }

double LimitOfType(const SpecialFunctionRecord& source) { return source.Type == kTypePercentage ? 100.0 : kFullScale; }

void SetUserValue(const SpecialFunctionRecord& source, double value) {
  if (source.Fun == special_function::kUserVariable && UserVariableExists(source.VarID)) {
    SetupBlock::UserVariable.Set(source.VarID, value);
  } else if (source.Fun == special_function::kUserDro && SpecialDroExists(source.VarID)) {
    host::SetDro(source.VarID, value);
  }
}

void AdjustDro(std::int32_t dro, double change, double low, double high) {
  host::SetDro(dro, std::clamp(host::GetDro(dro) + change, low, high));
}

// The input level between the two thresholds as 0..65535. Thresholds that
// span nothing make the input a switch: full scale from the zero threshold
// up.
double AnalogValue(std::uint16_t raw, const SpecialFunctionRecord& source) {
  const double aboveZero = raw - source.ZThresh * kCountsPerMillivolt;
  if (aboveZero < 0.0) return 0.0;
  const double span = static_cast<double>(source.UPThresh) - source.ZThresh;
  if (span <= 0.0) return kFullScale;
  return std::min(aboveZero / span * kMillivoltsFullScale, kFullScale);
}

void ApplyAnalogValue(const SpecialFunctionRecord& source, double x) {
  switch (source.Fun) {
    case special_function::kFeedOverride:
      host::SetDro(kDroFeedOverride, std::trunc(x * kOverrideMax / kFullScale + 0.5));
      break;
    case special_function::kSpindleOverride:
      host::SetDro(kDroSpindleOverride, std::trunc(x * kOverrideMax / kFullScale + 0.5));
      break;
    case special_function::kUserVariable:
    case special_function::kUserDro:
      SetUserValue(source, source.Type == kTypePercentage ? std::trunc(x * 100.0 / kFullScale + 0.5) : std::trunc(x));
      break;
    case special_function::kThcNominalVoltage:
      // Above 300 V the voltage step pulls it back at the next frame.
      plugin::SetThcNominalVoltage(x * kNominalVoltsSpan / kFullScale + kNominalVoltsMin);
      break;
    case special_function::kThcVoltageOverride:
      host::SetDro(kDroVoltageOverride, std::trunc(x * 400.0 / kFullScale + 800.0) * 0.1);
      break;
    default:
      break;
  }
}

// A counter turns its host value by one per unit turned, within the value's
// range.
void ApplyCounterChange(const SpecialFunctionRecord& source, double change) {
  switch (source.Fun) {
    case special_function::kFeedOverride:
      AdjustDro(kDroFeedOverride, change, kOverrideMin, kOverrideMax);
      break;
    case special_function::kSpindleOverride:
      AdjustDro(kDroSpindleOverride, change, kOverrideMin, kOverrideMax);
      break;
    case special_function::kUserVariable:
      if (UserVariableExists(source.VarID)) {
        SetupBlock::UserVariable.Set(
            source.VarID, std::clamp(SetupBlock::UserVariable.Get(source.VarID) + change, 0.0, LimitOfType(source)));
      }
      break;
    case special_function::kUserDro:
      if (SpecialDroExists(source.VarID)) AdjustDro(source.VarID, change, 0.0, LimitOfType(source));
      break;
    case special_function::kThcNominalVoltage:
      plugin::SetThcNominalVoltage(
          std::clamp(settings::Process().THCnomvoltage + change, kNominalVoltsMin, kNominalVoltsMax));
      break;
    case special_function::kThcVoltageOverride:
      AdjustDro(kDroVoltageOverride, change, kVoltageOverrideMin, kVoltageOverrideMax);
      break;
    default:
      break;
  }
}

std::uint16_t DutyOf(double percent) {
  return TruncateSaturating<std::uint16_t>(std::clamp(percent, 0.0, kDutyPercentMax) * kDutyPerPercent);
}

}  // namespace

SpecialInputs& Special() {
  static SpecialInputs state;
  return state;
}

double UsableCountsPerUnit(double countsPerUnit) {
  return std::abs(countsPerUnit) < kSmallestCountsPerUnit ? 1.0 : countsPerUnit;
}

void RunAnalogFunctions(const StatusRecord& record) {
  const auto& table = config::Uploaded().SpecialFunctions;
  for (int i = 0; i < kStatusAnalogCount; ++i) {
    const SpecialFunctionRecord& source = table[i];
    if (source.Fun == special_function::kNone) continue;
    ApplyAnalogValue(source, AnalogValue(record.AnalogInputs[i], source));
  }
}

void RunEncoderFunctions(const StatusRecord& record) {
  SpecialInputs& special = Special();
  if (special.EncoderRebase) {
    special.EncoderBase = record.EncoderCounts;
    special.EncoderRebase = false;
  }
  const config::UploadedConfig& uploaded = config::Uploaded();
  for (int k = 0; k < kStatusEncoderCount; ++k) {
    const SpecialFunctionRecord& source = uploaded.SpecialFunctions[kFirstCounterEntry + k];
    if (!uploaded.EncoderWired[k] || source.Fun == special_function::kNone) continue;
    const std::int32_t turned = WrappingDifference(record.EncoderCounts[k], special.EncoderBase[k]);
    if (turned == 0) continue;
    const double countsPerUnit = UsableCountsPerUnit(PlannerBlock::EncoderScale.Get(k));
    const double units = turned / countsPerUnit;
    special.EncoderBase[k] =
        WrappingSum(special.EncoderBase[k], TruncateSaturating<std::int32_t>(units * countsPerUnit));
    ApplyCounterChange(source, units);
  }
}

void SendPwmDuties() {
  if (!link::Online()) return;
  const PwmDuties duties{DutyOf(SetupBlock::UserVariable.Get(kUserVariablePwm1)),
                         DutyOf(SetupBlock::UserVariable.Get(kUserVariablePwm2))};
  SendWhenChanged(link::CMD_SET_PWM_DUTY, Special().LastPwmDuty, EncodePwmDuties(duties));
}

}  // namespace veltra::cycle

#include "cycle/status_rules.h"

#include "config/config_record.h"
#include "plugin/host_blocks.h"
#include "plugin/numeric.h"
#include "settings/process_settings.h"
#include "ui/config_dialog.h"

namespace veltra::cycle {
namespace {

constexpr std::uint8_t kControllerPort = 1;
constexpr std::uint32_t kVelocityWindowTicks = 10000000;
constexpr double kVelocityScale = 10000000.0;
constexpr double kVelocityWindowSkew = 100.0;

void SetActive(int signal, bool active) { EngineBlock::InputSignalActive.Set(signal, active ? 1 : 0); }

}  // namespace

VelocityWindow& TheVelocityWindow() {
  static VelocityWindow window;
  return window;
}

void MirrorInputPins(const StatusRecord& record) {
  for (int signal = 0; signal < kInputSignalCount; ++signal) {
    if (EngineBlock::InputSignalEnabled.Get(signal) == 0 || EngineBlock::InputSignalEmulated.Get(signal) != 0 ||
        EngineBlock::InputSignalPort.Get(signal) != kControllerPort) {
      continue;
    }
    const int pin = EngineBlock::InputSignalPin.Get(signal);
    if (pin > kHighestInputPin) continue;
    if (pin <= 0) {
      SetActive(signal, false);
      continue;
    }
    const bool high = (record.InputPins >> (pin - 1)) & 1u;
    SetActive(signal, EngineBlock::InputSignalActiveLow.Get(signal) != 0 ? !high : high);
  }
}

void MirrorThcSignals(const StatusRecord& record) {
  if (EngineBlock::InputSignalEnabled.Get(kInputThcUp) == 0) {
    SetActive(kInputThcUp, (record.Flags & status_flag::kThcUp) != 0);
  }
  if (EngineBlock::InputSignalEnabled.Get(kInputThcDown) == 0) {
    SetActive(kInputThcDown, (record.Flags & status_flag::kThcDown) != 0);
  }
}

void MirrorSpindleSpeed(const StatusRecord& record) {
  const auto& ratios = settings::Process().preferences.SPINRATIO;
  const std::int32_t pulley = PlannerBlock::CurrentPulley.Get();
  if (pulley < 0 || pulley >= static_cast<std::int32_t>(ratios.size())) return;
  const double divisor = config::Uploaded().EncRpmInForce ? 1.0 : static_cast<double>(ui::TheConfigDialog().general.IndexCnt);
  if (divisor == 0.0) return;
  PlannerBlock::TrueSpindleSpeed.Set(static_cast<double>(record.SpindleRate) / divisor * ratios[pulley]);
}

void MeasureAxisVelocities(const StatusRecord& record) {
  VelocityWindow& window = TheVelocityWindow();
  const std::uint32_t elapsed = record.TimeStamp - window.VelocityWindowStart;
  if (elapsed < kVelocityWindowTicks) return;
  for (int a = 0; a < kStatusAxisCount; ++a) {
    // In floating point: the step difference of two i32 counters can
    // overflow an i32.
    const double moved = static_cast<double>(record.StepPositions[a]) - window.VelocityWindowSteps[a];
    const double velocity = moved / (static_cast<double>(elapsed) - kVelocityWindowSkew) * kVelocityScale + 0.5;
    EngineBlock::AxisVelocity.Set(a, TruncateSaturating<std::int32_t>(velocity));
    window.VelocityWindowSteps[a] = record.StepPositions[a];
  }
  window.VelocityWindowStart = record.TimeStamp;
}

void PublishStepPositions(const StatusRecord& record) {
  for (int a = 0; a < kStatusAxisCount; ++a) EngineBlock::AxisPosition.Set(a, record.StepPositions[a]);
}

void MirrorExecutingLine(const StatusRecord& record) {
  if (record.ExecutingLine != -1) EngineBlock::ExecutingLine.Set(record.ExecutingLine);
}

}  // namespace veltra::cycle

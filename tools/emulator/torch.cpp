#include "torch.h"

#include <algorithm>
#include <cmath>
#include <span>

#include "link/command_table.h"
#include "ops/events.h"

namespace veltra::emu {
namespace {

constexpr std::uint16_t kOwnedFlags = cycle::status_flag::kThcRunning | cycle::status_flag::kArcOk |
                                      cycle::status_flag::kThcUp | cycle::status_flag::kThcDown |
                                      cycle::status_flag::kSampleTorchVoltage;
constexpr std::uint8_t kTypeMask = 0x7F;
constexpr std::uint8_t kTypeUpDown = 1;
// The proportional regulator moves at full speed from this error on.
constexpr double kFullSpeedErrorVolts = 5.0;
// Longer gaps between reports are not integrated further.
constexpr int kMostStepsPerReport = 2000;
constexpr double kStepSeconds = 0.001;
constexpr double kRawFullScale = 65536.0;

std::int64_t Milliseconds(PlasmaTorch::Clock::duration d) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(d).count();
}

}  // namespace

void PlasmaTorch::Execute(const ReceivedCommand& command) {
  switch (command.code) {
    case link::CMD_SET_THC:
      if (const auto bytes = command.Record<cycle::thc_payload::kSize>()) {
        state_.parameters = cycle::DecodeThcParameters(*bytes);
      }
      break;
    case link::CMD_SET_THC_PID:
      if (const auto bytes = command.Record<cycle::thc_pid_payload::kSize>()) state_.pid = cycle::DecodeThcPid(*bytes);
      break;
    case link::CMD_SET_INPUT_OVERRIDES:
      if (const auto bytes = command.Record<cycle::input_overrides_payload::kSize>()) {
        overrides_ = cycle::DecodeInputOverrides(*bytes);
      }
      break;
    case link::CMD_SPINDLE:
      if (command.payload[ops::spindle_payload::kStart] != 0) {
        state_.fired = true;
      } else {
        Extinguish();
      }
      break;
    default:
      break;
  }
}

void PlasmaTorch::Extinguish() {
  state_.fired = false;
  state_.arcOn = false;
  state_.arcOk = false;
  state_.volts = 0.0;
  state_.offset = 0.0;
  direction_ = 0;
  firedAt_.reset();
}

void PlasmaTorch::Report(Clock::time_point now, bool plasmaMode, double zStepsPerUnit, cycle::StatusRecord& status) {
  if (!state_.fired || !plasmaMode) {
    if (lit_) {
      const bool fired = state_.fired;
      Extinguish();
      state_.fired = fired;
      sampleFlag_ = false;
      Show(status);
      lit_ = false;
    }
    return;
  }
  if (!firedAt_) {
    firedAt_ = now;
    lastReport_ = now;
    sampled_ = false;
  }
  lit_ = true;
  const std::int64_t sinceFire = Milliseconds(now - *firedAt_);
  const std::int64_t pierce = state_.parameters ? state_.parameters->PierceDelay : 0;
  state_.arcOn = sinceFire >= kIgnitionMs;
  state_.arcOk = state_.arcOn && sinceFire >= std::max(kIgnitionMs, pierce);

  const double stepsPerUnit = zStepsPerUnit > 0.0 ? zStepsPerUnit : 1.0;
  const double z = status.StepPositions[2];
  const auto voltsAt = [&](double offset) {
    const double height = std::max((z + offset) / stepsPerUnit, 0.0);
    return state_.arcOn ? kVoltsAtSurface + kVoltsPerUnit * height : 0.0;
  };
  const int steps = static_cast<int>(std::min<std::int64_t>(Milliseconds(now - lastReport_), kMostStepsPerReport));
  lastReport_ = now;
  direction_ = 0;
  for (int i = 0; i < steps; ++i) {
    state_.volts = voltsAt(state_.offset);
    Regulate(kStepSeconds, z);
  }
  state_.volts = voltsAt(state_.offset);

  const bool sampling = state_.parameters && (state_.parameters->Type & cycle::kThcTypeSampleVoltage) != 0;
  sampleFlag_ = sampling && state_.arcOk && !sampled_ && sinceFire >= pierce + kSampleDelayMs;
  if (sampleFlag_) {
    sampled_ = true;
    state_.sampledVolts = state_.volts;
  }
  Show(status);
}

// One step of the regulator at the present voltage: towards the target
// beyond the hysteresis, or in proportion to the error, or by the keys.
void PlasmaTorch::Regulate(double seconds, double zSteps) {
  if (!state_.parameters) return;
  const cycle::ThcParameters& p = *state_.parameters;
  double rate = p.Speed;
  int direction = 0;
  if ((overrides_ & cycle::input_override::kManualThc) != 0) {
    if ((overrides_ & cycle::input_override::kThcUp) != 0) direction = 1;
    if ((overrides_ & cycle::input_override::kThcDown) != 0) direction = -1;
  } else {
    const std::uint8_t type = p.Type & kTypeMask;
    const bool sampling = (p.Type & cycle::kThcTypeSampleVoltage) != 0;
    if (type == 0 || !state_.arcOk || (sampling && !sampled_)) return;
    const double factor = p.VoltageOverride != 0 ? p.VoltageOverride / 1000.0 : 1.0;
    const double target = (sampling ? state_.sampledVolts : p.Nominal / 10.0) * factor;
    const double error = state_.volts - target;
    if (type == kTypeUpDown) {
      const double hysteresis = p.Hysteresis / 10.0;
      if (error > hysteresis) direction = -1;
      if (error < -hysteresis) direction = 1;
    } else {
      direction = error > 0.0 ? -1 : error < 0.0 ? 1 : 0;
      rate *= std::min(std::abs(error) / kFullSpeedErrorVolts, 1.0);
    }
  }
  if (direction == 0) return;
  direction_ = direction;
  double offset = state_.offset + direction * rate * seconds;
  if (p.ZMax > p.ZMin) offset = std::clamp(offset, p.ZMin - zSteps, p.ZMax - zSteps);
  state_.offset = offset;
}

void PlasmaTorch::Show(cycle::StatusRecord& status) const {
  status.Flags = static_cast<std::uint16_t>(status.Flags & ~kOwnedFlags);
  std::uint16_t flags = 0;
  const std::uint8_t type = state_.parameters ? (state_.parameters->Type & kTypeMask) : 0;
  if (state_.arcOk) flags |= cycle::status_flag::kArcOk;
  if (state_.arcOk && type != 0) flags |= cycle::status_flag::kThcRunning;
  if (direction_ > 0) flags |= cycle::status_flag::kThcUp;
  if (direction_ < 0) flags |= cycle::status_flag::kThcDown;
  if (sampleFlag_) flags |= cycle::status_flag::kSampleTorchVoltage;
  status.Flags = static_cast<std::uint16_t>(status.Flags | flags);

  const std::uint8_t input = state_.parameters ? state_.parameters->AnalogInput : 0;
  const double fullScale = state_.parameters ? state_.parameters->FullScale : 0.0;
  if (input < cycle::kStatusAnalogCount) {
    const double raw = fullScale > 0.0 ? state_.volts / fullScale * kRawFullScale : 0.0;
    status.AnalogInputs[input] = static_cast<std::uint16_t>(std::clamp(raw, 0.0, 65535.0));
  }
  status.ThcOffset = static_cast<std::int32_t>(std::lround(state_.offset));
}

}  // namespace veltra::emu

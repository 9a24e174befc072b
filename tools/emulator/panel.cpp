#include "panel.h"

#include <span>

#include "link/command_table.h"
#include "plugin/numeric.h"

namespace veltra::emu {
void PanelInputs::Execute(const ReceivedCommand& command) {
  switch (command.code) {
    case link::CMD_SET_INPUT_OVERRIDES:
      if (const auto bytes = command.Record<cycle::input_overrides_payload::kSize>()) {
        settings_.inputOverrides = cycle::DecodeInputOverrides(*bytes);
      }
      break;
    case link::CMD_SET_MPG:
      if (const auto bytes = command.Record<cycle::mpg_payload::kSize>()) {
        settings_.mpg = cycle::DecodeMpgConfig(*bytes);
      }
      break;
    case link::CMD_SET_PWM_DUTY:
      if (const auto bytes = command.Record<cycle::pwm_duty_payload::kSize>()) {
        settings_.pwmDuties = cycle::DecodePwmDuties(*bytes);
      }
      break;
    case link::CMD_SET_JOYSTICK:
      if (const auto bytes = command.Record<cycle::joystick_payload::kSize>()) {
        settings_.joystick = cycle::DecodeJoystickConfig(*bytes);
      }
      break;
    default:
      break;
  }
}

// Whole counts are added; what is left of a count waits for the next report.
void PanelInputs::Report(Clock::time_point now, cycle::StatusRecord& status) {
  if (!lastReport_) lastReport_ = now;
  const double seconds = std::chrono::duration<double>(now - *lastReport_).count();
  lastReport_ = now;
  for (int k = 0; k < cycle::kStatusEncoderCount; ++k) {
    partialCounts_[k] += rates_[k] * seconds;
    const std::int32_t whole = TruncateSaturating<std::int32_t>(partialCounts_[k]);
    partialCounts_[k] -= whole;
    status.EncoderCounts[k] = WrappingSum(status.EncoderCounts[k], whole);
  }
}

}  // namespace veltra::emu

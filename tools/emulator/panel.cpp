#include "panel.h"

#include <span>

#include "link/command_table.h"
#include "plugin/numeric.h"

namespace veltra::emu {
namespace {

template <std::size_t N>
std::span<const std::byte, N> Fixed(const ReceivedCommand& command) {
  return std::span<const std::byte, N>(std::as_bytes(std::span<const std::uint8_t>(command.payload)).data(), N);
}

}  // namespace

void PanelInputs::Execute(const ReceivedCommand& command) {
  switch (command.code) {
    case link::CMD_SET_INPUT_OVERRIDES:
      settings_.inputOverrides = cycle::DecodeInputOverrides(Fixed<cycle::input_overrides_payload::kSize>(command));
      break;
    case link::CMD_SET_MPG:
      settings_.mpg = cycle::DecodeMpgConfig(Fixed<cycle::mpg_payload::kSize>(command));
      break;
    case link::CMD_SET_PWM_DUTY:
      settings_.pwmDuties = cycle::DecodePwmDuties(Fixed<cycle::pwm_duty_payload::kSize>(command));
      break;
    case link::CMD_SET_JOYSTICK:
      settings_.joystick = cycle::DecodeJoystickConfig(Fixed<cycle::joystick_payload::kSize>(command));
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

// The substitute controller's operator panel: the MPG, joystick and extended
// PWM configurations and the emulated inputs it was sent, decoded, and its
// seven counters (Encoder1..4, Mpg1..3), which can turn at a steady rate of
// counts per second.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>

#include "cycle/special_input_commands.h"
#include "cycle/status_record.h"
#include "cycle/thc_commands.h"
#include "frame_parser.h"

namespace veltra::emu {

using CounterRates = std::array<std::int32_t, cycle::kStatusEncoderCount>;  // counts per second

// The last of each configuration received; none before the first.
struct PanelSettings {
  std::optional<std::uint32_t> inputOverrides;
  std::optional<cycle::MpgConfig> mpg;
  std::optional<cycle::PwmDuties> pwmDuties;
  std::optional<cycle::JoystickConfig> joystick;
};

class PanelInputs {
 public:
  using Clock = std::chrono::steady_clock;

  // Takes CMD_SET_INPUT_OVERRIDES, CMD_SET_MPG, CMD_SET_PWM_DUTY and
  // CMD_SET_JOYSTICK; ignores every other command.
  void Execute(const ReceivedCommand& command);
  void SetCounterRates(const CounterRates& rates) { rates_ = rates; }
  // Turns the counters by their rates for the time since the last report.
  void Report(Clock::time_point now, cycle::StatusRecord& status);

  const PanelSettings& Settings() const { return settings_; }

 private:
  PanelSettings settings_;
  CounterRates rates_{};
  std::optional<Clock::time_point> lastReport_;
  std::array<double, cycle::kStatusEncoderCount> partialCounts_{};
};

}  // namespace veltra::emu

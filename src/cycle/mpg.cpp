#include "cycle/mpg.h"

#include <algorithm>

#include "config/config_record.h"
#include "cycle/special_inputs.h"
#include "link/command_table.h"
#include "link/commands.h"
#include "link/controller_socket.h"
#include "plugin/host_blocks.h"
#include "plugin/lifecycle.h"
#include "plugin/numeric.h"
#include "plugin/update.h"
#include "settings/process_settings.h"
#include "ui/config_dialog.h"

namespace veltra::cycle {
namespace {

constexpr std::uint8_t kHighestMpgAxis = 6;
constexpr double kStepScale = 40000.0;
constexpr double kSecondsPerMinute = 60.0;
constexpr std::int32_t kJogModeMpg = 2;

// The low byte of the host's axis number; anything above the spindle is
// sent as the spindle.
std::uint8_t MpgAxis(std::int32_t hostAxis) {
  return std::min(static_cast<std::uint8_t>(hostAxis & 0xFF), kHighestMpgAxis);
}

std::uint16_t Millivolts(std::int32_t value) { return static_cast<std::uint16_t>(std::clamp(value, 0, 0xFFFF)); }

}  // namespace

MpgConfig BuildMpgConfig() {
  const config::UploadedConfig& uploaded = config::Uploaded();
  MpgConfig config;
  config.Axis = {MpgAxis(PlannerBlock::SelectedAxis.Get()), MpgAxis(PlannerBlock::Mpg2Axis.Get()),
                 MpgAxis(PlannerBlock::Mpg3Axis.Get())};
  const double increment = PlannerBlock::JogIncrement.Get();
  for (int i = 0; i < kMpgs; ++i) {
    config.Step[i] =
        TruncateSaturating<std::int32_t>(increment / UsableCountsPerUnit(uploaded.MpgCountsPerUnit[i]) * kStepScale);
  }
  if (ui::TheConfigDialog().general.MPGfeedlimit != 0) {
    config.FeedLimit = TruncateSaturating<std::int32_t>(PlannerBlock::MpgFeedRate.Get() / kSecondsPerMinute);
  }
  const bool mpgJog =
      PlannerBlock::JogMode.Get() == kJogModeMpg && uploaded.HwMpgActive && plugin::Updates().ShuttleMode == 0;
  config.Mode = mpgJog ? 1 : 0;
  return config;
}

JoystickConfig BuildJoystickConfig() {
  const settings::JoystickSettings& joystick = settings::Process().joystick;
  JoystickConfig config;
  for (int j = 0; j < kJoystickAxes; ++j) {
    const settings::JoystickAxis& axis = joystick.axes[j];
    if (joystick.JoyEna != 0 && axis.Ena != 0) {
      config.EnabledAxes = static_cast<std::uint8_t>(config.EnabledAxes | (1u << j));
    }
    config.AnalogInput[j] = static_cast<std::uint8_t>(axis.Analog);
    config.Neutral[j] = Millivolts(axis.Neutral);
    config.DeadZone[j] = Millivolts(axis.Dead);
    config.FullWidth[j] = Millivolts(axis.Width);
    const double speed =
        axis.Speed * PlannerBlock::AxisMaxVelocity.Get(j) * PlannerBlock::AxisStepsPerUnit.Get(j) * 0.01;
    config.Speed[j] = TruncateSaturating<std::int32_t>(axis.Reverse != 0 ? -speed : speed);
  }
  return config;
}

// The configuration kept is the one built, so a step too small to count is
// reported once per change, and the controller gets the smallest step.
void SendMpgConfig() {
  const MpgConfig built = BuildMpgConfig();
  if (!link::Online() || !Special().LastMpgConfig.Take(EncodeMpgConfig(built))) return;
  MpgConfig sent = built;
  bool tooSmall = false;
  for (std::int32_t& step : sent.Step) {
    if (step != 0) continue;
    step = 1;
    tooSmall = true;
  }
  if (tooSmall) plugin::ShowStatus("MPG step too small, using min.");
  link::SendCommand(link::CMD_SET_MPG, EncodeMpgConfig(sent));
}

void SendJoystickConfig() {
  SpecialInputs& special = Special();
  if (!special.JoystickPending || !link::Online()) return;
  special.JoystickPending = false;
  link::SendCommand(link::CMD_SET_JOYSTICK, EncodeJoystickConfig(BuildJoystickConfig()));
}

}  // namespace veltra::cycle

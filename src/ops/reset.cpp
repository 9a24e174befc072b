#include "ops/reset.h"

#include <string_view>

#include "config/config_record.h"
#include "cycle/change_detected.h"
#include "cycle/cycle.h"
#include "cycle/motion.h"
#include "cycle/special_inputs.h"
#include "cycle/thc.h"
#include "link/command_table.h"
#include "link/commands.h"
#include "link/controller_socket.h"
#include "ops/events.h"
#include "platform/clock.h"
#include "platform/message_box.h"
#include "plugin/host_blocks.h"
#include "plugin/lifecycle.h"
#include "ui/config_dialog.h"

namespace veltra::ops {
namespace {

constexpr std::int32_t kThcTypePid = 2;
// Offline with the channels closed: an update declined, or the configuration
// that did not reach the controller.
constexpr std::string_view kNotConnectedText = "Controller NOT connected.";

// The version must match exactly: a newer firmware is not accepted either.
bool FirmwareAccepted() {
  const link::LinkState& link = link::Link();
  return link.BootloaderActive == 0 && link.FirmwareVersion == kRequiredFirmware;
}

// The link stays down and the host in e-stop until the next Reset.
bool StayOffline(std::string_view status) {
  link::Disconnect();
  EngineBlock::EStop.Set(1);
  plugin::ShowStatus(status);
  return false;
}

// The controller is stopped for the update, and what it still sent is
// taken. The firmware update dialog is not part of the plugin yet: until it
// is, no update succeeds.
bool UpdateFirmware() {
  if (link::Link().BootloaderActive == 0) {
    const std::byte shutDown[] = {std::byte{link::stop_mode::kShutDown}};
    link::SendCommand(link::CMD_STOP, shutDown);
    cycle::Motion().MotionSequence = 0;
    cycle::TakeWaitingFrames();
  }
  return false;
}

}  // namespace

void Reset() {
  PlannerBlock::MotionFlags.Set(0);
  PlannerBlock::MotionFlagsHigh.Set(0);
  EngineBlock::Homing.Set(0);
  EndMachineOperations();
  cycle::Cycle().RigidTapSeen = false;
  EngineBlock::LimitFaultLatch.Set(0);
  EngineBlock::EStopCause.Set(0);
  // While the link is up, a Reset pressed to enter e-stop only clears state.
  if (!link::Online() || EngineBlock::EStop.Get() == 0) RunResetSequence();
  cycle::Special().EncoderRebase = true;
  cycle::Motion().MotionSyncPending = true;
  cycle::RearmChangeDetection();
}

bool RunResetSequence() {
  config::BuildConfigRecord();
  config::ConfigRecord& record = config::TheConfigRecord();
  link::Link().ControllerOnline = false;
  link::Disconnect();
  if (EngineBlock::LimitOverrideSeen.Get() != 0) {
    record.Set(config::ConfigField::ModeFlags,
               static_cast<std::uint8_t>(record.Get(config::ConfigField::ModeFlags) | config::ModeFlag::LimitOverride));
  }

  if (!link::Connect(false)) {
    platform::ShowMessageBox("Motion controller not found!\nPlease make sure that device is connected.");
    plugin::ShowStatus("Error opening hardware!");
    EngineBlock::EStop.Set(1);
    return false;
  }
  if (!FirmwareAccepted()) {
    const platform::MessageBoxAnswer answer = platform::ShowMessageBox(
        "VELTRA firmware must be updated to work properly with this plugin version.\n\nDo you want to update "
        "firmware now?",
        platform::MessageBoxButtons::YesNo);
    if (answer != platform::MessageBoxAnswer::Yes) return StayOffline(kNotConnectedText);
    if (!UpdateFirmware()) return StayOffline("Firmware NOT updated.");
  }

  // A configuration that did not go out leaves the controller unconfigured:
  // the link is down already, and the host is told so rather than
  // "connected".
  if (!link::SendCommand(link::CMD_CONFIGURE, record.Bytes())) return StayOffline(kNotConnectedText);
  cycle::Cycle().LastStatusTick = platform::TickCount();
  if (ui::TheConfigDialog().thcOptions.THCtype == kThcTypePid) cycle::Thc().PidConstantsPending = true;
  cycle::Special().JoystickPending = true;
  link::Link().ControllerOnline = true;
  plugin::ShowStatus("Ethernet controller connected.");
  return true;
}

}  // namespace veltra::ops

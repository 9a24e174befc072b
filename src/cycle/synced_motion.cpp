#include "cycle/synced_motion.h"

#include "cycle/cycle.h"
#include "cycle/motion.h"
#include "cycle/motion_commands.h"
#include "link/command_table.h"
#include "link/commands.h"
#include "plugin/host_blocks.h"
#include "plugin/host_callbacks.h"
#include "plugin/numeric.h"
#include "ui/config_dialog.h"

namespace veltra::cycle {
namespace {

// The tap, in host units.
constexpr int kUserVariableTapDepth = 1500;
constexpr int kUserVariableTapPitch = 1501;
constexpr int kUserVariableTapSpeedIn = 1502;
constexpr int kUserVariableTapSpeedOut = 1503;

constexpr std::int32_t kDroSpindleSpeed = 817;
constexpr std::int32_t kDroThreadZStart = 818;
// The host's spindle direction pair: each button toggles its direction.
constexpr std::int32_t kLedSpindleForward = 164;
constexpr std::int32_t kLedSpindleReverse = 165;
constexpr std::int32_t kButtonSpindleForward = 110;
constexpr std::int32_t kButtonSpindleReverse = 173;

constexpr std::int32_t kLowestTapSelector = 2;
constexpr int kAxisX = 0;
constexpr int kAxisZ = 2;

double UserVariable(int n) { return SetupBlock::UserVariable.Get(n); }

void StartSpindle(double speed, bool reverse) {
  host::SetDro(kDroSpindleSpeed, speed);
  const std::int32_t wanted = reverse ? kLedSpindleReverse : kLedSpindleForward;
  const std::int32_t other = reverse ? kLedSpindleForward : kLedSpindleReverse;
  const std::int32_t wantedButton = reverse ? kButtonSpindleReverse : kButtonSpindleForward;
  const std::int32_t otherButton = reverse ? kButtonSpindleForward : kButtonSpindleReverse;
  if (host::GetLed(other)) host::PressButton(otherButton);
  if (!host::GetLed(wanted)) host::PressButton(wantedButton);
}

void StopSpindle() {
  if (host::GetLed(kLedSpindleForward)) {
    host::PressButton(kButtonSpindleForward);
  } else if (host::GetLed(kLedSpindleReverse)) {
    host::PressButton(kButtonSpindleReverse);
  }
}

bool HostDwelling() { return EngineBlock::DwellBusy.Get() != 0; }

bool ControllerTappingOut() { return Cycle().Status.Sequence == kSequenceRigidTap2; }

RigidTapStart RigidTapFromHost() {
  const double zSteps = PlannerBlock::AxisStepsPerUnit.Get(kAxisZ);
  const std::int32_t selector = SetupBlock::TapSelector.Get();
  RigidTapStart start;
  start.Pitch = UserVariable(kUserVariableTapPitch) * zSteps;
  start.Depth = TruncateSaturating<std::int32_t>(UserVariable(kUserVariableTapDepth) * zSteps);
  start.Selector =
      selector >= kLowestTapSelector ? static_cast<std::uint8_t>(selector - kLowestTapSelector) : kLowestTapSelector;
  start.WaitSpindle = ui::TheConfigDialog().syncedModes.WaitSpindle != 0 ? 1 : 0;
  return start;
}

ThreadingStart ThreadingFromHost() {
  const double xSteps = PlannerBlock::AxisStepsPerUnit.Get(kAxisX);
  const double zSteps = PlannerBlock::AxisStepsPerUnit.Get(kAxisZ);
  ThreadingStart start;
  start.ZStart = host::GetDro(kDroThreadZStart) * zSteps;
  start.XEnd = (SetupBlock::AxisWorkOffset.Get(kAxisX) + PlannerBlock::ThreadEnd.Get(kAxisX)) * xSteps;
  start.ZEnd = (SetupBlock::AxisWorkOffset.Get(kAxisZ) + PlannerBlock::ThreadEnd.Get(kAxisZ)) * zSteps;
  start.Mode =
      ui::TheConfigDialog().syncedModes.ThrBlend != 0 ? threading_payload::kModeBlended : threading_payload::kModePlain;
  start.Parameter = PlannerBlock::ThreadParameter.Get();
  return start;
}

}  // namespace

// The spindle turns into the hole in the pitch's direction, the controller
// taps, and at the bottom (its second tapping phase) the spindle is stopped
// and turned the other way at the speed out.
void RunRigidTapStep() {
  MotionState& motion = Motion();
  switch (motion.SyncedMotionState) {
    case tap_state::kAnnounced:
      motion.TapReverse = UserVariable(kUserVariableTapPitch) < 0.0;
      motion.TapSpeedOut = UserVariable(kUserVariableTapSpeedOut);
      StartSpindle(UserVariable(kUserVariableTapSpeedIn), motion.TapReverse);
      motion.SyncedMotionState = tap_state::kSpindleStartingIn;
      break;
    case tap_state::kSpindleStartingIn:
      if (HostDwelling() || !motion.SpindleRunning) break;
      motion.SyncedMotionState = tap_state::kStart;
      [[fallthrough]];
    case tap_state::kStart:
      link::SendCommand(link::CMD_START_RIGID_TAP, EncodeRigidTapStart(RigidTapFromHost()));
      motion.SyncedMotionState = tap_state::kTappingIn;
      break;
    case tap_state::kTappingIn:
      if (!ControllerTappingOut()) break;
      StopSpindle();
      motion.SyncedMotionState = tap_state::kSpindleStopping;
      break;
    case tap_state::kSpindleStopping:
      if (HostDwelling() || motion.SpindleRunning) break;
      motion.SyncedMotionState = tap_state::kReverse;
      [[fallthrough]];
    case tap_state::kReverse:
      StartSpindle(motion.TapSpeedOut, !motion.TapReverse);
      motion.SyncedMotionState = tap_state::kTappingOut;
      break;
    case tap_state::kTappingOut:
      if (ControllerTappingOut()) break;
      StopSpindle();
      motion.SyncedMotionState = tap_state::kNone;
      break;
    default:
      break;
  }
}

void StartThreadingWhenAllowed() {
  if (EngineBlock::ThreadingRequest.Get() == 0) return;
  if ((Cycle().Status.Flags & status_flag::kThreadingStartAllowed) == 0) return;
  EngineBlock::ThreadingRequest.Set(0);
  const ThreadingPayload payload = EncodeThreadingStart(ThreadingFromHost());
  EngineBlock::ThreadingActive.Set(1);
  link::SendCommand(link::CMD_START_THREADING, payload);
}

}  // namespace veltra::cycle

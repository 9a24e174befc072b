#include "ops/events.h"

#include "config/config_record.h"
#include "cycle/cycle.h"
#include "cycle/motion.h"
#include "link/command_table.h"
#include "link/commands.h"
#include "link/controller_socket.h"
#include "link/wire.h"
#include "ops/home.h"
#include "ops/probe.h"
#include "platform/message_box.h"
#include "plugin/host_blocks.h"
#include "plugin/host_callbacks.h"
#include "plugin/lifecycle.h"
#include "plugin/nominal_voltage.h"
#include "plugin/numeric.h"
#include "plugin/plugin_state.h"
#include "settings/process_settings.h"
#include "ui/config_dialog.h"

namespace veltra::ops {
namespace {

constexpr std::int32_t kButtonStop = 156;
constexpr std::int32_t kLedRunning = 804;
constexpr std::int32_t kLedFeedhold = 805;
constexpr int kUserVariablePwm1 = 1600;  // the extended PWM duties
constexpr int kUserVariablePwm2 = 1601;
constexpr int kSpindleAxis = 6;
constexpr std::int32_t kRunStateRunning = 1;
constexpr double kPwmFullScale = 65536.0;
constexpr double kPwmBipolarCentre = 32768.0;
constexpr double kDwellTicksPerMs = 0.04;  // one tick per 25 ms

std::uint8_t SpindleMotorMode() { return config::TheConfigRecord().Get(config::ConfigField::SpindleMotorMode); }

void SendSpindle(const SpindlePayload& payload) { link::SendCommand(link::CMD_SPINDLE, payload); }

void Stop() {
  if (link::Online()) link::SendCommand(link::CMD_STOP);
  EndMachineOperations();
  EngineBlock::DwellBusy.Set(0);
  host::PressButton(kButtonStop);
  cycle::Motion().MotionSyncPending = true;
}

void StartSpindle() {
  if (EngineBlock::EStop.Get() != 0) {
    plugin::ShowStatus("Cannot start Spindle in Estop!");
    return;
  }
  cycle::MotionState& motion = cycle::Motion();
  PlannerBlock::SpindleOn.Set(1);
  motion.SpindleRunning = true;
  // The host waits until the torch reports its arc.
  if (EngineBlock::PlasmaMode.Get() != 0 && ui::TheConfigDialog().thcOptions.THCDwell != 0) {
    EngineBlock::DwellBusy.Set(1);
    motion.ArcWait = true;
  }
  if (SpindleMotorMode() == config::SpindleMotor::None) {
    SpindlePayload payload{};
    wire::Put<std::uint8_t>(payload, spindle_payload::kStart, 1);
    SendSpindle(payload);
    return;
  }
  const SpindlePayload payload = SpindleStartPayload();
  if (link::Online()) SendSpindle(payload);
}

void StopSpindle() {
  cycle::MotionState& motion = cycle::Motion();
  if (motion.ArcWait) {
    motion.ArcWait = false;
    if (motion.DwellTicks == 0) EngineBlock::DwellBusy.Set(0);
  }
  SpindlePayload payload{};
  if (SpindleMotorMode() != config::SpindleMotor::None) {
    wire::Put(payload, spindle_payload::kPwm, config::TheConfigRecord().Get(config::ConfigField::SpindlePwm));
    wire::Put(payload, spindle_payload::kSpeed, TruncateSaturating<std::int32_t>(PlannerBlock::SpindleSpeed.Get()));
  }
  PlannerBlock::SpindleOn.Set(0);
  motion.SpindleRunning = false;
  if (link::Online()) SendSpindle(payload);
}

// A running spindle, or a PWM spindle that follows the laser, takes the new
// speed at once.
void ChangeSpindleSpeed() {
  SpindleState& spindle = Spindle();
  spindle.SpindleSpeedCopy = PlannerBlock::SpindleSpeed.Get();
  const double ratio = PlannerBlock::SpindleRatio.Get();
  spindle.SpindleRatioCopy = ratio > 1.0 ? 1.0 : ratio;
  const bool running = PlannerBlock::SpindleOn.Get() != 0 && cycle::Motion().SpindleRunning;
  const bool laserSynced = config::TheConfigRecord().Get(config::ConfigField::LaserSyncOutput) != 0 &&
                           SpindleMotorMode() == config::SpindleMotor::Pwm;
  // In plasma mode the S word may carry the nominal torch voltage.
  if (EngineBlock::PlasmaMode.Get() != 0 && ui::TheConfigDialog().thcOptions.THCSWord != 0) {
    plugin::SetThcNominalVoltage(spindle.SpindleSpeedCopy);
  }
  if (running || laserSynced) StartSpindle();
}

void WarnAboutSpindleTuning() {
  if (!plugin::State().PostInitDone || EngineBlock::AxisEnabled.Get(kSpindleAxis) == 0 ||
      PlannerBlock::SpindleMotorEnabled.Get() == 0 || PlannerBlock::SpindlePwmControl.Get() != 0) {
    return;
  }
  platform::ShowMessageBox("Warning: Mach3 needs to be restarted if spindle axis motor tunings are changed.");
}

void Feedhold() {
  if (cycle::Motion().SyncedMotionState != 0) {
    plugin::ShowStatus("Feedhold not allowed during synced motion!");
  } else if (EngineBlock::RunState.Get() == kRunStateRunning ||
             cycle::Cycle().ControllerMode == cycle::kModeSegment) {
    PlannerBlock::FeedholdRequest.Set(1);
    PlannerBlock::FeedholdActive.Set(1);
    host::SetLed(kLedRunning, false);
    host::SetLed(kLedFeedhold, true);
  } else {
    plugin::ShowStatus("Nothing to feedhold.");
  }
}

void Resume() {
  PlannerBlock::FeedholdRequest.Set(0);
  PlannerBlock::FeedholdActive.Set(0);
  host::SetLed(kLedRunning, true);
  host::SetLed(kLedFeedhold, false);
}

}  // namespace

SpindleState& Spindle() {
  static SpindleState state;
  return state;
}

void HandleNotify(std::int32_t event) {
  switch (event) {
    case host_event::kStop:
      Stop();
      break;
    case host_event::kSpindleStart:
      StartSpindle();
      break;
    case host_event::kSpindleStop:
      StopSpindle();
      break;
    case host_event::kSpindleSpeed:
      ChangeSpindleSpeed();
      break;
    case host_event::kTuningChanged:
      WarnAboutSpindleTuning();
      break;
    case host_event::kForceEStop:
      plugin::ForceEStopForNewConfiguration();
      break;
    case host_event::kFeedhold:
      Feedhold();
      break;
    case host_event::kResume:
      Resume();
      break;
    case host_event::kSyncedMotionAhead:
      cycle::Motion().SyncedMotionState = 1;
      break;
    default:
      plugin::HandleMenuCommand(event);
      break;
  }
}

SpindlePayload SpindleStartPayload() {
  const SpindleState& spindle = Spindle();
  const settings::HostPreferences& tuning = settings::Process().preferences;
  const std::int32_t pulley = PlannerBlock::CurrentPulley.Get();
  // 0 for a pulley outside the host's table as well. Without a maximum the
  // speed cannot be scaled: the spindle then gets no step rate rather than
  // the highest there is.
  const double pulleyMax = PlannerBlock::PulleyMaxSpeed.Get(pulley);
  const std::int32_t speed =
      pulleyMax == 0.0 ? 0
                       : TruncateSaturating<std::int32_t>(tuning.Steps6 * tuning.Vel6 / pulleyMax *
                                                          spindle.SpindleSpeedCopy);
  const bool reverse = PlannerBlock::SpindleDirection.Get() != 0;
  std::int8_t direction = reverse ? -1 : 1;
  if (PlannerBlock::PulleyReversed.Get(pulley) != 0) direction = static_cast<std::int8_t>(-direction);
  const double ratio = spindle.SpindleRatioCopy;
  double pwm = ratio * kPwmFullScale;
  if (config::Uploaded().PwmBipolar) {
    pwm = reverse ? (ratio + 1.0) * kPwmBipolarCentre : kPwmBipolarCentre - ratio * kPwmBipolarCentre;
  }

  SpindlePayload payload{};
  wire::Put<std::uint8_t>(payload, spindle_payload::kStart, 1);
  wire::Put(payload, spindle_payload::kPwm, TruncateSaturating<std::int32_t>(pwm));
  wire::Put(payload, spindle_payload::kSpeed, speed);
  wire::Put(payload, spindle_payload::kDirection, direction);
  return payload;
}

void DoDwell(double time) {
  const double milliseconds = PlannerBlock::DwellInMilliseconds.Get() != 0 ? time : time * 1000.0;
  const std::int32_t ticks = TruncateSaturating<std::int32_t>(milliseconds * kDwellTicksPerMs);
  // Shorter than a tick is one tick. So is no time or a negative one: a
  // count below zero would never run down and hold the host for ever.
  cycle::Motion().DwellTicks = ticks > 0 ? ticks : 1;
  EngineBlock::DwellBusy.Set(1);
}

void EndMachineOperations() {
  CancelHoming();
  StopProbeMove();
  // A threading move still waiting for the controller would otherwise start
  // after the stop.
  EngineBlock::ThreadingRequest.Set(0);
  EngineBlock::ThreadingActive.Set(0);
  PlannerBlock::VerifyActive.Set(0);
  cycle::MotionState& motion = cycle::Motion();
  motion.SyncedMotionState = 0;
  motion.ArcWait = false;
  motion.MotionSequence = 0;
  if (ui::TheConfigDialog().specialFunctions.PWMEStop != 0) {
    SetupBlock::UserVariable.Set(kUserVariablePwm1, 0.0);
    SetupBlock::UserVariable.Set(kUserVariablePwm2, 0.0);
  }
}

}  // namespace veltra::ops

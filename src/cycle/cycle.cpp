#include "cycle/cycle.h"

#include <cstdio>

#include "cycle/motion.h"
#include "cycle/mpg.h"
#include "cycle/special_inputs.h"
#include "cycle/status_rules.h"
#include "cycle/synced_motion.h"
#include "cycle/thc.h"
#include "link/command_table.h"
#include "link/commands.h"
#include "link/controller_socket.h"
#include "link/wire.h"
#include "ops/home.h"
#include "ops/probe.h"
#include "platform/clock.h"
#include "platform/messages.h"
#include "plugin/host_blocks.h"
#include "plugin/host_callbacks.h"
#include "plugin/lifecycle.h"
#include "plugin/plugin_state.h"
#include "plugin/update.h"
#include "settings/process_settings.h"
#include "ui/config_dialog.h"
#include "ui/window_handles.h"

namespace veltra::cycle {
namespace {

constexpr std::int32_t kLedFeedhold = 805;
constexpr std::int32_t kLedControllerFlag = 1500;
constexpr int kUserVariableTapFinished = 1510;
constexpr std::uint8_t kControllerPort = 1;
constexpr int kHighestOutputPin = 32;

// Host stop causes of a controller emergency stop.
constexpr std::int32_t kCauseLimitSwitch = 4;
constexpr std::int32_t kCauseControllerStop = 6;
constexpr std::int32_t kCauseSoftLimit = 7;

constexpr std::byte kAcceptRequest{1};

constexpr int kFramesTakenBeforeShutdown = 5;
constexpr std::uint32_t kFramePauseMs = 100;

// Clears CycleBusy on every way out of a cycle.
class BusyGuard {
 public:
  explicit BusyGuard(bool& busy) : busy_(busy) { busy_ = true; }
  ~BusyGuard() { busy_ = false; }
  BusyGuard(const BusyGuard&) = delete;
  BusyGuard& operator=(const BusyGuard&) = delete;

 private:
  bool& busy_;
};

// --- The controller's request frame ---

// The controller asks to move on its own (a jog of its own inputs); it may
// only while nothing else feeds it motion.
void AnswerRequest() {
  if (ops::ThePlanner().PlannerActive || EngineBlock::TrajectoryTail.Get() != EngineBlock::TrajectoryHead.Get()) {
    return;
  }
  PlannerBlock::MotionIdle.Set(0);
  PlannerBlock::MotionFlags.Set(PlannerBlock::MotionFlags.Get() | kMotionFlagJogging);
  EngineBlock::AxisJogging.Set(0, 1);
  Cycle().JogHoldFrames = kJogHoldFrames;
  const std::byte accept[] = {kAcceptRequest};
  link::SendCommand(link::CMD_ACCEPT_REQUEST, accept);
}

// --- The steps of a status frame ---

void TakeStatus(const StatusRecord& record) {
  CycleState& cycle = Cycle();
  cycle.Status = record;
  cycle.ControllerBuffered = record.BufferedRecords;
  cycle.ControllerReceived = record.ReceivedRecords;
  cycle.ControllerMode = record.Mode;
  cycle.LastStatusTick = platform::TickCount();
}

// The window reads its own copy, so the next frame can be decoded meanwhile.
void FeedStatusWindow() {
  const platform::Window window = ui::Windows().statusWindow;
  if (!ui::WindowExists(window)) return;
  CycleState& cycle = Cycle();
  cycle.StatusCopy = cycle.Status;
  const bool internalThc = ui::TheConfigDialog().thcOptions.THCtype != 0;
  platform::PostToWindow(window, ui::kMsgNewData, reinterpret_cast<std::uintptr_t>(&cycle.StatusCopy),
                         internalThc ? 1 : 0);
}

void FeedThcOptionsPage(const StatusRecord& record) {
  const platform::Window window = ui::Windows().thcOptionsPage;
  if (!ui::WindowExists(window)) return;
  const std::int32_t input = settings::Process().LiveAnalogIndex;
  if (input < 0 || input >= kStatusAnalogCount) return;
  platform::PostToWindow(window, ui::kMsgNewData, record.AnalogInputs[input], 0);
}

void KeepAnalogInputs(const StatusRecord& record) {
  for (int i = 0; i < kStatusAnalogCount; ++i) Cycle().AnalogRaw[i] = record.AnalogInputs[i];
}

void MirrorControllerLed(const StatusRecord& record) {
  host::SetLed(kLedControllerFlag, (record.Flags & status_flag::kHostLed1500) != 0);
}

// The cause is the first one: a later e-stop frame leaves it.
void MirrorControllerEStop(const StatusRecord& record) {
  if (EngineBlock::EStop.Get() == 0) {
    std::int32_t cause = kCauseControllerStop;
    if (record.Fault == kFaultLimitSwitch) {
      cause = kCauseLimitSwitch;
    } else if (record.Fault == kFaultSoftLimit) {
      cause = kCauseSoftLimit;
      EngineBlock::LimitFaultLatch.Set(1);
    }
    EngineBlock::EStopCause.Set(cause);
  }
  EngineBlock::EStop.Set(1);
}

void NoteLimitOverride() {
  if (EngineBlock::InputSignalActive.Get(kInputLimitOverride) != 0) EngineBlock::LimitOverrideSeen.Set(1);
}

// After a contact the controller gets a few idle frames before the probe is
// ended.
void CountDownProbeHit(const StatusRecord& record) {
  CycleState& cycle = Cycle();
  if (!cycle.ProbeHitPending || record.Mode != kModeIdle) return;
  if (cycle.ProbeHitDelay > 0) {
    --cycle.ProbeHitDelay;
    return;
  }
  cycle.ProbeHitPending = false;
  link::SendCommand(link::CMD_END_PROBE);
  Motion().MotionSyncPending = true;
  cycle.ProbeEndFlag = true;
}

void EndProbeWithoutContact() {
  Motion().MotionSyncPending = true;
  ops::StopProbeMove();
  link::SendCommand(link::CMD_END_PROBE);
  plugin::ShowStatus("Probe move finished with NO hit!");
  host::PressButton(ops::kButtonProbeFailed);
}

// Every contact frame latches the positions again and restarts the delay.
void LatchProbeContact(const StatusRecord& record) {
  CycleState& cycle = Cycle();
  cycle.ProbeHitPending = true;
  ops::StopProbeMove();
  Motion().MotionSequence = 0;
  std::array<double, kStatusAxisCount> work{};
  for (int a = 0; a < kStatusAxisCount; ++a) {
    EngineBlock::AxisProbePosition.Set(a, record.StepPositions[a]);
    // An axis without steps per unit has no position in units: its contact
    // variable keeps what it held, and the status line shows 0.
    const double stepsPerUnit = PlannerBlock::AxisStepsPerUnit.Get(a);
    if (stepsPerUnit == 0.0) continue;
    work[a] = record.StepPositions[a] / stepsPerUnit - SetupBlock::AxisWorkOffset.Get(a);
    SetupBlock::UserVariable.Set(ops::kUserVariableProbeContact + a, work[a]);
  }
  cycle.ProbeHitFlag = true;
  char text[4 * 320 + 32];  // room for four of the widest "%f"
  std::snprintf(text, sizeof text, "Probe hit (%f,%f,%f,%f)", work[0], work[1], work[2], work[3]);
  plugin::ShowStatus(text);
  cycle.ProbeHitDelay = kProbeHitDelayFrames;
}

// Every frame of the last homing phase completes one homing. A frame that
// names no axis completes nothing; the count never goes below zero, so a
// phase reported in several frames cannot leave the host homing for ever.
void CompleteHoming(const StatusRecord& record) {
  const int axis = record.HomedAxis;
  if (axis >= kStatusAxisCount) return;
  ops::HomingState& homing = ops::Homing();
  EngineBlock::AxisReferenced.Set(axis, 1);
  if (homing.HomesPending > 0) --homing.HomesPending;
  EngineBlock::Homing.Set(homing.HomesPending != 0 ? 1 : 0);
  homing.HomedMask = static_cast<std::uint16_t>(homing.HomedMask | (1u << axis));
  Motion().MotionSyncPending = true;
  EngineBlock::AxisHoming.Set(axis, 0);
  if (EngineBlock::Homing.Get() == 0) ops::CancelHoming();
  if (homing.HomesPending == 0) {
    if (PlannerBlock::VerifyActive.Get() != 0) {
      for (int a = 0; a < kStatusAxisCount; ++a) EngineBlock::VerifyPosition.Set(a, record.StepPositions[a]);
      plugin::ShowStatus("Verify function finished.");
    }
    PlannerBlock::VerifyActive.Set(0);
  }
  PlannerBlock::ReferencedMask.Set(PlannerBlock::ReferencedMask.Get() | (1u << axis));
}

void CompleteOperation(const StatusRecord& record) {
  switch (record.Sequence) {
    case kSequenceProbeMove:
      if (record.Mode == kModeIdle) EndProbeWithoutContact();
      break;
    case kSequenceProbeContact:
      LatchProbeContact(record);
      break;
    case kSequenceHomeLast:
      CompleteHoming(record);
      break;
    default:
      break;
  }
}

// A position the host changed since the last frame reaches the controller
// before the frame's positions overwrite it. Every slot carries the host's
// value; the mask says which ones count.
void SendHostPositionChanges() {
  const CycleState& cycle = Cycle();
  if (!cycle.PositionsValid) return;
  std::array<std::byte, set_position_payload::kSize> payload{};
  std::uint8_t mask = 0;
  for (int a = 0; a < kStatusAxisCount; ++a) {
    const std::int32_t host = EngineBlock::AxisPosition.Get(a);
    wire::Put(payload, set_position_payload::kPositions + 4 * a, host);
    if (host != cycle.LastPublishedSteps[a]) mask = static_cast<std::uint8_t>(mask | (1u << a));
  }
  if (mask == 0) return;
  wire::Put(payload, set_position_payload::kAxisMask, mask);
  link::SendCommand(link::CMD_SET_POSITION, payload);
}

void PublishPositions(const StatusRecord& record) {
  PublishStepPositions(record);
  CycleState& cycle = Cycle();
  cycle.LastPublishedSteps = record.StepPositions;
  cycle.PositionsValid = true;
}

void ReleaseJogHold() {
  if (Cycle().JogHoldFrames > 0) --Cycle().JogHoldFrames;
}

void NoteMpgMotion(const StatusRecord& record) {
  if (record.Sequence == kSequenceMpg) Motion().MotionSyncPending = true;
}

void ResynchroniseWhenIdle(const StatusRecord& record) {
  const bool due = Motion().MotionSyncPending || (record.Flags & status_flag::kResynchronise) != 0;
  if (due && record.Mode == kModeIdle && PlannerBlock::VerifyActive.Get() == 0) Resynchronise();
}

void MarkMpgAxisJogging(const StatusRecord& record) {
  if (record.Sequence != kSequenceMpg) return;
  const std::int32_t axis = PlannerBlock::SelectedAxis.Get();
  if (axis >= 0 && axis < kStatusAxisCount) EngineBlock::AxisJogging.Set(axis, 1);
}

// The host may go on when the controller is idle with nothing pending.
void MirrorMotionIdle(const StatusRecord& record) {
  const CycleState& cycle = Cycle();
  const bool idle = cycle.JogHoldFrames == 0 && cycle.ProbeHitDelay == 0 && EngineBlock::Jogging.Get() == 0 &&
                    record.Mode == kModeIdle && record.Sequence == kSequenceNone;
  PlannerBlock::MotionIdle.Set(idle ? 1 : 0);
}

// The host's jogging state stays raised while anything jogs: the host, the
// controller, an MPG or an accepted request.
void MirrorJogState(const StatusRecord& record) {
  const bool quiet = Cycle().JogHoldFrames == 0 && EngineBlock::Jogging.Get() == 0 && record.Mode != kModeJog &&
                     record.Sequence != kSequenceMpg;
  const std::uint32_t flags = PlannerBlock::MotionFlags.Get();
  PlannerBlock::MotionFlags.Set(quiet ? flags & ~kMotionFlagJogging : flags | kMotionFlagJogging);
  if (!quiet) return;
  for (int a = 0; a < kStatusAxisCount; ++a) EngineBlock::AxisJogging.Set(a, 0);
}

// Asked again on every frame until the controller reports it has stopped.
void StopControllerInHostEStop(const StatusRecord& record) {
  if (EngineBlock::EStop.Get() == 0 || record.Mode == kModeEStop || record.Mode == kModeSafe) return;
  if (link::Online()) {
    const std::byte mode[] = {std::byte{link::stop_mode::kEmergency}};
    link::SendCommand(link::CMD_STOP, mode);
  }
  Motion().MotionSequence = 0;
}

void NoteRigidTapEnd(const StatusRecord& record) {
  CycleState& cycle = Cycle();
  const bool tapping = record.Sequence == kSequenceRigidTap1 || record.Sequence == kSequenceRigidTap2;
  if (cycle.RigidTapSeen && !tapping) SetupBlock::UserVariable.Set(kUserVariableTapFinished, 1.0);
  cycle.RigidTapSeen = tapping;
}

// The steps of one status frame, in order.
// False when the controller is in emergency stop: the drain ends with this
// frame.
bool RunFrameSteps(const StatusRecord& record) {
  TakeStatus(record);
  MirrorInputPins(record);
  MirrorExecutingLine(record);
  FeedStatusWindow();
  FeedThcOptionsPage(record);
  KeepAnalogInputs(record);
  RunVoltageStep(record);
  MirrorThcSignals(record);
  MirrorControllerLed(record);
  if (record.Mode == kModeEStop) {
    MirrorControllerEStop(record);
    return false;
  }
  NoteLimitOverride();
  CountDownProbeHit(record);
  CompleteOperation(record);
  MirrorSpindleSpeed(record);
  SendHostPositionChanges();
  PublishPositions(record);
  MeasureAxisVelocities(record);
  ReleaseJogHold();
  NoteMpgMotion(record);
  ResynchroniseWhenIdle(record);
  MarkMpgAxisJogging(record);
  MirrorMotionIdle(record);
  MirrorJogState(record);
  StopControllerInHostEStop(record);
  RunAnalogFunctions(record);
  RunEncoderFunctions(record);
  NoteRigidTapEnd(record);
  return true;
}

// --- The steps of a tick ---

enum class DrainEnd { AllTaken, ControllerEStop };

// Every whole frame that has arrived, in arrival order; a partial frame
// waits for the next tick.
DrainEnd DrainFrames() {
  std::array<std::byte, kStatusRecordSize> frame{};
  while (link::Online() && link::ReadReply(frame)) {
    switch (std::to_integer<std::uint8_t>(frame[status_offset::kTag])) {
      case kRequestTag:
        AnswerRequest();
        break;
      case kStatusTag:
        if (!RunFrameSteps(DecodeStatusRecord(frame))) return DrainEnd::ControllerEStop;
        break;
      default:
        break;  // no frame of ours
    }
  }
  return DrainEnd::AllTaken;
}

// False when the link was found dead; the tick ends there. While offline the
// window restarts, so a later connection gets its full time.
bool WatchLink() {
  CycleState& cycle = Cycle();
  const std::uint32_t now = platform::TickCount();
  if (!link::Online()) {
    cycle.LastStatusTick = now;
    return true;
  }
  if (now - cycle.LastStatusTick <= kLinkTimeoutMs) return true;
  link::Disconnect();
  link::Link().ControllerOnline = false;
  plugin::ShowStatus("ERROR! Connection closed!");
  EngineBlock::EStop.Set(1);
  if (ui::TheConfigDialog().general.DerefOnDisc != 0) {
    ops::Homing().HomedMask = 0;
    for (int a = 0; a < kStatusAxisCount; ++a) EngineBlock::AxisReferenced.Set(a, 0);
  }
  return false;
}

void KeepHostIdleWhileThreading() {
  if (EngineBlock::ThreadingActive.Get() != 0) PlannerBlock::MotionIdle.Set(1);
}

// The controller's torch height correction, shown as none while feedhold is lit.
void MirrorThcOffset() {
  EngineBlock::ThcZOffset.Set(host::GetLed(kLedFeedhold) ? 0 : Cycle().Status.ThcOffset);
}

std::uint16_t ControlFlags() {
  std::uint16_t flags = 0;
  auto set = [&flags](bool on, std::uint16_t bit) {
    if (on) flags = static_cast<std::uint16_t>(flags | bit);
  };
  const bool plasma = EngineBlock::PlasmaMode.Get() != 0;
  set(EngineBlock::SoftLimitsOn.Get() != 0, control_flag::kSoftLimits);
  set(plugin::Updates().ShuttleMode != 0, control_flag::kShuttleMode);
  set(EngineBlock::ControlFlag2.Get() != 0, control_flag::kHostFlag2);
  set(plasma, control_flag::kPlasmaMode);
  set(plasma && EngineBlock::CompareEnable.Get() != 0 &&
          EngineBlock::CompareValue.Get() < EngineBlock::CompareLimit.Get(),
      control_flag::kCompareBelowLimit);
  set(PlannerBlock::HardwareFeedhold.Get() != 0 && PlannerBlock::FeedholdRequest.Get() != 0,
      control_flag::kHardwareFeedhold);
  return flags;
}

void SendOutputs() {
  const OutputsPayload payload = EncodeOutputsPayload(OutputPinMask(), ControlFlags());
  if (link::Online()) SendWhenChanged(link::CMD_SET_OUTPUTS, Cycle().LastOutputs, payload);
}

void SendKeepAlive() {
  if (!link::Online()) return;
  CycleState& cycle = Cycle();
  if (++cycle.KeepAliveTicks < kKeepAliveEveryTicks) return;
  link::SendCommand(link::CMD_KEEPALIVE);
  cycle.KeepAliveTicks = 0;
}

}  // namespace

CycleState& Cycle() {
  static CycleState state;
  return state;
}

void ArmCycleTimer() {
  plugin::PluginState& plugin = plugin::State();
  if (plugin.TimerRunning) return;
  plugin.cycleTimer = platform::StartThreadTimer(kCyclePeriodMs, &TimerTick);
  // A timer the system refused is asked for again by the next update.
  plugin.TimerRunning = plugin.cycleTimer != 0;
}

void TimerTick(platform::TimerId timer) {
  plugin::PluginState& plugin = plugin::State();
  CycleState& cycle = Cycle();
  ++cycle.TicksWithoutUpdate;
  if (plugin.UpdateSeen) {
    plugin.UpdateSeen = false;
    cycle.TicksWithoutUpdate = 0;
    plugin.TimerRunning = true;
  } else if (cycle.TicksWithoutUpdate > kTicksWithoutUpdateLimit) {
    platform::KillThreadTimer(timer);
    plugin.cycleTimer = 0;
    plugin.TimerRunning = false;
    return;
  }
  RunCycle();
}

void RunCycle() {
  CycleState& cycle = Cycle();
  if (cycle.CycleBusy) return;
  const BusyGuard busy(cycle.CycleBusy);

  // The steps of a tick, in order.
  const DrainEnd drain = DrainFrames();
  // A controller in emergency stop gets neither tapping nor motion this tick.
  if (drain != DrainEnd::ControllerEStop) {
    RunRigidTapStep();
    if (!WatchLink()) return;
    ReleaseArcWait();
    // After a probe contact the controller gets its idle frames first.
    if (EngineBlock::EStop.Get() == 0 && cycle.ProbeHitDelay == 0) StreamMotion();
  }
  StartThreadingWhenAllowed();
  KeepHostIdleWhileThreading();
  MirrorThcOffset();
  SendOutputs();
  SendInputOverrides();
  SendMpgConfig();
  SendPwmDuties();
  SendThcParameters();
  SendJoystickConfig();
  CountConsumables();
  SendPidConstants();
  SendKeepAlive();
}

std::uint32_t OutputPinMask() {
  std::uint32_t mask = 0;
  for (int k = 0; k < kOutputSignalCount; ++k) {
    const int pin = EngineBlock::OutputSignalPin.Get(k);
    if (EngineBlock::OutputSignalEnabled.Get(k) == 0 || EngineBlock::OutputSignalPort.Get(k) != kControllerPort ||
        pin < 1 || pin > kHighestOutputPin) {
      continue;
    }
    bool high = EngineBlock::OutputSignalState.Get(k) != 0;
    if (EngineBlock::OutputSignalActiveLow.Get(k) != 0) high = !high;
    if (high) mask |= 1u << (pin - 1);
  }
  return mask;
}

OutputsPayload EncodeOutputsPayload(std::uint32_t pinMask, std::uint16_t controlFlags) {
  OutputsPayload payload{};
  wire::Put(payload, outputs_payload::kPinMask, pinMask);
  wire::Put(payload, outputs_payload::kControlFlags, controlFlags);
  return payload;
}

void TakeWaitingFrames() {
  platform::Sleep(kFramePauseMs);
  std::array<std::byte, kStatusRecordSize> frame{};
  for (int i = 0; i < kFramesTakenBeforeShutdown; ++i) {
    if (link::ReadReply(frame)) Cycle().Status = DecodeStatusRecord(frame);
    platform::Sleep(kFramePauseMs);
  }
}

}  // namespace veltra::cycle

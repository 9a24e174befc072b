#include "machine.h"

#include <cstring>
#include <span>

#include "cycle/cycle_commands.h"
#include "link/command_table.h"
#include "link/wire.h"
#include "plugin/numeric.h"

namespace veltra::emu {
namespace {

constexpr std::int64_t kTicksPerMicrosecond = 10;

}  // namespace

SimulatedMachine::SimulatedMachine(const cycle::StatusRecord& initial, Clock::time_point now)
    : status_(initial), lastReport_(now), lastReportedSequence_(initial.Sequence), motion_(now) {}

void SimulatedMachine::Advance(Clock::time_point now) {
  if (motionEnabled_ && !motion_.Advance(now, status_)) EnterEStop(cycle::kFaultSoftLimit);
}

cycle::StatusRecord SimulatedMachine::Report(Clock::time_point now) {
  Advance(now);
  const auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(now - lastReport_).count();
  if (elapsed > 0) {
    // The counter wraps, as the controller's does.
    const double ticks = static_cast<double>(elapsed) * kTicksPerMicrosecond * motion_.TimeScale();
    status_.TimeStamp += static_cast<std::uint32_t>(TruncateSaturating<std::int64_t>(ticks));
    lastReport_ = now;
  }
  // A probe contact restarts the count, as the plugin restarts its own.
  if (status_.Sequence == cycle::kSequenceProbeContact && lastReportedSequence_ != cycle::kSequenceProbeContact) {
    RestartReceivedCount();
  }
  lastReportedSequence_ = status_.Sequence;
  panel_.Report(now, status_);
  torch_.Report(now, (controlFlags_ & cycle::control_flag::kPlasmaMode) != 0, ZStepsPerUnit(), status_);
  const cycle::StatusRecord report = status_;
  if (motionEnabled_) motion_.Reported(status_);
  return report;
}

void SimulatedMachine::ReceiveMotion(std::span<const cycle::MotionRecord> records, Clock::time_point now) {
  Advance(now);
  if (motionEnabled_) motion_.Receive(records, status_);
}

void SimulatedMachine::Execute(const ReceivedCommand& command, Clock::time_point now) {
  Advance(now);
  panel_.Execute(command);
  torch_.Execute(command);
  switch (command.code) {
    case link::CMD_CONFIGURE:
      Configure(command);
      break;
    case link::CMD_SET_OUTPUTS:
      SetOutputs(command);
      break;
    case link::CMD_SET_POSITION:
      SetPositions(command);
      break;
    case link::CMD_STOP:
      StopCommanded(command);
      break;
    case link::CMD_END_PROBE:
      EndProbe();
      break;
    case link::CMD_DISCARD_BUFFER:
      status_.BufferedRecords = 0;
      break;
    default:
      // Keep-alives, accepted and host requests only show that the plugin
      // is there.
      break;
  }
  if (motionEnabled_) motion_.Execute(command, status_);
}

double SimulatedMachine::ZStepsPerUnit() const {
  return configuration_ ? configuration_->Get(config::AxisConfig::StepsPerUnit, 2) : 0.0;
}

void SimulatedMachine::EnterEStop(std::uint8_t fault) {
  torch_.Extinguish();
  motion_.Stop(status_);
  status_.Mode = cycle::kModeEStop;
  status_.Sequence = cycle::kSequenceNone;
  status_.Fault = fault;
  status_.BufferedRecords = 0;
}

void SimulatedMachine::SetEStopInput(bool active) {
  eStopInput_ = active;
  if (active) EnterEStop(kFaultEStop);
}

// A new configuration is a fresh start: out of e-stop unless the input
// holds it there.
void SimulatedMachine::Configure(const ReceivedCommand& command) {
  const auto bytes = command.Record<config::kConfigRecordSize>();
  if (!bytes) return;
  configuration_ = config::ConfigRecord::FromBytes(*bytes);
  shutDown_ = false;
  motion_.Stop(status_);
  status_.BufferedRecords = 0;
  RestartReceivedCount();
  StepArray softMin{};
  StepArray softMax{};
  for (int a = 0; a < kAxisCount; ++a) {
    softMin[a] = configuration_->Get(config::AxisConfig::SoftMinSteps, a);
    softMax[a] = configuration_->Get(config::AxisConfig::SoftMaxSteps, a);
  }
  motion_.SetSoftLimits(softMin, softMax);
  if (eStopInput_) return;
  status_.Mode = cycle::kModeIdle;
  status_.Sequence = cycle::kSequenceNone;
  status_.Fault = kFaultNone;
}

void SimulatedMachine::SetOutputs(const ReceivedCommand& command) {
  const auto bytes = command.Record<cycle::outputs_payload::kSize>();
  if (!bytes) return;
  status_.OutputPins = wire::Get<std::uint32_t>(*bytes, cycle::outputs_payload::kPinMask);
  controlFlags_ = wire::Get<std::uint16_t>(*bytes, cycle::outputs_payload::kControlFlags);
  motion_.SetControlFlags(controlFlags_);
}

void SimulatedMachine::SetPositions(const ReceivedCommand& command) {
  const auto bytes = command.Record<cycle::set_position_payload::kSize>();
  if (!bytes) return;
  const auto mask = wire::Get<std::uint8_t>(*bytes, cycle::set_position_payload::kAxisMask);
  for (int a = 0; a < cycle::kStatusAxisCount; ++a) {
    if ((mask >> a) & 1u) {
      status_.StepPositions[a] =
          wire::Get<std::int32_t>(*bytes, cycle::set_position_payload::kPositions + 4 * a);
    }
  }
}

void SimulatedMachine::StopCommanded(const ReceivedCommand& command) {
  motion_.Stop(status_);
  RestartReceivedCount();
  status_.BufferedRecords = 0;
  const std::uint8_t mode = command.payload.empty() ? 0 : command.payload[0];
  if (mode == link::stop_mode::kEmergency) {
    EnterEStop(kFaultEStop);
  } else if (mode == link::stop_mode::kShutDown) {
    shutDown_ = true;
    status_.Mode = cycle::kModeSafe;
    status_.Sequence = cycle::kSequenceNone;
  } else if (status_.Mode != cycle::kModeEStop && status_.Mode != cycle::kModeSafe) {
    status_.Mode = cycle::kModeIdle;
    status_.Sequence = cycle::kSequenceNone;
  }
}

void SimulatedMachine::EndProbe() {
  if (status_.Sequence != cycle::kSequenceProbeMove && status_.Sequence != cycle::kSequenceProbeContact) return;
  status_.Sequence = cycle::kSequenceNone;
  if (status_.Mode != cycle::kModeEStop) status_.Mode = cycle::kModeIdle;
}

}  // namespace veltra::emu

#include "motion.h"

#include <algorithm>
#include <cmath>
#include <span>

#include "cycle/cycle_commands.h"
#include "link/command_table.h"
#include "link/wire.h"
#include "ops/operation_commands.h"
#include "plugin/numeric.h"

namespace veltra::emu {
namespace {

constexpr double kSecondsPerStep = 0.001;

// The payload of a command as a record of its size; none when it is short
// (the frame parser lets only the table's sizes through, a test need not).
bool Halted(const cycle::StatusRecord& status) {
  return status.Mode == cycle::kModeEStop || status.Mode == cycle::kModeSafe;
}

}  // namespace

bool MachineMotion::SetTimeScale(double factor) {
  if (!(factor > 0.0 && factor <= kLargestTimeScale)) return false;
  timeScale_ = factor;
  return true;
}

void MachineMotion::SetSoftLimits(const StepArray& minimum, const StepArray& maximum) {
  softMin_ = minimum;
  softMax_ = maximum;
}

void MachineMotion::SetControlFlags(std::uint16_t flags) {
  softLimitsOn_ = (flags & cycle::control_flag::kSoftLimits) != 0;
  feedhold_ = (flags & cycle::control_flag::kHardwareFeedhold) != 0;
}

bool MachineMotion::Executing() const { return !buffer_.empty() || probe_ == Probe::Moving; }

bool MachineMotion::Jogging() const {
  return std::any_of(jogs_.begin(), jogs_.end(), [](const Jog& jog) { return jog.active; });
}

bool MachineMotion::Starving(double atMs) const { return ranDryAt_ && atMs - *ranDryAt_ <= kStreamGapMs; }

bool MachineMotion::Running() const {
  const bool homingRuns = homing_ ? homing_->sequence != cycle::kSequenceHomeLast : !homesQueued_.empty();
  return Executing() || Jogging() || homingRuns || !phases_.empty();
}

bool MachineMotion::Engaged() const { return Running() || homing_ || probe_ != Probe::Idle; }

bool MachineMotion::Busy() const {
  return Executing() || homing_ || !homesQueued_.empty() || !phases_.empty() || probe_ != Probe::Idle;
}

bool MachineMotion::Advance(Clock::time_point now, cycle::StatusRecord& status) {
  if (now > lastAdvance_) {
    simulatedMs_ += std::chrono::duration<double, std::milli>(now - lastAdvance_).count() * timeScale_;
    lastAdvance_ = now;
  }
  bool withinLimits = true;
  while (withinLimits && Running() && steppedMs_ + 1.0 <= simulatedMs_) {
    steppedMs_ += 1.0;
    withinLimits = Step(status);
  }
  // Time at rest is not made up later.
  if (!Running()) steppedMs_ = simulatedMs_;
  ShowIfEngaged(status);
  return withinLimits;
}

bool MachineMotion::Step(cycle::StatusRecord& status) {
  if (!buffer_.empty()) {
    const int target = feedhold_ ? 0 : kFeedholdRampMs;
    speed_ = speed_ > target ? speed_ - 1 : std::min(speed_ + 1, target);
    progress_ += speed_;
    if (progress_ >= kFeedholdRampMs) {
      progress_ -= kFeedholdRampMs;
      if (!ExecuteNextRecord(status)) return false;
    }
  } else if (probe_ == Probe::Moving && !Starving(steppedMs_)) {
    probe_ = Probe::NoContact;
  }
  StepJogs(status);
  if (!Executing() && !Jogging()) {
    StepHoming(status);
    if (!homing_) StepPhases();
  }
  return true;
}

bool MachineMotion::ExecuteNextRecord(cycle::StatusRecord& status) {
  const cycle::MotionRecord& record = buffer_.front();
  StepArray target{};
  for (int a = 0; a < kAxisCount; ++a) target[a] = TruncateSaturating<std::int32_t>(std::round(record.Position[a]));
  if (softLimitsOn_ && BeyondSoftLimits(target)) {
    EmptyBuffer();
    return false;
  }
  status.StepPositions = target;
  executingLine_ = record.Line;
  ++recordsExecuted_;
  buffer_.pop_front();
  if (probe_ == Probe::Armed) probe_ = Probe::Moving;
  if (probe_ == Probe::Moving && Touches(target)) {
    // Stopped where it touched; the count restarts with the plugin's.
    probe_ = Probe::ContactPending;
    EmptyBuffer();
    status.ReceivedRecords = 0;
    return true;
  }
  if (buffer_.empty()) ranDryAt_ = steppedMs_;
  return true;
}

void MachineMotion::StepJogs(cycle::StatusRecord& status) {
  constexpr double kVelocityStep = kJogAcceleration * kSecondsPerStep;
  for (int a = 0; a < kAxisCount; ++a) {
    Jog& jog = jogs_[a];
    if (!jog.active) continue;
    jog.velocity = jog.target > jog.velocity ? std::min(jog.target, jog.velocity + kVelocityStep)
                                             : std::max(jog.target, jog.velocity - kVelocityStep);
    jog.partialSteps += jog.velocity * kSecondsPerStep;
    const std::int32_t whole = TruncateSaturating<std::int32_t>(jog.partialSteps);
    jog.partialSteps -= whole;
    std::int32_t& position = status.StepPositions[a];
    const std::int64_t next = static_cast<std::int64_t>(position) + whole;
    if (softLimitsOn_ && softMax_[a] > softMin_[a] && (next < softMin_[a] || next > softMax_[a])) {
      // A jog stops at the soft limit; it is no fault.
      position = static_cast<std::int32_t>(std::clamp<std::int64_t>(next, softMin_[a], softMax_[a]));
      jog = Jog{};
      continue;
    }
    position = WrappingSum(position, whole);
    if (jog.velocity == 0.0 && jog.target == 0.0) jog = Jog{};
  }
}

void MachineMotion::StepHoming(cycle::StatusRecord& status) {
  if (!homing_) {
    if (homesQueued_.empty() || !phases_.empty() || probe_ != Probe::Idle) return;
    homing_ = Homing{homesQueued_.front()};
    homesQueued_.pop_front();
    return;
  }
  // HOME6 waits until a frame has reported it.
  if (homing_->sequence == cycle::kSequenceHomeLast || --homing_->msLeft > 0) return;
  ++homing_->sequence;
  homing_->msLeft = kHomePhaseMs;
  if (homing_->sequence == cycle::kSequenceHomeLast) status.StepPositions[homing_->axis] = 0;
}

void MachineMotion::StepPhases() {
  if (!phases_.empty() && --phases_.front().msLeft <= 0) phases_.erase(phases_.begin());
}

bool MachineMotion::BeyondSoftLimits(const StepArray& position) const {
  for (int a = 0; a < kAxisCount; ++a) {
    if (softMax_[a] > softMin_[a] && (position[a] < softMin_[a] || position[a] > softMax_[a])) return true;
  }
  return false;
}

bool MachineMotion::Touches(const StepArray& position) const {
  if (!surface_ || surface_->axis < 0 || surface_->axis >= kAxisCount) return false;
  const std::int32_t at = position[surface_->axis];
  return surface_->direction > 0 ? at >= surface_->level : at <= surface_->level;
}

void MachineMotion::EmptyBuffer() {
  buffer_.clear();
  ranDryAt_.reset();
  progress_ = 0;
}

void MachineMotion::Receive(std::span<const cycle::MotionRecord> records, cycle::StatusRecord& status) {
  if (records.empty() || probe_ == Probe::ContactPending || probe_ == Probe::AwaitingEnd) return;
  status.ReceivedRecords = static_cast<std::uint16_t>(status.ReceivedRecords + records.size());
  if (Halted(status) || probe_ == Probe::NoContact) return;
  const bool starving = buffer_.empty() && Starving(simulatedMs_);
  if (!buffer_.empty() || starving) {
    const int level = static_cast<int>(buffer_.size());
    lowestBufferLevel_ = std::min(lowestBufferLevel_.value_or(level), level);
  }
  if (starving) ++underruns_;
  ranDryAt_.reset();
  if (buffer_.empty()) {
    // The first record of a motion takes the next millisecond.
    progress_ = 0;
    speed_ = feedhold_ ? 0 : kFeedholdRampMs;
    steppedMs_ = simulatedMs_;
  }
  const std::size_t room = static_cast<std::size_t>(kBufferRecords) - buffer_.size();
  const std::size_t taken = std::min(room, records.size());
  buffer_.insert(buffer_.end(), records.begin(), records.begin() + static_cast<std::ptrdiff_t>(taken));
  overruns_ += static_cast<int>(records.size() - taken);
  ShowIfEngaged(status);
}

void MachineMotion::Execute(const ReceivedCommand& command, cycle::StatusRecord& status) {
  const bool halted = Halted(status);
  switch (command.code) {
    case link::CMD_JOG_START: {
      const auto payload = command.Record<ops::jog_start_payload::kSize>();
      if (!payload || halted || Busy()) break;
      const ops::JogStart start = ops::DecodeJogStart(*payload);
      if (start.Axis >= kAxisCount || start.Rate <= 0 || start.Direction == 0) break;
      Jog& jog = jogs_[start.Axis];
      jog.active = true;
      jog.target = start.Direction > 0 ? start.Rate : -static_cast<double>(start.Rate);
      break;
    }
    case link::CMD_JOG_STOP: {
      const auto payload = command.Record<ops::jog_stop_payload::kSize>();
      if (!payload) break;
      const auto axis = wire::Get<std::uint8_t>(*payload, ops::jog_stop_payload::kAxis);
      if (axis < kAxisCount) jogs_[axis].target = 0.0;
      break;
    }
    case link::CMD_HOME:
    case link::CMD_HOME_VERIFY: {
      const auto payload = command.Record<ops::home_payload::kSize>();
      if (!payload || halted) break;
      const auto axis = wire::Get<std::int16_t>(*payload, ops::home_payload::kAxis);
      if (axis >= 0 && axis < kAxisCount) homesQueued_.push_back(axis);
      break;
    }
    case link::CMD_PROBE:
      if (!halted) probe_ = Probe::Armed;
      break;
    case link::CMD_END_PROBE:
      probe_ = Probe::Idle;
      break;
    case link::CMD_DISCARD_BUFFER:
      EmptyBuffer();
      break;
    case link::CMD_START_THREADING:
      if (!halted) phases_ = {{cycle::kSequenceThreading, kThreadingMs}};
      break;
    case link::CMD_START_RIGID_TAP:
      if (!halted) phases_ = {{cycle::kSequenceRigidTap1, kTapPhaseMs}, {cycle::kSequenceRigidTap2, kTapPhaseMs}};
      break;
    default:
      return;
  }
  ShowIfEngaged(status);
}

void MachineMotion::Stop(cycle::StatusRecord& status) {
  EmptyBuffer();
  jogs_ = {};
  homing_.reset();
  homesQueued_.clear();
  phases_.clear();
  probe_ = Probe::Idle;
  if (shown_) {
    status.BufferedRecords = 0;
    status.BufferFill = 0;
    status.ExecutingLine = -1;
    status.Flags = static_cast<std::uint16_t>(status.Flags & ~cycle::status_flag::kFeedhold);
  }
  shown_ = false;
}

void MachineMotion::Reported(cycle::StatusRecord& status) {
  if (homing_ && homing_->sequence == cycle::kSequenceHomeLast) homing_.reset();
  if (probe_ == Probe::ContactPending) probe_ = Probe::AwaitingEnd;
  ShowIfEngaged(status);
}

void MachineMotion::Show(cycle::StatusRecord& status) {
  const int buffered = static_cast<int>(buffer_.size());
  status.BufferedRecords = static_cast<std::uint16_t>(buffered);
  status.BufferFill = static_cast<std::uint8_t>(buffered * 100 / kBufferRecords);
  status.ExecutingLine = Executing() ? executingLine_ : -1;

  if (Executing()) {
    status.Mode = !buffer_.empty() && speed_ == 0 ? cycle::kModeHold : cycle::kModeSegment;
  } else {
    status.Mode = Jogging() ? cycle::kModeJog : cycle::kModeIdle;
  }

  if (homing_) {
    status.Sequence = homing_->sequence;
    status.HomedAxis = static_cast<std::uint8_t>(homing_->axis);
  } else if (probe_ == Probe::Moving || probe_ == Probe::NoContact) {
    status.Sequence = cycle::kSequenceProbeMove;
  } else if (probe_ == Probe::ContactPending) {
    status.Sequence = cycle::kSequenceProbeContact;
  } else if (!phases_.empty()) {
    status.Sequence = phases_.front().sequence;
  } else {
    status.Sequence = cycle::kSequenceNone;
  }

  const bool holding = feedhold_ && Executing();
  status.Flags = static_cast<std::uint16_t>(holding ? status.Flags | cycle::status_flag::kFeedhold
                                                    : status.Flags & ~cycle::status_flag::kFeedhold);
}

void MachineMotion::ShowIfEngaged(cycle::StatusRecord& status) {
  const bool engaged = Engaged();
  if (engaged || shown_) Show(status);
  shown_ = engaged;
}

MotionStats MachineMotion::Stats(const cycle::StatusRecord& status) const {
  return MotionStats{recordsExecuted_, underruns_, overruns_, lowestBufferLevel_, status.StepPositions};
}

}  // namespace veltra::emu

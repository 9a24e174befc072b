#include "program_run.h"

#include <algorithm>
#include <type_traits>

#include "ops/events.h"
#include "platform/clock.h"

namespace veltra::hoststub {
namespace {

using host::EngineBlock::DwellBusy;
using host::EngineBlock::TrajectoryHead;
using host::EngineBlock::TrajectoryTail;
using host::PlannerBlock::MotionIdle;

// A ring index as the host keeps it; a value a script wrote out of range
// must not take the stand-in outside its ring.
std::int32_t RingIndex(std::int32_t value) {
  return ((value % kTrajectoryEntries) + kTrajectoryEntries) % kTrajectoryEntries;
}

}  // namespace

MotorTuning HostMotorTuning(const HostStandIn& host) {
  MotorTuning tuning;
  for (std::uint32_t a = 0; a < kPlannedAxes; ++a) {
    tuning.stepsPerUnit[a] = host.Read(host::PlannerBlock::AxisStepsPerUnit, a);
    tuning.maxVelocity[a] = host.Read(host::PlannerBlock::AxisMaxVelocity, a);
    tuning.acceleration[a] = host.Read(host::PlannerBlock::AxisAcceleration, a);
  }
  return tuning;
}

AxisValues HostMachinePosition(const HostStandIn& host) {
  AxisValues position{};
  for (std::uint32_t a = 0; a < kPlannedAxes; ++a) {
    const double stepsPerUnit = host.Read(host::PlannerBlock::AxisStepsPerUnit, a);
    if (stepsPerUnit > 0.0) position[a] = host.Read(host::EngineBlock::AxisPosition, a) / stepsPerUnit;
  }
  return position;
}

AxisValues HostWorkOffsets(const HostStandIn& host) {
  AxisValues offsets{};
  for (std::uint32_t a = 0; a < kPlannedAxes; ++a) offsets[a] = host.Read(host::SetupBlock::AxisWorkOffset, a);
  return offsets;
}

bool PlanOnHost(const HostStandIn& host, const std::vector<std::string>& lines, Program& program, std::string& error) {
  return PlanProgram(lines, HostMachinePosition(host), HostWorkOffsets(host), HostMotorTuning(host), program, error);
}

ProgramRun::ProgramRun(HostStandIn& host, Program program)
    : host_(host), program_(std::move(program)), tuning_(HostMotorTuning(host)) {}

ProgramRun::~ProgramRun() {
  if (!done_) host_.Write(host::EngineBlock::RunState, 0);
}

std::int32_t ProgramRun::Queued() const {
  return RingIndex(RingIndex(host_.Read(TrajectoryHead)) - RingIndex(host_.Read(TrajectoryTail)));
}

// One entry stays free: a full ring would look empty (head == tail).
std::int32_t ProgramRun::Room() const { return kTrajectoryEntries - 1 - Queued(); }

std::size_t ProgramRun::SamplesConsumed() const {
  const auto queued = static_cast<std::size_t>(Queued());
  return written_ > queued ? written_ - queued : 0;
}

int ProgramRun::CurrentLine() const {
  if (program_.steps.empty()) return 0;
  const std::size_t at = std::min(next_, program_.steps.size() - 1);
  return std::visit([](const auto& step) { return step.line; }, program_.steps[at]);
}

bool ProgramRun::MotionSettled() {
  if (Queued() != 0) return false;
  // MotionIdle may still be the one from before the last entries went out:
  // only an idle seen after the plugin took them up counts.
  if (writtenSinceRest_ && !(sawMotion_ && host_.Read(MotionIdle) != 0)) return false;
  writtenSinceRest_ = false;
  sawMotion_ = false;
  return true;
}

void ProgramRun::Fill(const Move& move) {
  if (!sampler_) sampler_.emplace(move, tuning_.stepsPerUnit);
  AxisValues steps{};
  while (Room() > 0) {
    if (!sampler_->Next(steps)) {
      sampler_.reset();
      return;
    }
    const std::int32_t head = RingIndex(host_.Read(TrajectoryHead));
    for (std::uint32_t a = 0; a < kPlannedAxes; ++a) {
      host_.Write(host::PlannerBlock::TrajectoryPosition, static_cast<std::uint32_t>(head), a, steps[a]);
    }
    host_.Write(host::EngineBlock::TrajectoryLine, static_cast<std::uint32_t>(head), move.line);
    host_.Write(host::EngineBlock::TrajectoryMarker, static_cast<std::uint32_t>(head), 0);
    host_.Write(TrajectoryHead, RingIndex(head + 1));
    ++written_;
    writtenSinceRest_ = true;
    sawMotion_ = false;
  }
}

void ProgramRun::Begin(const ProgramStep& step) {
  const PluginExports& plugin = host_.Plugin();
  if (const auto* dwell = std::get_if<Dwell>(&step)) {
    plugin.DoDwell(dwell->time);
  } else if (const auto* spindle = std::get_if<SpindleChange>(&step)) {
    if (spindle->speed) {
      host_.Write(host::PlannerBlock::SpindleSpeed, *spindle->speed);
      const auto pulley = static_cast<std::uint32_t>(host_.Read(host::PlannerBlock::CurrentPulley));
      const double maximum = host_.Read(host::PlannerBlock::PulleyMaxSpeed, pulley);
      host_.Write(host::PlannerBlock::SpindleRatio, maximum > 0.0 ? std::min(1.0, *spindle->speed / maximum) : 0.0);
      plugin.Notify(ops::host_event::kSpindleSpeed);
    }
    switch (spindle->motor) {
      case SpindleChange::Motor::Clockwise:
      case SpindleChange::Motor::CounterClockwise:
        host_.Write(host::PlannerBlock::SpindleDirection, spindle->motor == SpindleChange::Motor::Clockwise ? 0 : 1);
        plugin.Notify(ops::host_event::kSpindleStart);
        break;
      case SpindleChange::Motor::Off:
        plugin.Notify(ops::host_event::kSpindleStop);
        break;
      case SpindleChange::Motor::Unchanged:
        break;
    }
    if (spindle->motor != SpindleChange::Motor::Unchanged) spindleSwitchedAt_ = platform::TickCount();
  }
}

void ProgramRun::Finish(std::string error) {
  host_.Write(host::EngineBlock::RunState, 0);
  done_ = true;
  error_ = std::move(error);
}

bool ProgramRun::Advance() {
  if (done_) return true;
  if (host_.Read(host::EngineBlock::EStop) != 0) {
    // The host abandons the program: what is still queued never runs.
    host_.Write(TrajectoryHead, RingIndex(host_.Read(TrajectoryTail)));
    sampler_.reset();
    Finish("e-stop: the program stopped at line " + std::to_string(CurrentLine()));
    return true;
  }
  host_.Write(host::EngineBlock::RunState, 1);
  if (host_.Read(MotionIdle) == 0) sawMotion_ = true;

  while (next_ < program_.steps.size()) {
    const ProgramStep& step = program_.steps[next_];
    if (const auto* move = std::get_if<Move>(&step)) {
      Fill(*move);
      if (sampler_) return false;  // the ring is full
      ++next_;
      continue;
    }
    if (!stepBegun_) {
      if (!MotionSettled()) return false;
      Begin(step);
      stepBegun_ = true;
    }
    // A dwell, and a torch start that waits for its arc, hold the host.
    if (host_.Read(DwellBusy) != 0) return false;
    if (spindleSwitchedAt_ && platform::TickCount() - *spindleSwitchedAt_ < kSpindleDelayMs) return false;
    spindleSwitchedAt_.reset();
    stepBegun_ = false;
    ++next_;
  }
  if (!MotionSettled()) return false;
  Finish();
  return true;
}

}  // namespace veltra::hoststub

#include "ops/jog.h"

#include <algorithm>
#include <cstring>

#include "cycle/cycle.h"
#include "link/command_table.h"
#include "link/commands.h"
#include "link/controller_socket.h"
#include "link/wire.h"
#include "ops/operation_commands.h"
#include "plugin/host_blocks.h"
#include "plugin/lifecycle.h"
#include "plugin/numeric.h"

namespace veltra::ops {
namespace {

constexpr std::int32_t kJogModeContinuous = 0;
constexpr std::int32_t kJogModeStep = 1;
constexpr double kPercent = 0.01;

bool IsJogAxis(std::int16_t axis) { return axis >= 0 && axis < kJogAxes; }

// The host keeps the flag behind a pointer; a host that gives none never
// jogs at full speed.
bool FullSpeedJog() {
  const std::uintptr_t flag = ViewBlock::FullSpeedJog.Get();
  if (flag == 0) return false;
  std::uint8_t value = 0;
  std::memcpy(&value, reinterpret_cast<const void*>(flag), sizeof value);
  return value != 0;
}

// Units per second: the speed asked for, or the axis's maximum scaled by the
// host's jog percentage unless the host jogs at full speed.
double JogVelocity(std::int16_t axis, double speed) {
  if (speed != 0.0) return speed;
  const double maximum = PlannerBlock::AxisMaxVelocity.Get(axis);
  return FullSpeedJog() ? maximum : maximum * SetupBlock::JogPercent.Get() * kPercent;
}

// The controller takes a jog only while it runs no sequence and is idle or
// jogging already.
bool ControllerTakesJog() {
  const cycle::StatusRecord& status = cycle::Cycle().Status;
  return status.Sequence == cycle::kSequenceNone && (status.Mode == cycle::kModeIdle || status.Mode == cycle::kModeJog);
}

}  // namespace

JogState& Jog() {
  static JogState state;
  return state;
}

void JogOn(std::int16_t axis, std::int16_t direction, double speed) {
  if (!IsJogAxis(axis)) return;
  if (EngineBlock::EStop.Get() != 0) {
    plugin::ShowStatus("No Jogging in Estop!");
    return;
  }
  if (EngineBlock::TrajectoryTail.Get() != EngineBlock::TrajectoryHead.Get()) {
    plugin::ShowStatus("No Jogging in g-code mode!");
    return;
  }
  if (EngineBlock::AxisSlave.Get(axis) != 0) {
    plugin::ShowStatus("Cannot jog slave axis!");
    return;
  }
  if (!ControllerTakesJog()) {
    plugin::ShowStatus("Waiting for sequence to End!");
    return;
  }

  JogState& jog = Jog();
  if (PlannerBlock::JogMode.Get() == kJogModeStep) {
    jog.JogModeWasStep = true;
    PlannerBlock::JogMode.Set(kJogModeContinuous);
  } else if (EngineBlock::Jogging.Get() == 0) {
    jog.JogModeWasStep = false;
  }

  const JogStart start{
      static_cast<std::uint8_t>(axis), static_cast<std::int8_t>(direction == 0 ? 1 : -1),
      TruncateSaturating<std::int32_t>(JogVelocity(axis, speed) * PlannerBlock::AxisStepsPerUnit.Get(axis))};
  if (link::Online()) link::SendCommand(link::CMD_JOG_START, EncodeJogStart(start));

  // Offline the host still sees the jog, so the matching JogOff finds it.
  jog.AxisJogActive[axis] = true;
  EngineBlock::AxisJogging.Set(axis, 1);
  EngineBlock::AxisJogDirection.Set(axis, direction);
  EngineBlock::Jogging.Set(1);
  PlannerBlock::MotionIdle.Set(0);
  PlannerBlock::MotionFlags.Set(PlannerBlock::MotionFlags.Get() | cycle::kMotionFlagJogging);
}

// A stop that arrives while the controller runs a sequence is dropped; the
// axis stays active until a later one. The cycle clears the host's per-axis
// jogging flags once the controller has left jogging.
void JogOff(std::int16_t axis) {
  if (!IsJogAxis(axis)) return;
  if (cycle::Cycle().Status.Sequence != cycle::kSequenceNone) return;
  JogState& jog = Jog();
  if (EngineBlock::Jogging.Get() == 0 || !jog.AxisJogActive[axis]) return;

  jog.AxisJogActive[axis] = false;
  if (link::Online()) {
    JogStopPayload payload{};
    wire::Put(payload, jog_stop_payload::kAxis, static_cast<std::uint8_t>(axis));
    link::SendCommand(link::CMD_JOG_STOP, payload);
  }
  if (std::ranges::none_of(jog.AxisJogActive, [](bool active) { return active; })) {
    EngineBlock::Jogging.Set(0);
    if (jog.JogModeWasStep) PlannerBlock::JogMode.Set(kJogModeStep);
  }
}

}  // namespace veltra::ops

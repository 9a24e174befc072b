#include "ops/home.h"

#include "link/command_table.h"
#include "link/commands.h"
#include "link/wire.h"
#include "ops/operation_commands.h"
#include "plugin/host_blocks.h"

namespace veltra::ops {
namespace {
constexpr std::int16_t kHomeAxes = 6;  // X, Y, Z, A, B, C
}  // namespace

HomingState& Homing() {
  static HomingState state;
  return state;
}

void Home(std::int16_t axis) {
  if (axis < 0 || axis >= kHomeAxes) return;
  StartHome(axis);
}

// The command goes out whether or not the controller is online: the link
// drops it without a word when it is not connected, and the raised count
// then waits for the user's Reset.
void StartHome(std::int16_t axis) {
  EngineBlock::Homing.Set(1);
  ++Homing().HomesPending;
  HomePayload payload{};
  wire::Put(payload, home_payload::kAxis, axis);
  link::SendCommand(PlannerBlock::VerifyActive.Get() != 0 ? link::CMD_HOME_VERIFY : link::CMD_HOME, payload);
  EngineBlock::AxisHoming.Set(axis, 1);
}

void CancelHoming() {
  EngineBlock::Homing.Set(0);
  HomingState& homing = Homing();
  homing.HomesPending = 0;
  homing.HomedMask = 0;
  for (std::uint32_t a = 0; a < EngineBlock::AxisHoming.count; ++a) EngineBlock::AxisHoming.Set(a, 0);
}

}  // namespace veltra::ops

#include "ops/home.h"

#include "plugin/host_blocks.h"

namespace veltra::ops {

HomingState& Homing() {
  static HomingState state;
  return state;
}

void CancelHoming() {
  EngineBlock::Homing.Set(0);
  HomingState& homing = Homing();
  homing.HomesPending = 0;
  homing.HomedMask = 0;
  for (std::uint32_t a = 0; a < EngineBlock::AxisHoming.count; ++a) EngineBlock::AxisHoming.Set(a, 0);
}

}  // namespace veltra::ops

#include "cycle/motion.h"

#include "plugin/host_blocks.h"

namespace veltra::cycle {

MotionState& Motion() {
  static MotionState state;
  return state;
}

void Resynchronise() {
  MotionState& motion = Motion();
  for (int a = 0; a < kMotionAxes; ++a) motion.LastSentPosition[a] = EngineBlock::AxisPosition.Get(a);
  motion.MotionSyncPending = false;
  EngineBlock::PositionResync.Set(1);
}

}  // namespace veltra::cycle

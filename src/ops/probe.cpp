#include "ops/probe.h"

#include "plugin/host_blocks.h"

namespace veltra::ops {

StraightMovePlanner& ThePlanner() {
  static StraightMovePlanner planner;
  return planner;
}

void StopProbeMove() {
  StraightMovePlanner& planner = ThePlanner();
  planner.PlannerActive = false;
  planner.PlannerStopped = true;
  for (std::uint32_t a = 0; a < EngineBlock::AxisProbing.count; ++a) EngineBlock::AxisProbing.Set(a, 0);
}

}  // namespace veltra::ops

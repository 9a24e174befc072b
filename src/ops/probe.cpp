#include "ops/probe.h"

#include <cmath>
#include <cstdio>

#include "config/config_record.h"
#include "cycle/status_rules.h"
#include "link/command_table.h"
#include "link/commands.h"
#include "ops/operation_commands.h"
#include "plugin/host_blocks.h"
#include "plugin/host_callbacks.h"
#include "plugin/lifecycle.h"
#include "plugin/numeric.h"

namespace veltra::ops {
namespace {

constexpr int kProbeAxes = 6;
constexpr int kSoftLimitAxes = 4;    // X, Y, Z, A
constexpr int kFirstSlavedAxis = 3;  // A, B and C may follow another axis
constexpr double kPercent = 0.01;
constexpr double kDistanceScale = 1000.0;  // the host's probe distance unit
// The controller's own units of the probe's rates.
constexpr double kAccelerationScale = 9.999999999999998e-15;
constexpr double kRateScale = 10000.0;

void RefuseProbe(const char* text) {
  plugin::ShowStatus(text);
  host::PressButton(kButtonProbeFailed);
}

// The controller stops the move with these rates at contact; an axis that
// follows another gets its master's.
ProbeLimits PlannedProbeLimits(const StraightMovePlanner& move) {
  ProbeLimits limits;
  for (int a = 0; a < kProbeAxes; ++a) {
    limits.Acceleration[a] = TruncateSaturating<std::int32_t>(
        std::fabs(move.accelerationVector[a] * move.scale[a] * kAccelerationScale) * kRateScale);
    limits.Velocity[a] = TruncateSaturating<std::int32_t>(move.r[a] * move.scale[a] * kRateScale);
  }
  // The slave byte names the master axis + 1; a byte naming no axis leaves
  // the axis its own rates.
  for (int a = kFirstSlavedAxis; a < kProbeAxes; ++a) {
    const int master = config::TheConfigRecord().Get(config::AxisConfig::SlaveOf, a) - 1;
    if (master < 0 || master >= kProbeAxes) continue;
    limits.Acceleration[a] = limits.Acceleration[master];
    limits.Velocity[a] = limits.Velocity[master];
  }
  return limits;
}

}  // namespace

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

bool OutsideSoftLimits(const AxisVector& position) {
  const config::UploadedConfig& uploaded = config::Uploaded();
  for (int a = 0; a < kSoftLimitAxes; ++a) {
    if (EngineBlock::AxisEnabled.Get(a) == 0) continue;
    if (position[a] > uploaded.SoftLimitMax[a] || position[a] < uploaded.SoftLimitMin[a]) return true;
  }
  return false;
}

void Probe() {
  if (EngineBlock::InputSignalEnabled.Get(cycle::kInputProbe) == 0) {
    RefuseProbe("Probe called but not turned on.");
    return;
  }
  char text[4 * 320 + 32];  // room for four of the widest "%f"
  std::snprintf(text, sizeof text, "Probe to (%f,%f,%f,%f)", PlannerBlock::ProbeTarget.Get(0),
                PlannerBlock::ProbeTarget.Get(1), PlannerBlock::ProbeTarget.Get(2), PlannerBlock::ProbeTarget.Get(3));
  plugin::ShowStatus(text);

  // Machine coordinates: the host gives the position and the target in
  // work coordinates.
  AxisVector start{};
  AxisVector end{};
  for (int a = 0; a < kProbeAxes; ++a) {
    start[a] = EngineBlock::AxisWorkPosition.Get(a) + SetupBlock::AxisWorkOffset.Get(a);
    end[a] = PlannerBlock::ProbeTarget.Get(a) + SetupBlock::AxisWorkOffset.Get(a);
  }
  constexpr const char* kOutsideSoftLimits = "Probe move outside of soft limits. Operation aborted.";
  if (EngineBlock::SoftLimitsOn.Get() != 0 && (OutsideSoftLimits(start) || OutsideSoftLimits(end))) {
    RefuseProbe(kOutsideSoftLimits);
    return;
  }
  const double feed = PlannerBlock::FeedRate.Get() * PlannerBlock::FeedPercent.Get() * kPercent;
  StraightMovePlanner& move = ThePlanner();
  // A move that cannot be planned (the target is where the machine stands,
  // only B or C would move, no feed) is refused the same way: nothing is
  // planned or sent.
  if (!move.Plan(start, end, feed)) {
    RefuseProbe(kOutsideSoftLimits);
    return;
  }

  for (int a = 0; a < kProbeAxes; ++a) {
    EngineBlock::AxisProbing.Set(a, 1);
    EngineBlock::AxisProbeDistance.Set(a, TruncateSaturating<std::int32_t>((end[a] - start[a]) * kDistanceScale));
  }
  PlannerBlock::MotionIdle.Set(0);
  // Dropped without a word while the link is down: the move stays planned
  // until the user's Reset ends it.
  link::SendCommand(link::CMD_PROBE, EncodeProbeLimits(PlannedProbeLimits(move)));
}

}  // namespace veltra::ops

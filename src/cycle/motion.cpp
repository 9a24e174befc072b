#include "cycle/motion.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "config/config_record.h"
#include "cycle/cycle.h"
#include "cycle/motion_commands.h"
#include "link/command_table.h"
#include "link/commands.h"
#include "link/controller_socket.h"
#include "ops/probe.h"
#include "plugin/host_blocks.h"
#include "plugin/numeric.h"

namespace veltra::cycle {
namespace {

using Positions = std::array<double, kMotionAxes>;

// A whole step the host computed as a hair below it must not truncate to
// the step before at the controller.
constexpr double kPositionBias = 0.0001;
constexpr int kFirstSlaveAxis = 3;  // A, B and C may follow X, Y or Z
constexpr int kGrayLevelAxis = 3;   // A carries the gray level
constexpr int kRampAxes = 3;        // the path speed is taken over X, Y and Z
constexpr double kRecordsPerSecond = 1000.0;
constexpr double kSecondsPerMinute = 60.0;
constexpr double kPercent = 100.0;
constexpr double kPowerPerDutyPercent = 2.55;
constexpr double kGrayLevelMax = 255.0;
constexpr double kGrayLevelScale = 256.0;

// The host's output markers: the low byte names one of two kinds, the next
// byte the output (offset by 7); the record carries the kind in its high
// nibble and the output in its low one.
constexpr std::uint32_t kHostMarkerFirstKind = 47;
constexpr std::uint32_t kHostMarkerSecondKind = 48;
constexpr std::uint8_t kRecordMarkerFirstKind = 0x10;
constexpr std::uint8_t kRecordMarkerSecondKind = 0x20;
constexpr std::uint32_t kMarkerOutputOffset = 7;
constexpr std::uint32_t kMarkerOutputs = 16;

int QueuedEntries() {
  const auto head = static_cast<std::uint32_t>(EngineBlock::TrajectoryHead.Get());
  const auto tail = static_cast<std::uint32_t>(EngineBlock::TrajectoryTail.Get());
  return static_cast<int>((head - tail) % kTrajectoryEntries);
}

// Records sent that the controller has not counted yet; both counts are
// 16-bit and wrap.
int RecordsInFlight() { return static_cast<std::uint16_t>(Motion().MotionSequence - Cycle().ControllerReceived); }

// Records the controller can still take; 0 or less when its buffer and the
// wire are full.
int ControllerRoom() {
  return motion_record::kControllerBufferRecords - Cycle().ControllerBuffered - RecordsInFlight();
}

bool HeldWithRecords() {
  const CycleState& cycle = Cycle();
  return cycle.ControllerBuffered > 0 && cycle.ControllerMode == kModeHold;
}

void DiscardControllerBuffer() {
  link::SendCommand(link::CMD_DISCARD_BUFFER, DiscardPayload{});
  Cycle().ControllerBuffered = 0;
}

// A dwell runs down while the host waits or synchronised motion runs.
void CountDownDwell() {
  MotionState& motion = Motion();
  if (motion.DwellTicks <= 0) return;
  if (PlannerBlock::MotionIdle.Get() == 0 && motion.SyncedMotionState == 0) return;
  if (--motion.DwellTicks == 0) EngineBlock::DwellBusy.Set(0);
}

void FollowMasters(Positions& position) {
  const config::ConfigRecord& record = config::TheConfigRecord();
  for (int a = kFirstSlaveAxis; a < kMotionAxes; ++a) {
    const std::uint8_t master = record.Get(config::AxisConfig::SlaveOf, a);
    if (master != 0 && master <= kMotionAxes) position[a] = position[master - 1];
  }
}

std::uint8_t TakeMarker(std::int64_t entry) {
  const std::int32_t marker = EngineBlock::TrajectoryMarker.Get(entry);
  if (PlannerBlock::MarkersEnabled.Get() == 0 || marker == 0) return 0;
  const auto bits = static_cast<std::uint32_t>(marker);
  const std::uint32_t output = (((bits >> 8) & 0xFF) - kMarkerOutputOffset) % kMarkerOutputs;
  std::uint8_t code = 0;
  if ((bits & 0xFF) == kHostMarkerFirstKind) code = static_cast<std::uint8_t>(kRecordMarkerFirstKind + output);
  if ((bits & 0xFF) == kHostMarkerSecondKind) code = static_cast<std::uint8_t>(kRecordMarkerSecondKind + output);
  // The host sees the marker taken.
  EngineBlock::TrajectoryMarker.Set(entry, 0);
  return code;
}

// The ramp curve's power at the path speed since the last record, as a
// percentage of the nominal feed. An axis without steps per unit adds no
// speed, and without a nominal feed the speed counts as 0.
std::uint8_t RampPower(const Positions& position) {
  const Positions& last = Motion().LastSentPosition;
  double sum = 0.0;
  for (int i = 0; i < kRampAxes; ++i) {
    const double steps = PlannerBlock::AxisStepsPerUnit.Get(i);
    if (steps == 0.0) continue;
    const double unitsPerSecond = (position[i] - last[i]) * kRecordsPerSecond / steps;
    sum += unitsPerSecond * unitsPerSecond;
  }
  const config::UploadedConfig& uploaded = config::Uploaded();
  const double nominal = uploaded.RampNominalFeed;
  const double percent = nominal == 0.0 ? 0.0 : std::sqrt(sum) / nominal * kSecondsPerMinute * kPercent;
  return TruncateSaturating<std::uint8_t>(uploaded.RampSpline.Evaluate(percent) * kPowerPerDutyPercent);
}

// The A value in work coordinates, in steps, sets the gray level.
double GrayLevel(double hostA) {
  const double work =
      hostA - PlannerBlock::AxisStepsPerUnit.Get(kGrayLevelAxis) * SetupBlock::AxisWorkOffset.Get(kGrayLevelAxis);
  return std::clamp(work, 0.0, kGrayLevelMax);
}

std::uint8_t LaserPower(const Positions& position, double hostA) {
  const std::uint8_t flags = config::TheConfigRecord().Get(config::ConfigField::ModeFlags);
  const bool ramp = (flags & config::ModeFlag::LaserComp) != 0;
  const bool grayLevel = (flags & config::ModeFlag::LaserGrayLevel) != 0;
  if (!grayLevel) return ramp ? RampPower(position) : 0;
  const double gray = GrayLevel(hostA);
  if (!ramp) return TruncateSaturating<std::uint8_t>(gray);
  return TruncateSaturating<std::uint8_t>(RampPower(position) * gray / kGrayLevelScale);
}

void AppendRecord(const MotionRecord& record) {
  Motion().LastSentPosition = record.Position;
  link::BulkAppend(EncodeMotionRecord(record));
  ++Motion().MotionSequence;
}

MotionRecord RecordOfEntry(std::int64_t entry) {
  MotionRecord record;
  const std::int32_t line = EngineBlock::TrajectoryLine.Get(entry);
  record.Line = line == 0 ? -1 : line;
  record.Marker = TakeMarker(entry);
  for (int a = 0; a < kMotionAxes; ++a) {
    record.Position[a] = PlannerBlock::TrajectoryPosition.Get(entry, a) + kPositionBias;
  }
  FollowMasters(record.Position);
  record.LaserPower = LaserPower(record.Position, PlannerBlock::TrajectoryPosition.Get(entry, kGrayLevelAxis));
  return record;
}

void StreamHostEntries(int count) {
  std::uint32_t tail = static_cast<std::uint32_t>(EngineBlock::TrajectoryTail.Get()) % kTrajectoryEntries;
  link::BulkBegin();
  for (int k = 0; k < count; ++k) {
    AppendRecord(RecordOfEntry(tail));
    tail = (tail + 1) % kTrajectoryEntries;
    EngineBlock::TrajectoryTail.Set(static_cast<std::int32_t>(tail));
  }
  // A refused batch counts as sent: the link watch finds the dead link.
  link::BulkSend();
}

// The plugin's own straight move. True when it had the step to itself.
bool FeedPlannedMove() {
  ops::StraightMovePlanner& planner = ops::ThePlanner();
  if (!planner.PlannerActive) {
    // A planned move whose last samples were sent and that nobody ended is
    // dropped when the controller holds it. Host motion held before any
    // planned move ran keeps its buffer: the hold resumes it.
    const bool ranOut = !planner.PlannerStopped && planner.t > 0.0;
    if (!ranOut || !HeldWithRecords()) return false;
    DiscardControllerBuffer();
    return true;
  }
  if (EngineBlock::DwellBusy.Get() > 0 || ControllerRoom() <= 0) return true;
  PlannerBlock::MotionIdle.Set(0);
  // Without a controller the samples wait.
  if (!link::Online()) return true;
  const int room = std::min(ControllerRoom(), motion_record::kMaxPerBatch);
  link::BulkBegin();
  int taken = 0;
  ops::AxisVector sample{};
  while (taken < room && planner.NextSample(sample)) {
    MotionRecord record;
    for (int a = 0; a < kMotionAxes; ++a) record.Position[a] = sample[a] + kPositionBias;
    FollowMasters(record.Position);
    AppendRecord(record);
    ++taken;
  }
  if (taken > 0) link::BulkSend();
  return true;
}

}  // namespace

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

void StreamMotion() {
  if (Motion().ArcWait) return;
  CountDownDwell();
  if (EngineBlock::EStop.Get() != 0) return;
  if (FeedPlannedMove()) return;
  // The controller runs threading moves itself: what the host queued is
  // dropped.
  if (EngineBlock::ThreadingActive.Get() != 0 || EngineBlock::ThreadingRequest.Get() != 0) {
    EngineBlock::TrajectoryTail.Set(EngineBlock::TrajectoryHead.Get());
    return;
  }
  const int queued = QueuedEntries();
  if (queued == 0) {
    // A stop asked for while the controller holds: what it still buffers is
    // dropped.
    if (HeldWithRecords() && PlannerBlock::StopPending.Get() != 0) DiscardControllerBuffer();
    return;
  }
  PlannerBlock::MotionIdle.Set(0);
  if (EngineBlock::DwellBusy.Get() > 0) return;
  // Without a controller the entries stay queued, as they do while its
  // buffer is full.
  if (!link::Online()) return;
  const int count = std::min({queued, ControllerRoom(), motion_record::kMaxPerBatch});
  if (count > 0) StreamHostEntries(count);
}

}  // namespace veltra::cycle

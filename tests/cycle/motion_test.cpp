// Motion streaming against the substitute controller: the window of 1000
// records with its 16-bit counts, the batches, the records built from the
// host's queue (lines, markers, slaves, laser power), the plugin's planned
// move, the buffer discard of a held controller, and the steps that keep
// motion back.
#include "cycle/motion.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vector>

#include "config/config_record.h"
#include "controller_fixture.h"
#include "cycle/cycle.h"
#include "cycle/motion_commands.h"
#include "link/command_table.h"
#include "link/controller_socket.h"
#include "loopback.h"
#include "ops/probe.h"
#include "plugin/host_blocks.h"

namespace veltra::cycle {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;
using veltra::testing::PumpFor;
using veltra::testing::PumpUntil;

constexpr double kBias = 0.0001;

// The plugin online with a controller of the test's own, nothing queued,
// the controller's buffer empty and every count at 0.
class Streaming : public veltra::testing::OnlinePluginTest {
 protected:
  void SetUp() override {
    Motion() = MotionState{};
    ops::ThePlanner() = ops::StraightMovePlanner{};
    config::TheConfigRecord().Clear();
    config::Uploaded() = config::UploadedConfig{};
    CycleState& cycle = Cycle();
    cycle.ControllerBuffered = 0;
    cycle.ControllerReceived = 0;
    cycle.ControllerMode = kModeIdle;
    cycle.ProbeHitDelay = 0;
    ASSERT_NO_FATAL_FAILURE(GoOnline());
  }

  // Entry k of count from the tail: axis a at 1000 (k + 1) + a steps, line
  // k + 1.
  static void Queue(std::int32_t tail, int count) {
    for (int k = 0; k < count; ++k) {
      const int i = (tail + k) % kTrajectoryEntries;
      for (int a = 0; a < kMotionAxes; ++a) PlannerBlock::TrajectoryPosition.Set(i, a, 1000.0 * (k + 1) + a);
      EngineBlock::TrajectoryLine.Set(i, k + 1);
      EngineBlock::TrajectoryMarker.Set(i, 0);
    }
    EngineBlock::TrajectoryTail.Set(tail);
    EngineBlock::TrajectoryHead.Set((tail + count) % kTrajectoryEntries);
  }

  // The records the controller received, once that many have arrived and
  // nothing more followed; the record of them is kept.
  std::vector<MotionRecord> Records(std::size_t expected) {
    const std::size_t size = expected * motion_record::kSize;
    EXPECT_TRUE(PumpUntil([&] { return controller->BulkChannelBytes().size() >= size; }));
    PumpFor(20);
    const std::vector<std::uint8_t> bytes = controller->BulkChannelBytes();
    EXPECT_EQ(bytes.size() % motion_record::kSize, 0u);
    std::vector<MotionRecord> records;
    for (std::size_t at = 0; at + motion_record::kSize <= bytes.size(); at += motion_record::kSize) {
      const auto record = std::as_bytes(std::span<const std::uint8_t>(bytes).subspan(at, motion_record::kSize));
      records.push_back(DecodeMotionRecord(record.first<motion_record::kSize>()));
    }
    return records;
  }

  static std::vector<std::int32_t> Lines(const std::vector<MotionRecord>& records) {
    std::vector<std::int32_t> lines;
    for (const MotionRecord& record : records) lines.push_back(record.Line);
    return lines;
  }
};

// --- The window ---

struct WindowCase {
  const char* name;
  std::uint16_t buffered;
  std::uint16_t sequence;  // MotionSequence
  std::uint16_t received;  // the controller's ReceivedRecords
  std::int32_t tail;
  int queued;
  int sent;
};

class Window : public Streaming, public ::testing::WithParamInterface<WindowCase> {};

TEST_P(Window, TakesWhatTheBufferAndTheWireLeaveAtMostOneBatchOldestFirst) {
  const WindowCase& c = GetParam();
  Cycle().ControllerBuffered = c.buffered;
  Cycle().ControllerReceived = c.received;
  Motion().MotionSequence = c.sequence;
  Queue(c.tail, c.queued);

  StreamMotion();
  const std::vector<MotionRecord> records = Records(c.sent);
  std::vector<std::int32_t> expectedLines;
  for (int k = 0; k < c.sent; ++k) expectedLines.push_back(k + 1);
  EXPECT_THAT(Lines(records), ElementsAreArray(expectedLines));
  EXPECT_EQ(EngineBlock::TrajectoryTail.Get(), (c.tail + c.sent) % kTrajectoryEntries);
  EXPECT_EQ(Motion().MotionSequence, static_cast<std::uint16_t>(c.sequence + c.sent));
  EXPECT_EQ(PlannerBlock::MotionIdle.Get(), 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, Window,
                         ::testing::Values(WindowCase{"RoomForFifty", 900, 50, 0, 0, 400, 50},
                                           WindowCase{"BufferAndWireFull", 950, 50, 0, 0, 400, 0},
                                           WindowCase{"EmptyControllerTakesOneBatch", 0, 0, 0, 0, 400, 150},
                                           // 3 - 65533 modulo 65536: six records on the wire.
                                           WindowCase{"InFlightAcrossTheWrap", 990, 3, 65533, 0, 400, 4},
                                           WindowCase{"WireFullAcrossTheWrap", 994, 3, 65533, 0, 400, 0},
                                           // Head 2, tail 4090: eight entries across the ring's end.
                                           WindowCase{"QueueAcrossTheRingEnd", 0, 0, 0, 4090, 8, 8},
                                           // More than a buffer can hold is taken as full, not as room.
                                           WindowCase{"ControllerReportsMoreThanItHolds", 1200, 0, 0, 0, 400, 0},
                                           WindowCase{"ControllerCountsMoreThanWasSent", 0, 5, 6, 0, 400, 0}),
                         [](const auto& info) { return info.param.name; });

TEST_F(Streaming, ALongRunCrossesTheWrapOfTheRecordCount) {
  Motion().MotionSequence = 65500;
  Cycle().ControllerReceived = 65500;
  Queue(100, 300);
  StreamMotion();
  EXPECT_EQ(Motion().MotionSequence, 65500 + 150 - 65536);
  // The controller counted them all and executed them.
  Cycle().ControllerReceived = Motion().MotionSequence;
  StreamMotion();
  EXPECT_EQ(Motion().MotionSequence, 65500 + 300 - 65536);
  EXPECT_EQ(Records(300).size(), 300u);
}

// --- The record of a queue entry ---

struct MarkerCase {
  const char* name;
  std::int32_t markersEnabled;
  std::int32_t hostMarker;
  std::uint8_t marker;
  std::int32_t hostMarkerAfter;
};

class Marker : public Streaming, public ::testing::WithParamInterface<MarkerCase> {};

TEST_P(Marker, IsTranslatedAndTakenFromTheHost) {
  const MarkerCase& c = GetParam();
  Queue(7, 1);
  PlannerBlock::MarkersEnabled.Set(c.markersEnabled);
  EngineBlock::TrajectoryMarker.Set(7, c.hostMarker);
  StreamMotion();
  const std::vector<MotionRecord> records = Records(1);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].Marker, c.marker);
  EXPECT_EQ(EngineBlock::TrajectoryMarker.Get(7), c.hostMarkerAfter);
}

INSTANTIATE_TEST_SUITE_P(Cases, Marker,
                         ::testing::Values(MarkerCase{"FirstKind", 1, 0x0A2F, 0x13, 0},
                                           MarkerCase{"SecondKind", 1, 0x0A30, 0x23, 0},
                                           // (6 - 7) modulo 16 is output 15.
                                           MarkerCase{"OutputBelowTheOffsetWraps", 1, 0x062F, 0x1F, 0},
                                           MarkerCase{"OtherKindIsTakenAsNone", 1, 0x0A31, 0x00, 0},
                                           MarkerCase{"MarkersOffLeaveTheHostsMarker", 0, 0x0A2F, 0x00, 0x0A2F}),
                         [](const auto& info) { return info.param.name; });

TEST_F(Streaming, ARecordCarriesTheEntrysPositionsItsLineAndNoPowerWithoutALaserMode) {
  Queue(4095, 2);
  EngineBlock::TrajectoryLine.Set(4095, 0);  // the host gives no line
  EngineBlock::TrajectoryLine.Set(0, 1234);
  StreamMotion();
  const std::vector<MotionRecord> records = Records(2);
  ASSERT_EQ(records.size(), 2u);
  EXPECT_THAT(Lines(records), ElementsAre(-1, 1234));
  EXPECT_THAT(records[0].Position, ElementsAre(1000.0 + kBias, 1001.0 + kBias, 1002.0 + kBias, 1003.0 + kBias,
                                               1004.0 + kBias, 1005.0 + kBias));
  EXPECT_EQ(records[1].Position[0], 2000.0 + kBias);
  EXPECT_EQ(records[0].LaserPower, 0);
  EXPECT_EQ(Motion().LastSentPosition, records[1].Position);
}

TEST_F(Streaming, SlavedAxesTakeTheirMastersPositionInEveryRecord) {
  config::ConfigRecord& record = config::TheConfigRecord();
  record.Set(config::AxisConfig::SlaveOf, 3, std::uint8_t{2});  // A follows Y
  record.Set(config::AxisConfig::SlaveOf, 5, std::uint8_t{1});  // C follows X
  Queue(0, 3);
  StreamMotion();
  const std::vector<MotionRecord> records = Records(3);
  ASSERT_EQ(records.size(), 3u);
  for (const MotionRecord& r : records) {
    EXPECT_EQ(r.Position[3], r.Position[1]);
    EXPECT_EQ(r.Position[4], r.Position[0] + 4.0) << "B stays independent";
    EXPECT_EQ(r.Position[5], r.Position[0]);
  }
  EXPECT_EQ(Motion().LastSentPosition[3], records[2].Position[1]);
}

// --- Laser power ---

// X at 1000 steps per unit; the ramp curve a straight line from 20 % duty at
// no feed to 100 % at the nominal feed of 1000 units per minute.
class LaserPower : public Streaming {
 protected:
  void SetUp() override {
    Streaming::SetUp();
    PlannerBlock::AxisStepsPerUnit.Set(0, 1000.0);
    PlannerBlock::AxisStepsPerUnit.Set(1, 1000.0);
    PlannerBlock::AxisStepsPerUnit.Set(2, 1000.0);
    settings::RampCurve curve;
    curve.duty[0] = 20.0;
    config::Uploaded().RampSpline.Fit(curve);
    config::Uploaded().RampNominalFeed = 1000.0;
  }
  static void LaserModes(bool ramp, bool grayLevel) {
    std::uint8_t flags = 0;
    if (ramp) flags |= config::ModeFlag::LaserComp;
    if (grayLevel) flags |= config::ModeFlag::LaserGrayLevel;
    config::TheConfigRecord().Set(config::ConfigField::ModeFlags, flags);
  }
  // One entry per X position, from the tail at 0.
  static void QueueX(const std::vector<double>& x) {
    Queue(0, static_cast<int>(x.size()));
    for (std::size_t i = 0; i < x.size(); ++i) PlannerBlock::TrajectoryPosition.Set(i, 0, x[i]);
  }
  std::vector<int> Powers(std::size_t count) {
    std::vector<int> powers;
    for (const MotionRecord& record : Records(count)) powers.push_back(record.LaserPower);
    return powers;
  }
};

TEST_F(LaserPower, RampCompensationFollowsThePathSpeedOfEachRecord) {
  LaserModes(true, false);
  // From the last position sent: standing, 10 and 20 steps a millisecond,
  // that is 0 %, 60 % and 120 % of the nominal feed.
  Motion().LastSentPosition = {};
  QueueX({0.0, 10.0, 30.0});
  for (int i = 0; i < 3; ++i) PlannerBlock::TrajectoryPosition.Set(i, 1, 0.0);
  for (int i = 0; i < 3; ++i) PlannerBlock::TrajectoryPosition.Set(i, 2, 0.0);
  StreamMotion();
  // 20 % duty gives 51; 20 + 0.8 * 60 = 68 % gives 173; above the last point
  // its 100 %, 255 less the rounding of 2.55, gives 254.
  EXPECT_THAT(Powers(3), ElementsAre(51, 173, 254));
}

TEST_F(LaserPower, TheSpeedTakesXYAndZTogether) {
  LaserModes(true, false);
  Motion().LastSentPosition = {};
  // 6 and 8 steps a millisecond on X and Y: 10 units a second, 60 %.
  QueueX({6.0});
  PlannerBlock::TrajectoryPosition.Set(0, 1, 8.0);
  PlannerBlock::TrajectoryPosition.Set(0, 2, 0.0);
  StreamMotion();
  EXPECT_THAT(Powers(1), ElementsAre(173));
}

struct GrayCase {
  const char* name;
  bool ramp;
  double hostA;        // steps
  double workOffsetA;  // units, at 10 steps per unit
  int power;
};

class GrayLevel : public LaserPower, public ::testing::WithParamInterface<GrayCase> {};

TEST_P(GrayLevel, TheAValueInWorkCoordinatesSetsThePower) {
  const GrayCase& c = GetParam();
  LaserModes(c.ramp, true);
  PlannerBlock::AxisStepsPerUnit.Set(3, 10.0);
  SetupBlock::AxisWorkOffset.Set(3, c.workOffsetA);
  // 10 steps a millisecond on X: power byte 173 from the ramp.
  Motion().LastSentPosition = {};
  QueueX({10.0});
  PlannerBlock::TrajectoryPosition.Set(0, 1, 0.0);
  PlannerBlock::TrajectoryPosition.Set(0, 2, 0.0);
  PlannerBlock::TrajectoryPosition.Set(0, 3, c.hostA);
  StreamMotion();
  EXPECT_THAT(Powers(1), ElementsAre(c.power));
}

INSTANTIATE_TEST_SUITE_P(Cases, GrayLevel,
                         ::testing::Values(GrayCase{"AboveTheTopIsFull", false, 300.0, 0.0, 255},
                                           GrayCase{"BelowZeroIsOff", false, -5.0, 0.0, 0},
                                           GrayCase{"TruncatedToTheByte", false, 100.7, 0.0, 100},
                                           // 350 steps less an offset of 5 units of 10 steps.
                                           GrayCase{"InWorkCoordinates", false, 350.0, 5.0, 255},
                                           GrayCase{"OffsetTakesItBelowZero", false, 40.0, 5.0, 0},
                                           // 173 * 128 / 256 = 86.5.
                                           GrayCase{"ScalesTheRampPower", true, 128.0, 0.0, 86},
                                           GrayCase{"FullGrayKeepsAlmostAllTheRampPower", true, 300.0, 0.0, 172}),
                         [](const auto& info) { return info.param.name; });

TEST_F(LaserPower, WithoutANominalFeedOrStepsPerUnitTheSpeedCountsAsNone) {
  LaserModes(true, false);
  const auto streamStillOnYZ = [this](double x) {
    Motion().LastSentPosition = {};
    QueueX({x});
    PlannerBlock::TrajectoryPosition.Set(0, 1, 0.0);
    PlannerBlock::TrajectoryPosition.Set(0, 2, 0.0);
    controller->ClearRecords();
    StreamMotion();
    return Powers(1);
  };
  // The curve's duty at no feed (20 %) either way.
  config::Uploaded().RampNominalFeed = 0.0;
  EXPECT_THAT(streamStillOnYZ(10.0), ElementsAre(51));
  config::Uploaded().RampNominalFeed = 1000.0;
  PlannerBlock::AxisStepsPerUnit.Set(0, 0.0);
  EXPECT_THAT(streamStillOnYZ(10.0), ElementsAre(51));
}

// --- The held controller's buffer ---

struct DiscardCase {
  const char* name;
  int queued;
  std::uint8_t stopPending;
  std::uint8_t mode;
  std::uint16_t buffered;
  bool discarded;
};

class HeldBuffer : public Streaming, public ::testing::WithParamInterface<DiscardCase> {};

TEST_P(HeldBuffer, IsDiscardedOnlyForAStopWhileTheControllerHolds) {
  const DiscardCase& c = GetParam();
  Queue(0, c.queued);
  PlannerBlock::StopPending.Set(c.stopPending);
  Cycle().ControllerMode = c.mode;
  Cycle().ControllerBuffered = c.buffered;
  StreamMotion();
  const auto discards = Received(link::CMD_DISCARD_BUFFER);
  ASSERT_EQ(discards.size(), c.discarded ? 1u : 0u);
  if (c.discarded) {
    EXPECT_THAT(discards[0].payload, ElementsAre(0, 0, 0, 0));
    EXPECT_EQ(Cycle().ControllerBuffered, 0);
  } else {
    EXPECT_EQ(Cycle().ControllerBuffered, c.buffered);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, HeldBuffer,
                         ::testing::Values(DiscardCase{"StopWhileHeld", 0, 1, kModeHold, 300, true},
                                           DiscardCase{"HeldWithoutAStop", 0, 0, kModeHold, 300, false},
                                           DiscardCase{"StopWhileMoving", 0, 1, kModeSegment, 300, false},
                                           DiscardCase{"StopWithAnEmptyBuffer", 0, 1, kModeHold, 0, false},
                                           // Host motion held before any planned move ran resumes.
                                           DiscardCase{"HeldHostMotionKeepsItsBuffer", 20, 0, kModeHold, 300, false}),
                         [](const auto& info) { return info.param.name; });

// --- The plugin's planned move ---

// A move of 2 units along X at 5 units a second, 100 steps per unit, axes
// 0..3 limited to 10 units a second and 100 units a second squared.
class PlannedMove : public Streaming {
 protected:
  void SetUp() override {
    Streaming::SetUp();
    for (int a = 0; a < kMotionAxes; ++a) {
      PlannerBlock::AxisStepsPerUnit.Set(a, 100.0);
      PlannerBlock::AxisMaxVelocity.Set(a, 10.0);
      PlannerBlock::AxisAcceleration.Set(a, 100.0);
    }
    ASSERT_TRUE(ops::ThePlanner().Plan({1.0, 0.0, 0.0, 0.0, 0.0, 0.0}, {3.0, 0.0, 0.0, 0.0, 0.0, 0.0}, 5.0));
  }
  // The samples the move gives from where it stands, by a copy of it.
  static std::vector<ops::AxisVector> Samples(int count) {
    ops::StraightMovePlanner copy = ops::ThePlanner();
    std::vector<ops::AxisVector> samples;
    ops::AxisVector sample{};
    while (static_cast<int>(samples.size()) < count && copy.NextSample(sample)) samples.push_back(sample);
    return samples;
  }
};

TEST_F(PlannedMove, StreamsItsSamplesInTheRoomLeftWithoutLinesAndWithSlaves) {
  config::TheConfigRecord().Set(config::AxisConfig::SlaveOf, 3, std::uint8_t{1});  // A follows X
  Cycle().ControllerBuffered = 880;
  Motion().MotionSequence = 20;  // all 20 on the wire
  Queue(0, 50);
  const std::vector<ops::AxisVector> samples = Samples(100);
  StreamMotion();
  const std::vector<MotionRecord> records = Records(100);
  ASSERT_EQ(records.size(), 100u);
  for (std::size_t k = 0; k < records.size(); ++k) {
    EXPECT_EQ(records[k].Line, -1);
    EXPECT_EQ(records[k].Marker, 0);
    EXPECT_EQ(records[k].Position[0], samples[k][0] + kBias) << "sample " << k;
    EXPECT_EQ(records[k].Position[3], records[k].Position[0]) << "sample " << k;
  }
  EXPECT_EQ(records[0].Position[0], 100.0 + kBias) << "the move starts where it was planned";
  EXPECT_EQ(Motion().MotionSequence, 120);
  EXPECT_EQ(Motion().LastSentPosition, records.back().Position);
  EXPECT_EQ(EngineBlock::TrajectoryTail.Get(), 0) << "the host's queue waits";
  EXPECT_EQ(PlannerBlock::MotionIdle.Get(), 0);
}

TEST_F(PlannedMove, TheHostsQueueFollowsOnceTheMoveHasRunOut) {
  Queue(0, 10);
  // 0.4 s of acceleration, cruise and deceleration: 401 samples at most.
  for (int tick = 0; tick < 6 && ops::ThePlanner().PlannerActive; ++tick) {
    Cycle().ControllerReceived = Motion().MotionSequence;
    StreamMotion();
  }
  EXPECT_FALSE(ops::ThePlanner().PlannerActive);
  const std::vector<MotionRecord> records = Records(Motion().MotionSequence);
  ASSERT_FALSE(records.empty());
  EXPECT_NEAR(records.back().Position[0], 300.0, 0.01) << "the move ends at its target";
  EXPECT_EQ(EngineBlock::TrajectoryTail.Get(), 0);

  controller->ClearRecords();
  Cycle().ControllerReceived = Motion().MotionSequence;
  StreamMotion();
  EXPECT_THAT(Lines(Records(10)), ElementsAre(1, 2, 3, 4, 5, 6, 7, 8, 9, 10));
}

struct PlannerHoldCase {
  const char* name;
  bool stopped;  // the probe ended the move
  bool discarded;
};

class PlannedMoveHeld : public PlannedMove, public ::testing::WithParamInterface<PlannerHoldCase> {};

TEST_P(PlannedMoveHeld, ARunOutMoveThatNobodyEndedIsDiscardedWhenHeld) {
  const PlannerHoldCase& c = GetParam();
  ops::AxisVector sample{};
  while (ops::ThePlanner().NextSample(sample)) {
  }
  if (c.stopped) ops::StopProbeMove();
  Queue(0, 10);
  Cycle().ControllerMode = kModeHold;
  Cycle().ControllerBuffered = 200;
  StreamMotion();
  EXPECT_EQ(Received(link::CMD_DISCARD_BUFFER).size(), c.discarded ? 1u : 0u);
  EXPECT_EQ(EngineBlock::TrajectoryTail.Get(), c.discarded ? 0 : 10) << "the discard has the step to itself";
}

INSTANTIATE_TEST_SUITE_P(Cases, PlannedMoveHeld,
                         ::testing::Values(PlannerHoldCase{"RanOut", false, true},
                                           PlannerHoldCase{"EndedByTheProbe", true, false}),
                         [](const auto& info) { return info.param.name; });

// --- What keeps motion back ---

struct HoldBackCase {
  const char* name;
  bool arcWait, eStop, threading, dwell, offline;
  std::int32_t tailAfter;  // of 20 entries from 0
};

class HeldBack : public Streaming, public ::testing::WithParamInterface<HoldBackCase> {};

TEST_P(HeldBack, NothingIsSentAndOnlyThreadingDropsTheQueue) {
  const HoldBackCase& c = GetParam();
  Queue(0, 20);
  Motion().ArcWait = c.arcWait;
  EngineBlock::EStop.Set(c.eStop ? 1 : 0);
  EngineBlock::ThreadingRequest.Set(c.threading ? 1 : 0);
  EngineBlock::DwellBusy.Set(c.dwell ? 1 : 0);
  if (c.offline) link::Link().ControllerOnline = false;
  StreamMotion();
  EXPECT_THAT(Records(0), IsEmpty());
  EXPECT_EQ(EngineBlock::TrajectoryTail.Get(), c.tailAfter);
  EXPECT_EQ(Motion().MotionSequence, 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, HeldBack,
                         ::testing::Values(HoldBackCase{"ArcWait", true, false, false, false, false, 0},
                                           HoldBackCase{"EStop", false, true, false, false, false, 0},
                                           HoldBackCase{"Threading", false, false, true, false, false, 20},
                                           HoldBackCase{"Dwell", false, false, false, true, false, 0},
                                           // Entries wait for a controller instead of being counted as sent.
                                           HoldBackCase{"Offline", false, false, false, false, true, 0}),
                         [](const auto& info) { return info.param.name; });

struct DwellCase {
  const char* name;
  std::uint8_t motionIdle;
  std::int32_t syncedState;
  bool runsDown;
};

class DwellCountdown : public Streaming, public ::testing::WithParamInterface<DwellCase> {};

TEST_P(DwellCountdown, RunsWhileTheHostWaitsOrSynchronisedMotionRuns) {
  const DwellCase& c = GetParam();
  Motion().DwellTicks = 2;
  Motion().SyncedMotionState = c.syncedState;
  EngineBlock::DwellBusy.Set(1);
  PlannerBlock::MotionIdle.Set(c.motionIdle);
  StreamMotion();
  EXPECT_EQ(EngineBlock::DwellBusy.Get(), 1);
  StreamMotion();
  EXPECT_EQ(Motion().DwellTicks, c.runsDown ? 0 : 2);
  EXPECT_EQ(EngineBlock::DwellBusy.Get(), c.runsDown ? 0 : 1);
  StreamMotion();
  EXPECT_EQ(Motion().DwellTicks, c.runsDown ? 0 : 2) << "the count stops at 0";
}

INSTANTIATE_TEST_SUITE_P(Cases, DwellCountdown,
                         ::testing::Values(DwellCase{"HostIdle", 1, 0, true}, DwellCase{"SyncedMotion", 0, 2, true},
                                           DwellCase{"HostMoving", 0, 0, false}),
                         [](const auto& info) { return info.param.name; });

// In the cycle, streaming waits while a probe hit delay runs.
TEST_F(Streaming, TheCycleStreamsOnceTheProbeHitDelayHasRunOut) {
  Queue(0, 5);
  Cycle().ProbeHitDelay = 1;
  RunCycle();
  EXPECT_EQ(EngineBlock::TrajectoryTail.Get(), 0);
  Cycle().ProbeHitDelay = 0;
  RunCycle();
  EXPECT_THAT(Lines(Records(5)), ElementsAre(1, 2, 3, 4, 5));
}

}  // namespace
}  // namespace veltra::cycle

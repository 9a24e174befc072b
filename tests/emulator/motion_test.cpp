// The substitute controller's motion, on the machine, at time points of the
// test's own.
#include "motion.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <functional>
#include <vector>

#include "config/config_record.h"
#include "cycle/cycle_commands.h"
#include "cycle/motion_commands.h"
#include "link/command_table.h"
#include "machine.h"
#include "payload_bytes.h"
#include "ops/operation_commands.h"

namespace veltra::emu {
namespace {

using namespace std::chrono_literals;
using Clock = SimulatedMachine::Clock;
using Bytes = std::vector<std::uint8_t>;
using cycle::MotionRecord;
using cycle::StatusRecord;

const Clock::time_point kStart = Clock::time_point{} + 1000s;

// Record i of a straight run: X at i steps (with the plugin's 0.0001), Z at
// -10 i, line 100 + i / 10.
MotionRecord RunRecord(int i) {
  MotionRecord record;
  record.Position = {i + 0.0001, 0.0001, -10.0 * i + 0.0001, 0.0, 0.0, 0.0};
  record.Line = 100 + i / 10;
  return record;
}

Bytes Outputs(std::uint16_t flags) { return {0, 0, 0, 0, static_cast<std::uint8_t>(flags), 0}; }

Bytes Axis16(std::int16_t axis) { return {static_cast<std::uint8_t>(axis), static_cast<std::uint8_t>(axis >> 8)}; }

Bytes JogStart(std::uint8_t axis, std::int8_t direction, std::int32_t rate) {
  return BytesOf(ops::EncodeJogStart({axis, direction, rate}));
}

class Motion : public ::testing::Test {
 protected:
  // The frame at that time after the start.
  StatusRecord At(Clock::duration since) {
    now = kStart + since;
    return machine.Report(now);
  }
  // Records first..first + count - 1 of the run, arriving together.
  void Run(int first, int count) {
    std::vector<MotionRecord> records;
    for (int i = first; i < first + count; ++i) records.push_back(RunRecord(i));
    machine.ReceiveMotion(records, now);
  }
  void Command(std::uint8_t code, const Bytes& payload = {}) { machine.Execute({code, payload}, now); }
  void Configure(const config::ConfigRecord& record) {
    Bytes bytes(config::kConfigRecordSize);
    std::memcpy(bytes.data(), record.Bytes().data(), bytes.size());
    Command(link::CMD_CONFIGURE, bytes);
  }

  SimulatedMachine machine{StatusRecord{}, kStart};
  Clock::time_point now = kStart;
};

struct ScaleCase {
  const char* name;
  double factor;
  Clock::duration realFor50Records;
};

class MotionAtScale : public Motion, public ::testing::WithParamInterface<ScaleCase> {};

TEST_P(MotionAtScale, RecordsAreExecutedOnePerSimulatedMillisecond) {
  const ScaleCase& c = GetParam();
  ASSERT_TRUE(machine.SetTimeScale(c.factor));
  const std::uint32_t stampAtStart = At(0ms).TimeStamp;
  Run(0, 200);
  StatusRecord s = machine.Status();
  EXPECT_EQ(s.Mode, cycle::kModeSegment);
  EXPECT_EQ(s.BufferedRecords, 200);
  EXPECT_EQ(s.ReceivedRecords, 200);

  s = At(c.realFor50Records);
  EXPECT_EQ(s.Mode, cycle::kModeSegment);
  EXPECT_EQ(s.BufferedRecords, 150);
  EXPECT_EQ(s.BufferFill, 15);
  EXPECT_EQ(s.StepPositions, (StepArray{49, 0, -490, 0, 0, 0})) << "record 49 is the 50th";
  EXPECT_EQ(s.ExecutingLine, 104);
  EXPECT_EQ(s.TimeStamp - stampAtStart, 500000u) << "50 simulated ms at 10 ticks per microsecond";
  EXPECT_EQ(machine.Motion().recordsExecuted, 50u);

  s = At(4 * c.realFor50Records);
  EXPECT_EQ(s.Mode, cycle::kModeIdle);
  EXPECT_EQ(s.BufferedRecords, 0);
  EXPECT_EQ(s.BufferFill, 0);
  EXPECT_EQ(s.ExecutingLine, -1);
  EXPECT_EQ(s.StepPositions, (StepArray{199, 0, -1990, 0, 0, 0}));
  EXPECT_EQ(machine.Motion().recordsExecuted, 200u);
  EXPECT_EQ(machine.Motion().underruns, 0);

  // At rest the motion fields are the status's again.
  machine.Status().ExecutingLine = 7;
  machine.Status().Mode = cycle::kModeHold;
  s = At(10 * c.realFor50Records);
  EXPECT_EQ(s.ExecutingLine, 7);
  EXPECT_EQ(s.Mode, cycle::kModeHold);
}

INSTANTIATE_TEST_SUITE_P(Cases, MotionAtScale,
                         ::testing::Values(ScaleCase{"RealTime", 1.0, 50ms}, ScaleCase{"TenTimes", 10.0, 5ms},
                                           ScaleCase{"HalfSpeed", 0.5, 100ms}),
                         [](const auto& info) { return info.param.name; });

TEST(MotionTimeScale, OnlyFactorsTheMachineCanRunAreTaken) {
  SimulatedMachine machine(StatusRecord{}, kStart);
  for (double refused : {0.0, -1.0, 1000.5, std::nan("")}) EXPECT_FALSE(machine.SetTimeScale(refused)) << refused;
  EXPECT_TRUE(machine.SetTimeScale(1000.0));
}

TEST_F(Motion, TheCountOfRecordsReceivedWrapsAndTheBufferHoldsAThousand) {
  machine.Status().ReceivedRecords = 65530;
  Run(0, 1005);
  EXPECT_EQ(machine.Status().ReceivedRecords, 999) << "(65530 + 1005) mod 65536";
  EXPECT_EQ(machine.Status().BufferedRecords, 1000);
  EXPECT_EQ(machine.Status().BufferFill, 100);
  EXPECT_EQ(machine.Motion().overruns, 5);

  const StatusRecord s = At(2s);
  EXPECT_EQ(s.StepPositions[0], 999) << "the records beyond the buffer were dropped";
  EXPECT_EQ(machine.Motion().recordsExecuted, 1000u);
}

TEST_F(Motion, ARecordArrivingSoonAfterTheBufferRanDryIsAnUnderrun) {
  Run(0, 20);
  EXPECT_FALSE(machine.Motion().lowestBufferLevel.has_value()) << "a motion that starts is not running low";
  At(10ms);
  Run(20, 20);
  EXPECT_EQ(machine.Motion().lowestBufferLevel, 10);

  EXPECT_EQ(At(50ms).Mode, cycle::kModeIdle) << "ran dry at 40 ms";
  Run(40, 10);
  EXPECT_EQ(machine.Motion().underruns, 1);
  EXPECT_EQ(machine.Motion().lowestBufferLevel, 0);
  EXPECT_EQ(machine.Status().Mode, cycle::kModeSegment);

  // Long after the end a new motion begins: no underrun.
  At(200ms);
  Run(50, 10);
  EXPECT_EQ(machine.Motion().underruns, 1);
  EXPECT_EQ(At(300ms).StepPositions[0], 59);
  EXPECT_EQ(machine.Motion().recordsExecuted, 60u);
}

struct EmptyingCase {
  const char* name;
  std::uint8_t code;
  Bytes payload;
  std::uint16_t receivedAfter;
};

class BufferEmptied : public Motion, public ::testing::WithParamInterface<EmptyingCase> {};

TEST_P(BufferEmptied, NothingMoreIsExecutedAndNoUnderrunCounted) {
  const EmptyingCase& c = GetParam();
  Run(0, 100);
  At(30ms);
  Command(c.code, c.payload);
  StatusRecord s = machine.Status();
  EXPECT_EQ(s.Mode, cycle::kModeIdle);
  EXPECT_EQ(s.BufferedRecords, 0);
  EXPECT_EQ(s.BufferFill, 0);
  EXPECT_EQ(s.ExecutingLine, -1);
  EXPECT_EQ(s.ReceivedRecords, c.receivedAfter);
  EXPECT_EQ(At(100ms).StepPositions[0], 29);

  At(110ms);
  Run(200, 5);
  EXPECT_EQ(machine.Motion().underruns, 0);
  EXPECT_EQ(At(200ms).StepPositions[0], 204);
}

INSTANTIATE_TEST_SUITE_P(Cases, BufferEmptied,
                         ::testing::Values(EmptyingCase{"Discard", link::CMD_DISCARD_BUFFER, {0, 0, 0, 0}, 100},
                                           EmptyingCase{"Stop", link::CMD_STOP, {}, 0}),
                         [](const auto& info) { return info.param.name; });

TEST_F(Motion, AFeedholdStopsTheConsumptionIntoHoldAndTheMotionGoesOnAfterIt) {
  Run(0, 100);
  At(20ms);
  Command(link::CMD_SET_OUTPUTS, Outputs(cycle::control_flag::kHardwareFeedhold));
  StatusRecord s = At(20ms + std::chrono::milliseconds(MachineMotion::kFeedholdRampMs));
  EXPECT_EQ(s.Mode, cycle::kModeHold);
  EXPECT_NE(s.Flags & cycle::status_flag::kFeedhold, 0);
  const std::int32_t held = s.StepPositions[0];
  EXPECT_GT(held, 20) << "it slows down, it does not stop dead";
  EXPECT_LT(held, 20 + MachineMotion::kFeedholdRampMs);

  s = At(500ms);
  EXPECT_EQ(s.Mode, cycle::kModeHold);
  EXPECT_EQ(s.StepPositions[0], held);
  EXPECT_EQ(s.BufferedRecords, 99 - held);

  Command(link::CMD_SET_OUTPUTS, Outputs(0));
  s = At(520ms);
  EXPECT_EQ(s.Mode, cycle::kModeSegment);
  EXPECT_EQ(s.Flags & cycle::status_flag::kFeedhold, 0);
  EXPECT_GT(s.StepPositions[0], held);
  s = At(700ms);
  EXPECT_EQ(s.Mode, cycle::kModeIdle);
  EXPECT_EQ(s.StepPositions[0], 99);
  EXPECT_EQ(machine.Motion().recordsExecuted, 100u) << "none skipped, none lost";
  EXPECT_EQ(machine.Motion().underruns, 0);
}

TEST_F(Motion, AHeldBufferCanBeDiscarded) {
  Command(link::CMD_SET_OUTPUTS, Outputs(cycle::control_flag::kHardwareFeedhold));
  Run(0, 100);
  EXPECT_EQ(At(5ms).Mode, cycle::kModeHold) << "a motion that starts held does not move";
  EXPECT_EQ(machine.Motion().recordsExecuted, 0u);
  Command(link::CMD_DISCARD_BUFFER, {0, 0, 0, 0});
  const StatusRecord s = At(10ms);
  EXPECT_EQ(s.Mode, cycle::kModeIdle);
  EXPECT_EQ(s.BufferedRecords, 0);
  EXPECT_EQ(s.Flags & cycle::status_flag::kFeedhold, 0);
}

class Jog : public Motion, public ::testing::WithParamInterface<std::int8_t> {};

TEST_P(Jog, RampsToTheRateAndDeceleratesToAStop) {
  const int sign = GetParam();
  // 10000 steps/s at 100000 steps/s²: 100 ms and 500 steps to speed.
  Command(link::CMD_JOG_START, JogStart(1, GetParam(), 10000));
  EXPECT_EQ(machine.Status().Mode, cycle::kModeJog);
  StatusRecord s = At(50ms);
  EXPECT_EQ(s.Mode, cycle::kModeJog);
  EXPECT_NEAR(s.StepPositions[1], sign * 125, 5) << "half the speed, a quarter of the ramp";
  const std::int32_t atSpeed = At(200ms).StepPositions[1];
  EXPECT_NEAR(atSpeed, sign * 1500, 10);
  EXPECT_NEAR(At(300ms).StepPositions[1] - atSpeed, sign * 1000, 1) << "cruising at the rate";

  Command(link::CMD_JOG_STOP, {1});
  s = At(350ms);
  EXPECT_EQ(s.Mode, cycle::kModeJog) << "still decelerating";
  s = At(450ms);
  EXPECT_EQ(s.Mode, cycle::kModeIdle);
  EXPECT_NEAR(s.StepPositions[1], sign * 3000, 10);
  EXPECT_EQ(At(600ms).StepPositions[1], s.StepPositions[1]);
  EXPECT_EQ(s.StepPositions[0], 0) << "only the jogged axis moves";
}

INSTANTIATE_TEST_SUITE_P(Directions, Jog, ::testing::Values(1, -1),
                         [](const auto& info) { return info.param > 0 ? "Plus" : "Minus"; });

TEST_F(Motion, JogsThatCannotRunAreIgnored) {
  struct Case {
    const char* name;
    std::function<void()> before;
    Bytes payload;
  };
  const Case cases[] = {
      {"AxisOutOfRange", [] {}, JogStart(6, 1, 1000)},
      {"NoRate", [] {}, JogStart(1, 1, 0)},
      {"NoDirection", [] {}, JogStart(1, 0, 1000)},
      {"WhileRecordsExecute", [&] { Run(0, 10); }, JogStart(1, 1, 1000)},
      {"InEStop", [&] { machine.EnterEStop(kFaultEStop); }, JogStart(1, 1, 1000)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Command(link::CMD_STOP);
    Configure(config::ConfigRecord{});
    machine.Status().StepPositions = {};
    c.before();
    const std::uint8_t mode = machine.Status().Mode;
    Command(link::CMD_JOG_START, c.payload);
    EXPECT_EQ(machine.Status().Mode, mode);
    now += 1s;
    const StatusRecord s = machine.Report(now);
    EXPECT_NE(s.Mode, cycle::kModeJog);
    EXPECT_EQ(s.StepPositions[1], 0);
  }
}

TEST_F(Motion, HomingRunsTheHomeSequencesAxisAfterAxisAndReportsHome6Once) {
  machine.Status().StepPositions = {500, 600, 700, 0, 0, 0};
  Command(link::CMD_HOME, Axis16(2));
  Command(link::CMD_HOME_VERIFY, Axis16(0));
  Command(link::CMD_HOME, Axis16(6));  // no such axis
  Command(link::CMD_HOME, Axis16(-1));

  // Every change of sequence the frames show, one frame every 5 ms.
  std::vector<std::pair<int, int>> seen;  // sequence, axis
  int home6Frames = 0;
  StatusRecord s;
  for (auto t = 5ms; t <= 1s; t += 5ms) {
    s = At(t);
    if (s.Sequence == cycle::kSequenceHomeLast) {
      ++home6Frames;
      EXPECT_EQ(s.StepPositions[s.HomedAxis], 0) << "the homed axis is at 0 when HOME6 reports it";
    }
    const std::pair<int, int> change{s.Sequence, s.Sequence == 0 ? -1 : s.HomedAxis};
    if (seen.empty() || seen.back() != change) seen.push_back(change);
  }
  const std::vector<std::pair<int, int>> expected{{1, 2}, {2, 2}, {3, 2}, {4, 2}, {5, 2}, {6, 2}, {7, 2}, {1, 0},
                                                  {2, 0}, {3, 0}, {4, 0}, {5, 0}, {6, 0}, {7, 0}, {0, -1}};
  EXPECT_EQ(seen, expected);
  EXPECT_EQ(home6Frames, 2) << "one completion per axis";
  EXPECT_EQ(s.Mode, cycle::kModeIdle);
  EXPECT_EQ(s.StepPositions, (StepArray{0, 600, 0, 0, 0, 0}));
}

TEST_F(Motion, Home6WaitsForAFrameToReportIt) {
  Command(link::CMD_HOME, Axis16(1));
  Command(link::CMD_HOME, Axis16(3));
  machine.Advance(kStart + 10s);
  EXPECT_EQ(machine.Status().Sequence, cycle::kSequenceHomeLast);
  EXPECT_EQ(At(10s).HomedAxis, 1);
  const StatusRecord s = At(10s + 1ms);
  EXPECT_EQ(s.Sequence, cycle::kSequenceHomeFirst);
  EXPECT_EQ(s.HomedAxis, 3);
}

TEST_F(Motion, AMachineWithoutMotionLeavesTheStatusAsItIsSet) {
  machine.SetMotionEnabled(false);
  StatusRecord& status = machine.Status();
  status.Sequence = cycle::kSequenceHomeLast;
  status.HomedAxis = 4;
  status.ReceivedRecords = 12;
  const StatusRecord set = status;
  Command(link::CMD_HOME, Axis16(0));
  Command(link::CMD_JOG_START, JogStart(1, 1, 1000));
  Run(0, 50);
  StatusRecord s = At(1s);
  s.TimeStamp = set.TimeStamp;
  EXPECT_EQ(s, set);
  EXPECT_EQ(At(2s).Sequence, cycle::kSequenceHomeLast) << "every frame reports what was set";
  EXPECT_EQ(machine.Motion().recordsExecuted, 0u);
}

struct ProbeCase {
  const char* name;
  std::int32_t surface;  // Z steps; the move goes from 0 down to -990
  std::uint8_t sequenceAtEnd;
  std::int32_t zAtEnd;
};

class Probing : public Motion, public ::testing::WithParamInterface<ProbeCase> {};

TEST_P(Probing, TheMoveEndsInContactOrWithoutAndWaitsForTheEndOfProbe) {
  const ProbeCase& c = GetParam();
  machine.SetProbeSurface(ProbeSurface{2, c.surface, -1});
  Command(link::CMD_PROBE, Bytes(ops::probe_payload::kSize));
  StatusRecord s = At(5ms);
  EXPECT_EQ(s.Sequence, cycle::kSequenceNone) << "no PROBE1 with IDLE before the move: that would end it";
  EXPECT_EQ(s.Mode, cycle::kModeIdle);

  Run(0, 100);
  s = At(15ms);
  EXPECT_EQ(s.Mode, cycle::kModeSegment);
  EXPECT_EQ(s.Sequence, cycle::kSequenceProbeMove);

  s = At(160ms);
  EXPECT_EQ(s.Mode, cycle::kModeIdle);
  EXPECT_EQ(s.Sequence, c.sequenceAtEnd);
  EXPECT_EQ(s.StepPositions[2], c.zAtEnd);
  EXPECT_EQ(s.BufferedRecords, 0);

  // The frames that follow, until the end of probe.
  Run(100, 5);  // late records of the move
  s = At(200ms);
  EXPECT_EQ(s.Mode, cycle::kModeIdle);
  EXPECT_EQ(s.Sequence,
            c.sequenceAtEnd == cycle::kSequenceProbeContact ? cycle::kSequenceNone : cycle::kSequenceProbeMove);
  EXPECT_EQ(s.StepPositions[2], c.zAtEnd);

  Command(link::CMD_END_PROBE);
  s = At(210ms);
  EXPECT_EQ(s.Sequence, cycle::kSequenceNone);
  EXPECT_EQ(s.Mode, cycle::kModeIdle);
}

INSTANTIATE_TEST_SUITE_P(Cases, Probing,
                         ::testing::Values(ProbeCase{"Contact", -505, cycle::kSequenceProbeContact, -510},
                                           ProbeCase{"NoContact", -2000, cycle::kSequenceProbeMove, -990}),
                         [](const auto& info) { return info.param.name; });

TEST_F(Motion, AContactRestartsTheCountAndDropsTheRestOfTheMoveUncounted) {
  machine.SetProbeSurface(ProbeSurface{2, -200, -1});
  Command(link::CMD_PROBE, Bytes(ops::probe_payload::kSize));
  Run(0, 100);
  const StatusRecord contact = At(50ms);
  EXPECT_EQ(contact.Sequence, cycle::kSequenceProbeContact);
  EXPECT_EQ(contact.ReceivedRecords, 0);
  Run(100, 50);
  EXPECT_EQ(At(60ms).ReceivedRecords, 0);
  EXPECT_EQ(machine.Status().BufferedRecords, 0);
  EXPECT_EQ(machine.Motion().recordsExecuted, 21u) << "up to Z = -200";

  Command(link::CMD_END_PROBE);
  Run(0, 3);
  EXPECT_EQ(machine.Status().ReceivedRecords, 3);
}

TEST_F(Motion, AProbeMoveIsNotOverWhileItsRecordsRunLateOnly) {
  Command(link::CMD_PROBE, Bytes(ops::probe_payload::kSize));
  Run(0, 10);
  StatusRecord s = At(30ms);  // ran out at 10 ms
  EXPECT_EQ(s.Mode, cycle::kModeSegment);
  EXPECT_EQ(s.Sequence, cycle::kSequenceProbeMove);
  Run(10, 10);
  EXPECT_EQ(machine.Motion().underruns, 1);
  s = At(100ms);
  EXPECT_EQ(s.Mode, cycle::kModeIdle);
  EXPECT_EQ(s.Sequence, cycle::kSequenceProbeMove);
  EXPECT_EQ(s.StepPositions[0], 19);
}

struct SoftLimitCase {
  const char* name;
  std::uint16_t controlFlags;
  std::uint8_t mode;
  std::uint8_t fault;
  std::int32_t xAtEnd;
};

class SoftLimits : public Motion, public ::testing::WithParamInterface<SoftLimitCase> {};

TEST_P(SoftLimits, ARecordBeyondThemStopsTheMotionWithFaultSoftLimit) {
  const SoftLimitCase& c = GetParam();
  config::ConfigRecord record;
  record.Set(config::AxisConfig::SoftMinSteps, 0, -100);
  record.Set(config::AxisConfig::SoftMaxSteps, 0, 100);
  // Z has no range, so no limits: it goes far below 0.
  Configure(record);
  Command(link::CMD_SET_OUTPUTS, Outputs(c.controlFlags));
  Run(0, 150);
  const StatusRecord s = At(1s);
  EXPECT_EQ(s.Mode, c.mode);
  EXPECT_EQ(s.Fault, c.fault);
  EXPECT_EQ(s.StepPositions[0], c.xAtEnd);
  EXPECT_EQ(s.StepPositions[2], -10 * c.xAtEnd);
  EXPECT_EQ(s.BufferedRecords, 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, SoftLimits,
                         ::testing::Values(SoftLimitCase{"On", cycle::control_flag::kSoftLimits, cycle::kModeEStop,
                                                         cycle::kFaultSoftLimit, 100},
                                           SoftLimitCase{"Off", 0, cycle::kModeIdle, kFaultNone, 149}),
                         [](const auto& info) { return info.param.name; });

TEST_F(Motion, AJogStopsAtTheSoftLimitWithoutAFault) {
  config::ConfigRecord record;
  record.Set(config::AxisConfig::SoftMinSteps, 0, -100);
  record.Set(config::AxisConfig::SoftMaxSteps, 0, 100);
  Configure(record);
  Command(link::CMD_SET_OUTPUTS, Outputs(cycle::control_flag::kSoftLimits));
  Command(link::CMD_JOG_START, JogStart(0, -1, 5000));
  const StatusRecord s = At(1s);
  EXPECT_EQ(s.StepPositions[0], -100);
  EXPECT_EQ(s.Mode, cycle::kModeIdle);
  EXPECT_EQ(s.Fault, kFaultNone);
}

struct PhaseCase {
  const char* name;
  std::uint8_t code;
  Bytes payload;
  std::vector<int> sequences;
};

class ControllerPhases : public Motion, public ::testing::WithParamInterface<PhaseCase> {};

TEST_P(ControllerPhases, AreReportedThroughTheirSequencesThenNone) {
  const PhaseCase& c = GetParam();
  Command(c.code, c.payload);
  std::vector<int> seen;
  for (auto t = 0ms; t <= 1s; t += 10ms) {
    const std::uint8_t sequence = At(t).Sequence;
    if (seen.empty() || seen.back() != sequence) seen.push_back(sequence);
  }
  EXPECT_EQ(seen, c.sequences);
  EXPECT_EQ(machine.Status().Mode, cycle::kModeIdle);
}

INSTANTIATE_TEST_SUITE_P(Cases, ControllerPhases,
                         ::testing::Values(PhaseCase{"Threading",
                                                     link::CMD_START_THREADING,
                                                     BytesOf(cycle::EncodeThreadingStart({})),
                                                     {cycle::kSequenceThreading, 0}},
                                           PhaseCase{"RigidTap",
                                                     link::CMD_START_RIGID_TAP,
                                                     BytesOf(cycle::EncodeRigidTapStart({})),
                                                     {cycle::kSequenceRigidTap1, cycle::kSequenceRigidTap2, 0}}),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace veltra::emu

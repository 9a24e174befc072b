#include "cycle/status_record.h"

#include <gtest/gtest.h>

#include "config/config_record.h"

#include <array>
#include <climits>
#include <optional>

#include "cycle/status_rules.h"
#include "plugin/host_blocks.h"
#include "plugin_fixture.h"
#include "settings/process_settings.h"
#include "ui/config_dialog.h"

namespace veltra::cycle {
namespace {

using Frame = std::array<std::byte, kStatusRecordSize>;

StatusRecord DistinctRecord() {
  StatusRecord r;
  r.Mode = 2;
  r.Sequence = 9;
  r.Flags = 0x0231;
  r.InputPins = 0x80000011;
  r.OutputPins = 0x00C00001;
  r.StepPositions = {1, -2, 300000, -400000, 5, -2000000000};
  r.SpindleRate = 1234.5f;
  r.BufferedRecords = 999;
  r.TimeStamp = 0xDEADBEEF;
  r.EncoderCounts = {11, -12, 13, -14, 15, -16, 17};
  r.Fault = 3;
  r.HomedAxis = 5;
  r.ExecutingLine = 4711;
  r.AnalogInputs = {0, 1000, 40000, 65535};
  r.ShuttleSpeed = 128;
  r.BufferFill = 73;
  r.ThcOffset = -321;
  r.ReceivedRecords = 65535;
  return r;
}

template <typename T>
T At(const Frame& frame, std::size_t offset) {
  return wire::Get<T>(frame, offset);
}

TEST(StatusRecordLayout, FieldsSitAtTheirOffsetsAndReservedBytesAreIgnored) {
  const StatusRecord record = DistinctRecord();
  Frame frame{};
  EncodeStatusRecord(record, frame);
  EXPECT_EQ(At<std::uint8_t>(frame, 0), 106);
  EXPECT_EQ(At<std::uint8_t>(frame, 2), 9);
  EXPECT_EQ(At<std::uint16_t>(frame, 4), 0x0231);
  EXPECT_EQ(At<std::uint32_t>(frame, 6), 0x80000011u);
  EXPECT_EQ(At<std::int32_t>(frame, 14 + 4 * 5), -2000000000);
  EXPECT_EQ(At<float>(frame, 42), 1234.5f);
  EXPECT_EQ(At<std::uint16_t>(frame, 46), 999);
  EXPECT_EQ(At<std::uint32_t>(frame, 48), 0xDEADBEEFu);
  EXPECT_EQ(At<std::int32_t>(frame, 52 + 4 * 6), 17);
  EXPECT_EQ(At<std::uint8_t>(frame, 84), 3);
  EXPECT_EQ(At<std::uint8_t>(frame, 85), 5);
  EXPECT_EQ(At<std::int32_t>(frame, 86), 4711);
  EXPECT_EQ(At<std::uint16_t>(frame, 90 + 2 * 3), 65535);
  EXPECT_EQ(At<std::uint8_t>(frame, 98), 128);
  EXPECT_EQ(At<std::uint8_t>(frame, 99), 73);
  EXPECT_EQ(At<std::int32_t>(frame, 100), -321);
  EXPECT_EQ(At<std::uint16_t>(frame, 104), 65535);

  for (std::size_t reserved : {3u, 38u, 39u, 40u, 41u, 80u, 81u, 82u, 83u}) {
    EXPECT_EQ(frame[reserved], std::byte{0}) << reserved;
    frame[reserved] = std::byte{0xFF};
  }
  EXPECT_EQ(DecodeStatusRecord(frame), record);
}

struct NameCase {
  std::optional<std::string_view> (*lookup)(std::uint8_t);
  std::uint8_t code;
  std::optional<std::string_view> name;
};

TEST(StatusRecordNames, ACodeOutsideItsTableHasNoName) {
  const NameCase cases[] = {
      {ModeName, 0, "IDLE"},         {ModeName, 6, "RDOWN"},           {ModeName, 7, std::nullopt},
      {ModeName, 255, std::nullopt}, {SequenceName, 1, "HOME0"},       {SequenceName, 7, "HOME6"},
      {SequenceName, 13, "THREAD"},  {SequenceName, 14, std::nullopt}, {FaultName, 3, "SOFTLIMIT"},
      {FaultName, 6, "FEEDHOLD"},    {FaultName, 7, std::nullopt},
  };
  for (const NameCase& c : cases) EXPECT_EQ(c.lookup(c.code), c.name) << int(c.code);
}

class StatusRules : public veltra::testing::PluginTest {
 protected:
  void SetUpInput(int signal, int enabled, int emulated, int port, int pin, int activeLow, int active) {
    EngineBlock::InputSignalEnabled.Set(signal, static_cast<std::uint8_t>(enabled));
    EngineBlock::InputSignalEmulated.Set(signal, static_cast<std::uint8_t>(emulated));
    EngineBlock::InputSignalPort.Set(signal, static_cast<std::uint8_t>(port));
    EngineBlock::InputSignalPin.Set(signal, static_cast<std::int8_t>(pin));
    EngineBlock::InputSignalActiveLow.Set(signal, static_cast<std::uint8_t>(activeLow));
    EngineBlock::InputSignalActive.Set(signal, static_cast<std::uint8_t>(active));
  }
  static int Active(int signal) { return EngineBlock::InputSignalActive.Get(signal); }
};

struct InputCase {
  const char* name;
  int enabled, emulated, port, pin, activeLow;
  std::uint32_t inputPins;
  int expected;  // the active byte starts at 7, so an untouched record reads 7
};

TEST_F(StatusRules, InputPinsReachTheEnabledSignalsOnTheControllersPort) {
  const InputCase cases[] = {
      {"ActiveLowPin5BitClear", 1, 0, 1, 5, 1, ~(1u << 4), 1}, {"ActiveLowPin5BitSet", 1, 0, 1, 5, 1, 1u << 4, 0},
      {"ActiveHighPin5BitSet", 1, 0, 1, 5, 0, 1u << 4, 1},     {"Pin32IsTheTopBit", 1, 0, 1, 32, 0, 1u << 31, 1},
      {"PinAbove32IsUntouched", 1, 0, 1, 33, 0, ~0u, 7},       {"PinZeroReadsInactive", 1, 0, 1, 0, 1, 0, 0},
      {"NegativePinReadsInactive", 1, 0, 1, -3, 0, ~0u, 0},    {"DisabledIsUntouched", 0, 0, 1, 5, 0, ~0u, 7},
      {"EmulatedIsUntouched", 1, 1, 1, 5, 0, ~0u, 7},          {"OtherPortIsUntouched", 1, 0, 2, 5, 0, ~0u, 7},
  };
  for (const InputCase& c : cases) {
    SetUpInput(22, c.enabled, c.emulated, c.port, c.pin, c.activeLow, 7);
    StatusRecord record;
    record.InputPins = c.inputPins;
    MirrorInputPins(record);
    EXPECT_EQ(Active(22), c.expected) << c.name;
  }
}

TEST_F(StatusRules, ThcUpAndDownFollowTheFlagsOnlyWithoutAPinOfTheirOwn) {
  struct Case {
    const char* name;
    int upEnabled;
    std::uint16_t flags;
    std::uint32_t inputPins;
    int up, down;
  };
  const Case cases[] = {
      {"FlagsDriveBoth", 0, status_flag::kThcUp | status_flag::kThcDown, 0, 1, 1},
      {"FlagsClear", 0, 0, ~0u, 0, 0},
      {"AnEnabledUpRecordIgnoresBit4", 1, status_flag::kThcUp, 0, 0, 0},
      {"AnEnabledUpRecordFollowsItsPin", 1, 0, 1u << 2, 1, 0},
  };
  for (const Case& c : cases) {
    SetUpInput(kInputThcUp, c.upEnabled, 0, 1, 3, 0, 7);
    SetUpInput(kInputThcDown, 0, 0, 1, 4, 0, 7);
    StatusRecord record;
    record.Flags = c.flags;
    record.InputPins = c.inputPins;
    MirrorInputPins(record);
    MirrorThcSignals(record);
    EXPECT_EQ(Active(kInputThcUp), c.up) << c.name;
    EXPECT_EQ(Active(kInputThcDown), c.down) << c.name;
  }
}

TEST_F(StatusRules, TrueSpindleSpeedUsesTheIndexCountAndTheCurrentPulley) {
  struct Case {
    const char* name;
    std::int32_t encRpm, indexCnt, pulley;
    float rate;
    double expected;  // the host's value starts at -1
  };
  const Case cases[] = {
      {"IndexCount2", 0, 2, 0, 3000.0f, 1500.0},        {"EncoderGivesRpm", 1, 2, 0, 3000.0f, 3000.0},
      {"Pulley4Ratio", 0, 1, 3, 1000.0f, 2500.0},       {"LastPulley", 0, 1, 24, 1000.0f, 500.0},
      {"PulleyBelowTheTable", 0, 1, -1, 1000.0f, -1.0}, {"PulleyPastTheTable", 0, 1, 25, 1000.0f, -1.0},
      {"ZeroIndexCount", 0, 0, 0, 1000.0f, -1.0},
  };
  settings::Process().preferences.SPINRATIO[3] = 2.5;
  settings::Process().preferences.SPINRATIO[24] = 0.5;
  for (const Case& c : cases) {
    config::Uploaded().EncRpmInForce = c.encRpm != 0;
    ui::TheConfigDialog().general.IndexCnt = c.indexCnt;
    PlannerBlock::CurrentPulley.Set(c.pulley);
    PlannerBlock::TrueSpindleSpeed.Set(-1.0);
    StatusRecord record;
    record.SpindleRate = c.rate;
    MirrorSpindleSpeed(record);
    EXPECT_DOUBLE_EQ(PlannerBlock::TrueSpindleSpeed.Get(), c.expected) << c.name;
  }
}

TEST_F(StatusRules, AxisVelocitiesAreMeasuredOverAWindowOfTenMillionTicks) {
  struct Case {
    const char* name;
    std::uint32_t windowStart;
    std::int32_t startSteps;
    std::uint32_t timeStamp;
    std::int32_t steps;
    std::int32_t velocity;  // the host's value starts at -7
    bool windowMoves;
  };
  const Case cases[] = {
      {"FullWindow", 0, 0, 10000100, 5000, 5000, true},
      {"WindowNotYetFull", 0, 0, 9999999, 5000, -7, false},
      {"TimeStampWrapsAround", 0xFFFFFF00u, 0, 0xFFFFFF00u + 10000100u, 5000, 5000, true},
      {"BackwardsRoundsTowardZero", 0, 0, 10000100, -5000, -4999, true},
      {"CountersFarApartSaturate", 0, -2000000000, 10000100, 2000000000, INT32_MAX, true},
  };
  for (const Case& c : cases) {
    TheVelocityWindow().VelocityWindowStart = c.windowStart;
    TheVelocityWindow().VelocityWindowSteps.fill(c.startSteps);
    EngineBlock::AxisVelocity.Set(0, -7);
    StatusRecord record;
    record.TimeStamp = c.timeStamp;
    record.StepPositions[0] = c.steps;
    record.StepPositions[1] = c.startSteps;
    MeasureAxisVelocities(record);
    EXPECT_EQ(EngineBlock::AxisVelocity.Get(0), c.velocity) << c.name;
    if (c.windowMoves) {
      EXPECT_EQ(EngineBlock::AxisVelocity.Get(1), 0) << c.name;
    }
    EXPECT_EQ(TheVelocityWindow().VelocityWindowStart, c.windowMoves ? c.timeStamp : c.windowStart) << c.name;
    EXPECT_EQ(TheVelocityWindow().VelocityWindowSteps[0], c.windowMoves ? c.steps : c.startSteps) << c.name;
  }
}

TEST_F(StatusRules, PositionsArePublishedAndTheExecutingLineUnlessNone) {
  EngineBlock::ExecutingLine.Set(77);
  StatusRecord record;
  record.StepPositions = {10, -20, 30, -40, 50, -60};
  record.ExecutingLine = -1;
  PublishStepPositions(record);
  MirrorExecutingLine(record);
  EXPECT_EQ(EngineBlock::ExecutingLine.Get(), 77);
  for (int a = 0; a < kStatusAxisCount; ++a) EXPECT_EQ(EngineBlock::AxisPosition.Get(a), record.StepPositions[a]);
  record.ExecutingLine = 12;
  MirrorExecutingLine(record);
  EXPECT_EQ(EngineBlock::ExecutingLine.Get(), 12);
}

}  // namespace
}  // namespace veltra::cycle

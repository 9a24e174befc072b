// The special functions of the analog inputs and the counters, frame by
// frame.
#include "cycle/special_inputs.h"

#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <vector>

#include "config/config_record.h"
#include "plugin/host_blocks.h"
#include "plugin_fixture.h"
#include "settings/process_settings.h"

namespace veltra::cycle {
namespace {

using veltra::testing::PluginTest;
namespace fn = special_function;

constexpr std::int32_t kDroFeedOverride = 821;
constexpr std::int32_t kDroSpindleOverride = 74;
constexpr std::int32_t kDroNominalVoltage = 1501;
constexpr std::int32_t kDroVoltageOverride = 1502;

ui::SpecialFunctionRecord& Entry(int i) { return config::Uploaded().SpecialFunctions[i]; }

// What a case reads back from the host after the frame.
using Reading = std::function<double(hoststub::HostStandIn&)>;
Reading DroOf(std::int32_t code) {
  return [code](hoststub::HostStandIn& host) { return host.Dro(code); };
}
Reading UserVariable(int id) {
  return [id](hoststub::HostStandIn&) { return SetupBlock::UserVariable.Get(id); };
}
Reading NominalSetting() {
  return [](hoststub::HostStandIn&) { return settings::Process().THCnomvoltage; };
}

// The plugin started in its host, so that its DRO writes reach the host.
class SpecialInputsTest : public PluginTest {
 protected:
  SpecialInputsTest() { StartPlugin(); }
};

struct AnalogCase {
  const char* name;
  std::int32_t function, type, id, zeroMv, upperMv;
  std::uint16_t raw;
  Reading reading;
  double value;
};

class AnalogFunction : public SpecialInputsTest, public ::testing::WithParamInterface<AnalogCase> {};

TEST_P(AnalogFunction, SpansTheValueBetweenTheThresholds) {
  const AnalogCase& c = GetParam();
  // The input under test is AnalogIN3; the others drive nothing.
  Entry(2) = {c.function, c.type, c.id, c.zeroMv, c.upperMv, "AnalogIN3"};
  StatusRecord record;
  record.AnalogInputs = {65535, 65535, c.raw, 65535};
  RunAnalogFunctions(record);
  EXPECT_DOUBLE_EQ(c.reading(host), c.value);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AnalogFunction,
    ::testing::Values(
        // 0.5 V is just below the zero threshold of 500 mV (6553.5 counts).
        AnalogCase{"FroBelowTheZeroThreshold", fn::kFeedOverride, 0, 0, 500, 4500, 6553, DroOf(kDroFeedOverride), 0},
        AnalogCase{"FroHalfWay", fn::kFeedOverride, 0, 0, 500, 4500, 32768, DroOf(kDroFeedOverride), 125},
        AnalogCase{"FroAboveTheUpperThreshold", fn::kFeedOverride, 0, 0, 500, 4500, 65535, DroOf(kDroFeedOverride),
                   250},
        AnalogCase{"Sro", fn::kSpindleOverride, 0, 0, 500, 4500, 32768, DroOf(kDroSpindleOverride), 125},
        AnalogCase{"UserVariablePercentage", fn::kUserVariable, 1, 1234, 500, 4500, 32768, UserVariable(1234), 50},
        AnalogCase{"UserVariable16Bit", fn::kUserVariable, 0, 1234, 500, 4500, 32768, UserVariable(1234), 32768},
        AnalogCase{"UserDro", fn::kUserDro, 0, 1100, 0, 5000, 65535, DroOf(1100), 65535},
        AnalogCase{"NominalVoltageUpTo350", fn::kThcNominalVoltage, 0, 0, 0, 5000, 65535, DroOf(kDroNominalVoltage),
                   350},
        AnalogCase{"NominalVoltageSetting", fn::kThcNominalVoltage, 0, 0, 0, 5000, 0, NominalSetting(), 50},
        AnalogCase{"VoltageOverride", fn::kThcVoltageOverride, 0, 0, 0, 5000, 32768, DroOf(kDroVoltageOverride), 100},
        AnalogCase{"VoltageOverrideLow", fn::kThcVoltageOverride, 0, 0, 0, 5000, 0, DroOf(kDroVoltageOverride), 80},
        // Thresholds that span nothing: a switch at the threshold, no division by 0.
        AnalogCase{"EqualThresholdsAbove", fn::kFeedOverride, 0, 0, 2000, 2000, 26215, DroOf(kDroFeedOverride), 250},
        AnalogCase{"EqualThresholdsBelow", fn::kFeedOverride, 0, 0, 2000, 2000, 26000, DroOf(kDroFeedOverride), 0},
        AnalogCase{"ReversedThresholds", fn::kFeedOverride, 0, 0, 3000, 1000, 50000, DroOf(kDroFeedOverride), 250},
        AnalogCase{"ShuttleIsTheControllers", fn::kShuttle, 0, 1100, 0, 5000, 65535, DroOf(1100), 0}),
    [](const auto& info) { return info.param.name; });

TEST_F(SpecialInputsTest, IdsOutsideTheHostsRangeWriteNothing) {
  const struct {
    const char* name;
    std::int32_t function, id;
  } cases[] = {{"UserVariableAbove", fn::kUserVariable, 15000},
               {"UserVariableBelow", fn::kUserVariable, -1},
               {"DroAbove", fn::kUserDro, 15000},
               {"DroBelow", fn::kUserDro, -3},
               {"DroFarAbove", fn::kUserDro, std::numeric_limits<std::int32_t>::max()}};
  const auto setupBytes = [&] {
    const std::byte* base = host.Block(host::Block::Setup);
    return std::vector<std::byte>(base, base + host::RequiredBlockSize(host::Block::Setup));
  };
  const auto before = setupBytes();
  for (const auto& c : cases) {
    Entry(0) = {c.function, 0, c.id, 0, 5000, "AnalogIN1"};
    Entry(4) = {c.function, 0, c.id, 0, 5000, "Encoder1"};
    config::Uploaded().EncoderWired[0] = true;
    Special().EncoderBase[0] = 0;
    StatusRecord record;
    record.AnalogInputs[0] = 40000;
    RunAnalogFunctions(record);
    record.EncoderCounts[0] = 25;
    RunEncoderFunctions(record);
    EXPECT_EQ(setupBytes(), before) << c.name;
    EXPECT_EQ(host.Dro(c.id), 0.0) << c.name;
  }
}

struct CounterCase {
  const char* name;
  int counter;
  std::int32_t function, type, id;
  double countsPerUnit;
  double start;  // the host value before
  std::int32_t from, to;
  Reading reading;
  double value;
  std::int32_t baseAfter;
};

// Every counter case sets the host value it reads to `start` first.
void SetStart(const CounterCase& c, hoststub::HostStandIn& host) {
  switch (c.function) {
    case fn::kFeedOverride:
      host.SetDroValue(kDroFeedOverride, c.start);
      break;
    case fn::kSpindleOverride:
      host.SetDroValue(kDroSpindleOverride, c.start);
      break;
    case fn::kUserVariable:
      SetupBlock::UserVariable.Set(c.id, c.start);
      break;
    case fn::kUserDro:
      host.SetDroValue(c.id, c.start);
      break;
    case fn::kThcNominalVoltage:
      settings::Process().THCnomvoltage = c.start;
      host.SetDroValue(kDroNominalVoltage, c.start);
      break;
    case fn::kThcVoltageOverride:
      host.SetDroValue(kDroVoltageOverride, c.start);
      break;
    default:
      break;
  }
}

class CounterFunction : public SpecialInputsTest, public ::testing::WithParamInterface<CounterCase> {};

TEST_P(CounterFunction, ChangesTheValueByTheUnitsTurnedWithinItsRange) {
  const CounterCase& c = GetParam();
  Entry(kFirstCounterEntry + c.counter) = {c.function, c.type, c.id, 0, 0, "counter"};
  config::Uploaded().EncoderWired[c.counter] = true;
  PlannerBlock::EncoderScale.Set(c.counter, c.countsPerUnit);
  SetStart(c, host);

  // The first frame after a Reset only takes the counters as the base.
  Special().EncoderRebase = true;
  StatusRecord record;
  record.EncoderCounts[c.counter] = c.from;
  RunEncoderFunctions(record);
  EXPECT_DOUBLE_EQ(c.reading(host), c.start);
  EXPECT_FALSE(Special().EncoderRebase);

  record.EncoderCounts[c.counter] = c.to;
  RunEncoderFunctions(record);
  EXPECT_DOUBLE_EQ(c.reading(host), c.value);
  EXPECT_EQ(Special().EncoderBase[c.counter], c.baseAfter);
}

constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();

INSTANTIATE_TEST_SUITE_P(Cases, CounterFunction,
                         ::testing::Values(CounterCase{"FroAtFourCountsPerUnit", 0, fn::kFeedOverride, 0, 0, 4.0, 100,
                                                       1000, 1010, DroOf(kDroFeedOverride), 102.5, 1010},
                                           CounterCase{"ScaleZeroTakenAsOne", 1, fn::kFeedOverride, 0, 0, 0.0, 100, 0,
                                                       10, DroOf(kDroFeedOverride), 110, 10},
                                           CounterCase{"FroStopsAt250", 2, fn::kFeedOverride, 0, 0, 1.0, 245, 0, 10,
                                                       DroOf(kDroFeedOverride), 250, 10},
                                           CounterCase{"SroStopsAt0", 3, fn::kSpindleOverride, 0, 0, 1.0, 5, 0, -10,
                                                       DroOf(kDroSpindleOverride), 0, -10},
                                           CounterCase{"VoltageOverrideStopsAt120", 0, fn::kThcVoltageOverride, 0, 0,
                                                       1.0, 118, 0, 10, DroOf(kDroVoltageOverride), 120, 10},
                                           CounterCase{"VoltageOverrideStopsAt80", 0, fn::kThcVoltageOverride, 0, 0,
                                                       1.0, 85, 0, -10, DroOf(kDroVoltageOverride), 80, -10},
                                           CounterCase{"UserVariablePercentageStopsAt100", 1, fn::kUserVariable, 1,
                                                       3000, 1.0, 95, 0, 10, UserVariable(3000), 100, 10},
                                           CounterCase{"UserVariable16BitStopsAt65535", 1, fn::kUserVariable, 0, 3000,
                                                       1.0, 65530, 0, 10, UserVariable(3000), 65535, 10},
                                           CounterCase{"UserDroStopsAt0", 2, fn::kUserDro, 0, 1100, 2.0, 3, 0, -10,
                                                       DroOf(1100), 0, -10},
                                           CounterCase{"NominalVoltageByMpg1StopsAt300", 4, fn::kThcNominalVoltage, 0,
                                                       0, 1.0, 295, 0, 10, DroOf(kDroNominalVoltage), 300, 10},
                                           CounterCase{"NominalVoltageByMpg3StopsAt50", 6, fn::kThcNominalVoltage, 0, 0,
                                                       1.0, 52, 0, -10, NominalSetting(), 50, -10},
                                           // A counter that wraps turns by the difference across the wrap.
                                           CounterCase{"AcrossTheWrap", 5, fn::kFeedOverride, 0, 0, 1.0, 100, kMax - 4,
                                                       kMin + 5, DroOf(kDroFeedOverride), 110, kMin + 5}),
                         [](const auto& info) { return info.param.name; });

TEST_F(SpecialInputsTest, ACounterDrivesNothingUnlessWiredAndGivenAFunction) {
  host.SetDroValue(kDroFeedOverride, 100);
  PlannerBlock::EncoderScale.Set(0, 1.0);
  Entry(4) = {fn::kFeedOverride, 0, 0, 0, 0, "Encoder1"};
  config::Uploaded().EncoderWired[0] = false;
  StatusRecord record;
  record.EncoderCounts[0] = 10;
  RunEncoderFunctions(record);
  EXPECT_EQ(host.Dro(kDroFeedOverride), 100);

  Entry(4).Fun = fn::kNone;
  config::Uploaded().EncoderWired[0] = true;
  RunEncoderFunctions(record);
  EXPECT_EQ(host.Dro(kDroFeedOverride), 100);
  EXPECT_EQ(Special().EncoderBase[0], 0) << "the base waits for a function";

  Entry(4).Fun = fn::kFeedOverride;
  RunEncoderFunctions(record);
  EXPECT_EQ(host.Dro(kDroFeedOverride), 110) << "what was turned meanwhile counts";
}

}  // namespace
}  // namespace veltra::cycle

#include "config/pin_map.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

#include "plugin/host_blocks.h"
#include "plugin_fixture.h"
#include "ui/config_dialog.h"

namespace veltra::config {
namespace {

using testing::PluginTest;

class PinMap : public PluginTest {};

// Host input signals by their index in the host's list.
constexpr int kLimitXPlus = 0;
constexpr int kLimitXMinus = 1;
constexpr int kHomeX = 2;
constexpr int kProbe = 22;
constexpr int kIndex = 23;
constexpr int kEStop = 25;
constexpr int kThcDown = 28;
constexpr int kTiming = 44;

struct InputSignal {
  int signal;
  std::int8_t pin;
  std::uint8_t port = 1;
  bool activeLow = false;
  bool emulated = false;
  bool enabled = true;
};

void Assign(const InputSignal& s) {
  EngineBlock::InputSignalEnabled.Set(s.signal, s.enabled ? 1 : 0);
  EngineBlock::InputSignalPin.Set(s.signal, s.pin);
  EngineBlock::InputSignalPort.Set(s.signal, s.port);
  EngineBlock::InputSignalActiveLow.Set(s.signal, s.activeLow ? 1 : 0);
  EngineBlock::InputSignalEmulated.Set(s.signal, s.emulated ? 1 : 0);
}

struct Encoder {
  int index;
  std::int32_t pinA;
  std::int32_t pinB;
  std::int32_t portA = 1;
  std::int32_t portB = 1;
  bool enabled = true;
};

void Assign(const Encoder& e) {
  EngineBlock::EncoderEnabled.Set(e.index, e.enabled ? 1 : 0);
  EngineBlock::EncoderPinA.Set(e.index, e.pinA);
  EngineBlock::EncoderPinB.Set(e.index, e.pinB);
  EngineBlock::EncoderPortA.Set(e.index, e.portA);
  EngineBlock::EncoderPortB.Set(e.index, e.portB);
}

std::vector<int> UsedInputChannels(const ConfigRecord& record) {
  std::vector<int> used;
  for (int c = 0; c < kInputChannelCount; ++c) {
    if (record.Get(ConfigField::InputPin, c) != 0) used.push_back(c);
  }
  return used;
}

struct InputCase {
  const char* description;
  InputSignal signal;
  int channel;  // -1: no channel at all
  std::uint8_t pin;
  bool inverted;
};

class InputChannels : public PluginTest, public ::testing::WithParamInterface<InputCase> {};

INSTANTIATE_TEST_SUITE_P(
    Signals, InputChannels,
    ::testing::Values(
        InputCase{"HomeX on port 1 pin 10 active low", {kHomeX, 10, 1, true}, 0, 10, true},
        InputCase{"HomeX on port 2", {kHomeX, 10, 2, true}, -1, 0, false},
        InputCase{"HomeX disabled", {kHomeX, 10, 1, false, false, false}, -1, 0, false},
        InputCase{"LimitX- active high", {kLimitXMinus, 7}, 6, 7, false},
        InputCase{"LimitX+", {kLimitXPlus, 8}, 12, 8, false}, InputCase{"Probe", {kProbe, 5}, 18, 5, false},
        InputCase{"emulated Probe", {kProbe, 5, 1, false, true}, -1, 0, false},
        InputCase{"Index", {kIndex, 6}, 19, 6, false}, InputCase{"Timing", {kTiming, 9, 1, true}, 20, 9, true},
        InputCase{"ESTOP", {kEStop, 11}, 21, 11, false}, InputCase{"THC down", {kThcDown, 32}, 24, 32, false},
        InputCase{"pin above the controller's 32", {kHomeX, 33, 1, true}, -1, 0, false},
        InputCase{"pin 0", {kHomeX, 0, 1, true}, -1, 0, false},
        InputCase{"negative pin", {kHomeX, -4, 1, true}, -1, 0, false}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

TEST_P(InputChannels, OnlyControllerPinsOnPort1GetTheirChannel) {
  const InputCase& c = GetParam();
  Assign(c.signal);
  ConfigRecord record;
  std::array<bool, ui::kEncoderCount> wired{};
  MapInputChannels(record, wired);

  if (c.channel < 0) {
    EXPECT_TRUE(UsedInputChannels(record).empty()) << c.description;
    EXPECT_EQ(record.Get(ConfigField::InputEnable), 0u) << c.description;
    EXPECT_EQ(record.Get(ConfigField::InputInvert), 0u) << c.description;
    return;
  }
  EXPECT_EQ(UsedInputChannels(record), std::vector<int>{c.channel}) << c.description;
  EXPECT_EQ(record.Get(ConfigField::InputPin, c.channel), c.pin) << c.description;
  EXPECT_EQ(record.Get(ConfigField::InputEnable), 1u << c.channel) << c.description;
  EXPECT_EQ(record.Get(ConfigField::InputInvert), c.inverted ? 1u << c.channel : 0u) << c.description;
}

struct EncoderCase {
  const char* description;
  Encoder encoder;
  bool wired;
};

class EncoderChannels : public PluginTest, public ::testing::WithParamInterface<EncoderCase> {};

INSTANTIATE_TEST_SUITE_P(Encoders, EncoderChannels,
                         ::testing::Values(EncoderCase{"Encoder1 on port 1", {0, 3, 4}, true},
                                           EncoderCase{"MPG3 on port 1", {6, 31, 32}, true},
                                           EncoderCase{"A on port 1, B on port 2", {0, 3, 4, 1, 2}, false},
                                           EncoderCase{"A on port 2", {2, 3, 4, 2, 1}, false},
                                           EncoderCase{"disabled", {1, 3, 4, 1, 1, false}, false},
                                           EncoderCase{"pin above 32", {1, 3, 40}, false},
                                           // The low byte of 257 would be pin 1.
                                           EncoderCase{"pin 257", {1, 257, 4}, false}),
                         [](const auto& info) { return "case" + std::to_string(info.index); });

TEST_P(EncoderChannels, WiredEncodersGetAAndBChannels) {
  const EncoderCase& c = GetParam();
  Assign(c.encoder);
  ConfigRecord record;
  std::array<bool, ui::kEncoderCount> wired{};
  wired.fill(true);
  MapInputChannels(record, wired);

  std::array<bool, ui::kEncoderCount> expectedWired{};
  expectedWired[c.encoder.index] = c.wired;
  EXPECT_EQ(wired, expectedWired) << c.description;
  const int a = kEncoderAChannel + c.encoder.index;
  const int b = kEncoderBChannel + c.encoder.index;
  if (!c.wired) {
    EXPECT_TRUE(UsedInputChannels(record).empty()) << c.description;
    EXPECT_EQ(record.Get(ConfigField::InputEnable), 0u) << c.description;
    return;
  }
  EXPECT_EQ(UsedInputChannels(record), (std::vector<int>{a, b})) << c.description;
  EXPECT_EQ(record.Get(ConfigField::InputPin, a), c.encoder.pinA) << c.description;
  EXPECT_EQ(record.Get(ConfigField::InputPin, b), c.encoder.pinB) << c.description;
  // The B channels lie beyond the 32-bit masks.
  EXPECT_EQ(record.Get(ConfigField::InputEnable), 1u << a) << c.description;
  EXPECT_EQ(record.Get(ConfigField::InputInvert), 0u) << c.description;
}

struct AxisOutput {
  int axis;
  std::uint8_t stepPin;
  std::uint8_t dirPin;
  bool stepActiveLow = false;
  bool dirActiveLow = false;
  bool dirFlip = false;
  std::uint8_t port = 1;
  bool enabled = true;
};

void Assign(const AxisOutput& o) {
  EngineBlock::AxisEnabled.Set(o.axis, o.enabled ? 1 : 0);
  EngineBlock::AxisStepPort.Set(o.axis, o.port);
  EngineBlock::AxisStepPin.Set(o.axis, o.stepPin);
  EngineBlock::AxisDirPin.Set(o.axis, o.dirPin);
  EngineBlock::AxisStepActiveLow.Set(o.axis, o.stepActiveLow ? 1 : 0);
  EngineBlock::AxisDirActiveLow.Set(o.axis, o.dirActiveLow ? 1 : 0);
  EngineBlock::AxisDirFlip.Set(o.axis, o.dirFlip ? 1 : 0);
}

struct AxisOutputCase {
  const char* description;
  AxisOutput output;
  std::uint32_t enable;
  std::uint32_t invert;
};

constexpr std::uint32_t Bits(std::initializer_list<int> channels) {
  std::uint32_t bits = 0;
  for (int c : channels) bits |= 1u << c;
  return bits;
}

class StepDirOutputs : public PluginTest, public ::testing::WithParamInterface<AxisOutputCase> {};

INSTANTIATE_TEST_SUITE_P(
    Axes, StepDirOutputs,
    ::testing::Values(
        AxisOutputCase{"Y direction inverted twice cancels", {1, 3, 4, false, true, true}, Bits({1, 8}), 0},
        AxisOutputCase{"Y direction active low", {1, 3, 4, false, true, false}, Bits({1, 8}), Bits({8})},
        AxisOutputCase{"Y direction flipped", {1, 3, 4, false, false, true}, Bits({1, 8}), Bits({8})},
        AxisOutputCase{"X step active low", {0, 3, 4, true}, Bits({0, 7}), Bits({0})},
        AxisOutputCase{"spindle S", {6, 12, 13}, Bits({6, 13}), 0},
        AxisOutputCase{"axis on port 2", {1, 3, 4, true, true, false, 2}, 0, 0},
        AxisOutputCase{"axis disabled", {1, 3, 4, true, true, false, 1, false}, 0, 0},
        AxisOutputCase{"direction pin 0 leaves its channel empty", {2, 5, 0, false, true}, Bits({2}), 0},
        AxisOutputCase{"step pin above 32 leaves its channel empty", {2, 40, 6, true}, Bits({9}), 0}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

TEST_P(StepDirOutputs, EnabledAxesOnPort1DriveTheirChannels) {
  const AxisOutputCase& c = GetParam();
  Assign(c.output);
  ConfigRecord record;
  MapOutputChannels(record);

  EXPECT_EQ(record.Get(ConfigField::OutputEnable), c.enable) << c.description;
  EXPECT_EQ(record.Get(ConfigField::OutputInvert), c.invert) << c.description;
  for (int channel = 0; channel < kOutputChannelCount; ++channel) {
    std::uint8_t expected = 0;
    if ((c.enable >> channel) & 1u) expected = channel == c.output.axis ? c.output.stepPin : c.output.dirPin;
    EXPECT_EQ(record.Get(ConfigField::OutputPin, channel), expected) << c.description << " channel " << channel;
  }
}

struct OutputSignal {
  int record;
  std::uint8_t pin;
  bool activeLow = false;
  std::uint8_t port = 1;
  bool enabled = true;
};

struct OtherOutputCase {
  const char* description;
  OutputSignal signal;
  bool pwm1;
  bool pwm2;
  int channel;  // -1: none
};

class OtherOutputs : public PluginTest, public ::testing::WithParamInterface<OtherOutputCase> {};

INSTANTIATE_TEST_SUITE_P(Records, OtherOutputs,
                         ::testing::Values(OtherOutputCase{"record 13", {13, 14}, false, false, 16},
                                           OtherOutputCase{"record 14 active low", {14, 15, true}, false, false, 17},
                                           OtherOutputCase{"OEM output 1", {7, 16}, false, false, 18},
                                           OtherOutputCase{"OEM output 6", {12, 17}, false, false, 23},
                                           OtherOutputCase{"record 15", {15, 18}, false, false, 24},
                                           OtherOutputCase{"PWM1 with PWME1Ena off", {28, 19}, false, true, -1},
                                           OtherOutputCase{"PWM1 with PWME1Ena on", {28, 19}, true, false, 14},
                                           OtherOutputCase{"PWM2 with PWME2Ena off", {29, 20}, true, false, -1},
                                           OtherOutputCase{"PWM2 with PWME2Ena on", {29, 20}, false, true, 15},
                                           OtherOutputCase{"record 13 on port 2", {13, 14, false, 2}, false, false, -1},
                                           OtherOutputCase{
                                               "record 13 disabled", {13, 14, false, 1, false}, false, false, -1},
                                           OtherOutputCase{"record 13 on pin 33", {13, 33}, false, false, -1},
                                           OtherOutputCase{"record 16 has no channel", {16, 14}, false, false, -1}),
                         [](const auto& info) { return "case" + std::to_string(info.index); });

TEST_P(OtherOutputs, TakeTheirFixedChannel) {
  const OtherOutputCase& c = GetParam();
  EngineBlock::OutputSignalEnabled.Set(c.signal.record, c.signal.enabled ? 1 : 0);
  EngineBlock::OutputSignalPin.Set(c.signal.record, c.signal.pin);
  EngineBlock::OutputSignalPort.Set(c.signal.record, c.signal.port);
  EngineBlock::OutputSignalActiveLow.Set(c.signal.record, c.signal.activeLow ? 1 : 0);
  ui::TheConfigDialog().specialFunctions.PWME1Ena = c.pwm1 ? 1 : 0;
  ui::TheConfigDialog().specialFunctions.PWME2Ena = c.pwm2 ? 1 : 0;
  ConfigRecord record;
  MapOutputChannels(record);

  if (c.channel < 0) {
    EXPECT_EQ(record.Get(ConfigField::OutputEnable), 0u) << c.description;
    for (int channel = 0; channel < kOutputChannelCount; ++channel) {
      EXPECT_EQ(record.Get(ConfigField::OutputPin, channel), 0) << c.description;
    }
    return;
  }
  EXPECT_EQ(record.Get(ConfigField::OutputPin, c.channel), c.signal.pin) << c.description;
  EXPECT_EQ(record.Get(ConfigField::OutputEnable), 1u << c.channel) << c.description;
  EXPECT_EQ(record.Get(ConfigField::OutputInvert), c.signal.activeLow ? 1u << c.channel : 0u) << c.description;
}

TEST(DebounceTicks, MicrosecondsInTicksOf20_48) {
  struct Case {
    std::int32_t microseconds;
    std::uint16_t ticks;
  } cases[] = {{3000, 146},
               {0, 0},
               {1000000, 48828},
               {100, 4},
               {20, 0},
               {21, 1},
               {1342177, 65535},  // 65535.98 ticks, the most the table holds
               // Outside the pages' range: limited rather than wrapped.
               {1342198, 65535},
               {std::numeric_limits<std::int32_t>::max(), 65535},
               {-5, 0},
               {std::numeric_limits<std::int32_t>::min(), 0}};
  for (const Case& c : cases) EXPECT_EQ(DebounceTicks(c.microseconds), c.ticks) << c.microseconds;
}

// Distinct times per function, in ticks: other 4, home 9, limit 14, probe 19,
// index 24, encoder 29.
void UseDistinctDebounceTimes() {
  ui::InputFilterPage& filters = ui::TheConfigDialog().inputFilter;
  filters.OtherDebounce = 100;
  filters.HomeDebounce = 200;
  filters.LimitDebounce = 300;
  filters.ProbeDebounce = 400;
  filters.IndexDebounce = 500;
  filters.EncDebounce = 600;
}

struct DebounceCase {
  const char* description;
  std::vector<InputSignal> signals;
  std::vector<Encoder> encoders;
  int pin;
  std::uint16_t ticks;
};

class DebounceTable : public PluginTest, public ::testing::WithParamInterface<DebounceCase> {};

INSTANTIATE_TEST_SUITE_P(
    Assignments, DebounceTable,
    ::testing::Values(DebounceCase{"unassigned pin", {}, {}, 12, 4},
                      DebounceCase{"home pin", {{kHomeX, 10}}, {}, 10, 9},
                      DebounceCase{"home signal on port 2", {{kHomeX, 10, 2}}, {}, 10, 4},
                      DebounceCase{
                          "limit wins over home on a shared pin", {{kLimitXMinus, 10}, {kHomeX, 10}}, {}, 10, 14},
                      DebounceCase{"probe wins over limit", {{kLimitXPlus, 3}, {kProbe, 3}}, {}, 3, 19},
                      DebounceCase{"index wins over probe", {{kIndex, 3}, {kProbe, 3}}, {}, 3, 24},
                      DebounceCase{"encoder B wins over index", {{kIndex, 3}}, {{0, 2, 3}}, 3, 29},
                      DebounceCase{"encoder A", {}, {{5, 31, 32}}, 31, 29},
                      DebounceCase{"ESTOP and THC keep the other time", {{kEStop, 7}, {kThcDown, 8}}, {}, 7, 4},
                      DebounceCase{"unwired encoder keeps the other time", {}, {{0, 2, 3, 1, 2}}, 2, 4}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

TEST_P(DebounceTable, ByFunctionTheLaterAssignmentWins) {
  const DebounceCase& c = GetParam();
  UseDistinctDebounceTimes();
  for (const InputSignal& s : c.signals) Assign(s);
  for (const Encoder& e : c.encoders) Assign(e);
  ConfigRecord record;
  std::array<bool, ui::kEncoderCount> wired{};
  MapInputChannels(record, wired);
  BuildDebounceTable(record);
  EXPECT_EQ(record.Get(ConfigField::Debounce, c.pin - 1), c.ticks) << c.description;
}

TEST_F(PinMap, PerPinTimesOverrideOnlyTheirPins) {
  Assign(InputSignal{kHomeX, 4});
  Assign(InputSignal{kLimitXMinus, 10});
  ui::InputFilterPage& filters = ui::TheConfigDialog().inputFilter;
  filters.DebPin[3].enabled = 1;
  filters.DebPin[3].time = 100;
  filters.DebPin[20].time = 5000;  // not enabled

  for (const bool byPin : {false, true}) {
    filters.DebounceByPin = byPin ? 1 : 0;
    ConfigRecord record;
    std::array<bool, ui::kEncoderCount> wired{};
    MapInputChannels(record, wired);
    BuildDebounceTable(record);
    for (int pin = 1; pin <= kLastControllerPin; ++pin) {
      const std::uint16_t expected = byPin && pin == 4 ? 4 : 146;
      EXPECT_EQ(record.Get(ConfigField::Debounce, pin - 1), expected) << "by pin " << byPin << ", pin " << pin;
    }
  }
}

TEST_F(PinMap, FilteredEncodersAreNotDebounced) {
  Assign(Encoder{0, 5, 6});
  Assign(Encoder{1, 7, 8, 1, 2});  // not wired
  Assign(Encoder{4, 9, 10});
  ui::InputFilterPage& filters = ui::TheConfigDialog().inputFilter;
  filters.EncDebounce = 600;  // 29 ticks
  filters.DebounceByPin = 1;
  filters.DebPin[4].enabled = 1;  // pin 5: the filter still wins
  filters.DebPin[4].time = 100;
  filters.EncFilt[0] = 3;
  filters.EncFilt[1] = 5;
  filters.EncFilt[4] = 0x100;  // low byte 0: no filter

  ConfigRecord record;
  std::array<bool, ui::kEncoderCount> wired{};
  MapInputChannels(record, wired);
  BuildDebounceTable(record);
  SwitchOffFilteredEncoderDebounce(record);

  std::array<std::uint16_t, kDebouncePinCount> expected{};
  expected.fill(146);
  expected[4] = expected[5] = 0;
  expected[8] = expected[9] = 29;
  for (int k = 0; k < kDebouncePinCount; ++k) EXPECT_EQ(record.Get(ConfigField::Debounce, k), expected[k]) << k + 1;
}

}  // namespace
}  // namespace veltra::config

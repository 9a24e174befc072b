#include "config/pin_map.h"

#include "plugin/host_blocks.h"
#include "plugin/numeric.h"
#include "ui/config_dialog.h"

namespace veltra::config {
namespace {

constexpr double kTicksPerMicrosecond = 0.048828125;  // 1 / 20.48

// Host input signal of each input channel 0 to 24; the order is also the bit
// order of the emulated-input word.
constexpr std::array<int, 25> kInputChannelSignals{
    2,  5,  8,  11, 14, 17,  // HomeX .. HomeC
    1,  4,  7,  10, 13, 16,  // LimitX- .. LimitsC-
    0,  3,  6,  9,  12, 15,  // LimitX+ .. LimitsC+
    22,                      // Probe
    23,                      // Index
    44,                      // Timing
    25,                      // ESTOP
    26, 27, 28,              // THC on, THC up, THC down
};
constexpr int kFirstLimitChannel = 6;
constexpr int kLastLimitChannel = 17;
constexpr int kProbeChannel = 18;
constexpr int kIndexChannel = 19;

constexpr int kDirectionChannel = 7;  // + axis; the step channel is the axis itself

struct OutputRoute {
  int record;
  int channel;
};
// In the order they are taken; the two extended PWM outputs only when on.
constexpr OutputRoute kOutputRoutes[] = {{13, 16}, {14, 17}, {7, 18},  {8, 19},  {9, 20}, {10, 21},
                                         {11, 22}, {12, 23}, {28, 14}, {29, 15}, {15, 24}};
constexpr int kExtendedPwm1Record = 28;
constexpr int kExtendedPwm2Record = 29;

constexpr int kMaskBits = 32;  // channels from 32 on have a pin but no mask bits

constexpr bool IsControllerPin(std::int64_t pin) { return pin >= kFirstControllerPin && pin <= kLastControllerPin; }

constexpr std::uint32_t Bit(int channel) { return std::uint32_t{1} << channel; }

// A channel whose pin the controller does not have stays empty: pin 0, no
// enable or invert bit, no debounce entry.
void TakeInput(ConfigRecord& record, int channel, std::int64_t pin, bool activeLow) {
  if (!IsControllerPin(pin)) return;
  record.Set(ConfigField::InputPin, channel, static_cast<std::uint8_t>(pin));
  if (channel >= kMaskBits) return;
  record.Set(ConfigField::InputEnable, record.Get(ConfigField::InputEnable) | Bit(channel));
  if (activeLow) record.Set(ConfigField::InputInvert, record.Get(ConfigField::InputInvert) | Bit(channel));
}

void TakeOutput(ConfigRecord& record, int channel, std::int64_t pin, bool inverted) {
  if (!IsControllerPin(pin)) return;
  record.Set(ConfigField::OutputPin, channel, static_cast<std::uint8_t>(pin));
  record.Set(ConfigField::OutputEnable, record.Get(ConfigField::OutputEnable) | Bit(channel));
  if (inverted) record.Set(ConfigField::OutputInvert, record.Get(ConfigField::OutputInvert) | Bit(channel));
}

void SetPinDebounce(ConfigRecord& record, std::int64_t pin, std::uint16_t ticks) {
  if (IsControllerPin(pin)) record.Set(ConfigField::Debounce, pin - 1, ticks);
}

void SetChannelDebounce(ConfigRecord& record, int firstChannel, int lastChannel, std::uint16_t ticks) {
  for (int channel = firstChannel; channel <= lastChannel; ++channel) {
    SetPinDebounce(record, record.Get(ConfigField::InputPin, channel), ticks);
  }
}

bool RouteInUse(const OutputRoute& route) {
  const ui::SpecialFunctionsPage& page = ui::TheConfigDialog().specialFunctions;
  if (route.record == kExtendedPwm1Record) return page.PWME1Ena != 0;
  if (route.record == kExtendedPwm2Record) return page.PWME2Ena != 0;
  return true;
}

}  // namespace

std::uint16_t DebounceTicks(std::int32_t microseconds) {
  return TruncateSaturating<std::uint16_t>(microseconds * kTicksPerMicrosecond);
}

void MapInputChannels(ConfigRecord& record, std::array<bool, ui::kEncoderCount>& encoderWired) {
  for (int channel = 0; channel < kInputChannelCount; ++channel) {
    record.Set(ConfigField::InputPin, channel, std::uint8_t{0});
  }
  for (int channel = 0; channel < kOutputChannelCount; ++channel) {
    record.Set(ConfigField::OutputPin, channel, std::uint8_t{0});
  }
  record.Set(ConfigField::InputEnable, std::uint32_t{0});
  record.Set(ConfigField::InputInvert, std::uint32_t{0});

  for (int channel = 0; channel < static_cast<int>(kInputChannelSignals.size()); ++channel) {
    const int signal = kInputChannelSignals[channel];
    const bool reachesController = EngineBlock::InputSignalEnabled.Get(signal) != 0 &&
                                   EngineBlock::InputSignalPort.Get(signal) == kControllerPort &&
                                   EngineBlock::InputSignalEmulated.Get(signal) == 0;
    if (!reachesController) continue;
    TakeInput(record, channel, EngineBlock::InputSignalPin.Get(signal),
              EngineBlock::InputSignalActiveLow.Get(signal) != 0);
  }

  for (int k = 0; k < ui::kEncoderCount; ++k) {
    const std::int32_t pinA = EngineBlock::EncoderPinA.Get(k);
    const std::int32_t pinB = EngineBlock::EncoderPinB.Get(k);
    encoderWired[k] = EngineBlock::EncoderEnabled.Get(k) != 0 && EngineBlock::EncoderPortA.Get(k) == kControllerPort &&
                      EngineBlock::EncoderPortB.Get(k) == kControllerPort && IsControllerPin(pinA) &&
                      IsControllerPin(pinB);
    if (!encoderWired[k]) continue;
    TakeInput(record, kEncoderAChannel + k, pinA, false);
    TakeInput(record, kEncoderBChannel + k, pinB, false);
  }
}

void MapOutputChannels(ConfigRecord& record) {
  record.Set(ConfigField::OutputEnable, std::uint32_t{0});
  record.Set(ConfigField::OutputInvert, std::uint32_t{0});

  for (int axis = 0; axis < kAxisConfigCount; ++axis) {
    if (EngineBlock::AxisStepPort.Get(axis) != kControllerPort || EngineBlock::AxisEnabled.Get(axis) == 0) continue;
    TakeOutput(record, axis, EngineBlock::AxisStepPin.Get(axis), EngineBlock::AxisStepActiveLow.Get(axis) != 0);
    // The direction is inverted when exactly one of the two flags is set.
    const bool dirInverted =
        (EngineBlock::AxisDirActiveLow.Get(axis) != 0) != (EngineBlock::AxisDirFlip.Get(axis) != 0);
    TakeOutput(record, kDirectionChannel + axis, EngineBlock::AxisDirPin.Get(axis), dirInverted);
  }

  for (const OutputRoute& route : kOutputRoutes) {
    if (!RouteInUse(route)) continue;
    if (EngineBlock::OutputSignalPort.Get(route.record) != kControllerPort ||
        EngineBlock::OutputSignalEnabled.Get(route.record) == 0) {
      continue;
    }
    TakeOutput(record, route.channel, EngineBlock::OutputSignalPin.Get(route.record),
               EngineBlock::OutputSignalActiveLow.Get(route.record) != 0);
  }
}

void BuildDebounceTable(ConfigRecord& record) {
  const ui::InputFilterPage& filters = ui::TheConfigDialog().inputFilter;
  const std::uint16_t other = DebounceTicks(filters.OtherDebounce);
  for (int k = 0; k < kDebouncePinCount; ++k) record.Set(ConfigField::Debounce, k, other);

  // Later assignments win where channels share a pin.
  SetChannelDebounce(record, 0, kFirstLimitChannel - 1, DebounceTicks(filters.HomeDebounce));
  SetChannelDebounce(record, kFirstLimitChannel, kLastLimitChannel, DebounceTicks(filters.LimitDebounce));
  SetChannelDebounce(record, kProbeChannel, kProbeChannel, DebounceTicks(filters.ProbeDebounce));
  SetChannelDebounce(record, kIndexChannel, kIndexChannel, DebounceTicks(filters.IndexDebounce));
  SetChannelDebounce(record, kEncoderAChannel, kEncoderBChannel + ui::kEncoderCount - 1,
                     DebounceTicks(filters.EncDebounce));

  if (filters.DebounceByPin == 0) return;
  for (int k = 0; k < kDebouncePinCount; ++k) {
    if (filters.DebPin[k].enabled != 0) record.Set(ConfigField::Debounce, k, DebounceTicks(filters.DebPin[k].time));
  }
}

void SwitchOffFilteredEncoderDebounce(ConfigRecord& record) {
  const ui::InputFilterPage& filters = ui::TheConfigDialog().inputFilter;
  for (int e = 0; e < ui::kEncoderCount; ++e) {
    if ((filters.EncFilt[e] & 0xFF) == 0) continue;
    SetPinDebounce(record, record.Get(ConfigField::InputPin, kEncoderAChannel + e), 0);
    SetPinDebounce(record, record.Get(ConfigField::InputPin, kEncoderBChannel + e), 0);
  }
}

}  // namespace veltra::config

// The host's pin assignments in the controller's channel view: which
// controller pin serves each fixed input and output channel, which channels
// are in use and inverted, and how long each pin is debounced. Only signals
// on port 1, the controller's port, and on its pins 1 to 32 get a channel.
#pragma once

#include <array>
#include <cstdint>

#include "config/config_record.h"

namespace veltra::config {

inline constexpr int kFirstControllerPin = 1;
inline constexpr int kLastControllerPin = 32;
inline constexpr int kControllerPort = 1;
inline constexpr int kEncoderAChannel = 25;  // + encoder index
inline constexpr int kEncoderBChannel = 32;  // + encoder index; no mask bits

// Microseconds in controller debounce ticks of 20.48 us, truncated, limited
// to what the table's 16 bits hold (a negative time gives 0).
std::uint16_t DebounceTicks(std::int32_t microseconds);

// Clears the channel map, then takes input channels 0 to 24 from the host
// input signals and channels 25 to 38 from the encoder records; sets the
// wired flag of every encoder.
void MapInputChannels(ConfigRecord& record, std::array<bool, ui::kEncoderCount>& encoderWired);

// Step, direction and the other output channels with their masks.
void MapOutputChannels(ConfigRecord& record);

// The debounce of every pin: by function, then by pin when the user asked
// for per-pin times. Needs the input channels mapped.
void BuildDebounceTable(ConfigRecord& record);

// Pins of encoders with a digital filter are not debounced.
void SwitchOffFilteredEncoderDebounce(ConfigRecord& record);

}  // namespace veltra::config

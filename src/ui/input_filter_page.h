// Input filter page: debounce times by function and by pin, encoder filters.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace veltra::ui {

inline constexpr int kControllerInputPins = 32;
inline constexpr int kEncoderCount = 7;  // Encoder1..4, MPG1..3

// One per controller input pin; enabled and time are persisted as
// DebPin<k>_ena and DebPin<k>_time, the info text and its colour are the
// page's own.
struct PinFilterRecord {
  std::int32_t enabled = 0;
  std::int32_t time = 0;  // microseconds
  std::string info;
  std::uint32_t infoColour = 0;
};

struct InputFilterPage {
  std::int32_t LimitDebounce = 3000;  // microseconds
  std::int32_t HomeDebounce = 3000;
  std::int32_t ProbeDebounce = 3000;
  std::int32_t IndexDebounce = 0;
  std::int32_t EncDebounce = 0;
  std::int32_t OtherDebounce = 3000;
  std::int32_t DebounceByPin = 0;
  std::array<PinFilterRecord, kControllerInputPins> DebPin{};
  std::array<std::int32_t, kEncoderCount> EncFilt{};
};

}  // namespace veltra::ui

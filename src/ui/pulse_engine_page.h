// Pulse engine page: per step output X, Y, Z, A, B, C and the spindle S.
#pragma once

#include <array>
#include <cstdint>

namespace veltra::ui {

inline constexpr int kStepOutputCount = 7;

struct PulseEnginePage {
  std::array<std::int32_t, kStepOutputCount> MaxFreq{5000000, 5000000, 5000000, 5000000,
                                                     5000000, 5000000, 5000000};  // Hz
  std::array<std::int32_t, kStepOutputCount> StepW{100, 100, 100, 100, 100, 100, 100};  // ns
  std::array<std::int32_t, kStepOutputCount> PulseMode{};
};

}  // namespace veltra::ui

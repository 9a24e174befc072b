// The real-to-integer conversion every subsystem shares: truncation toward zero,
// saturating at the target's limits, with NaN taken as 0. A division by a
// zero setting or a huge profile value then gives a bounded number instead of
// undefined behaviour.
#pragma once

#include <cmath>
#include <concepts>
#include <cstdint>
#include <limits>

namespace veltra {

template <std::integral Int>
constexpr Int TruncateSaturating(double value) {
  if (std::isnan(value)) return 0;
  if (value <= static_cast<double>(std::numeric_limits<Int>::min())) return std::numeric_limits<Int>::min();
  // The maximum of a 64-bit type is not exact as a double; compare against
  // the power of two just above it.
  constexpr double kAboveMax = static_cast<double>(std::numeric_limits<Int>::max() / 2 + 1) * 2.0;
  if (value >= kAboveMax) return std::numeric_limits<Int>::max();
  return static_cast<Int>(value);
}

// Real-to-single conversion: rounds to single precision as the hardware
// does, but a finite value beyond the single range becomes the largest
// single of its sign instead of invoking undefined behaviour.
constexpr float NarrowToFloat(double value) {
  constexpr double kMax = std::numeric_limits<float>::max();
  if (value > kMax && value != std::numeric_limits<double>::infinity()) return std::numeric_limits<float>::max();
  if (value < -kMax && value != -std::numeric_limits<double>::infinity()) return -std::numeric_limits<float>::max();
  return static_cast<float>(value);
}

// Differences and sums of free-running 32-bit counters wrap, as the
// counters do.
constexpr std::int32_t WrappingDifference(std::int32_t a, std::int32_t b) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) - static_cast<std::uint32_t>(b));
}
constexpr std::int32_t WrappingSum(std::int32_t a, std::int32_t b) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}

}  // namespace veltra

// The laser ramp power compensation curve: duty in percent over feed in
// percent of a nominal feed rate.
#pragma once

#include <array>
#include <cstdint>

namespace veltra::settings {

inline constexpr int kRampCurveMaxPoints = 20;

struct RampCurve {
  std::int32_t LCurveCnt = 2;
  std::array<double, kRampCurveMaxPoints> feed{0.0, 100.0};  // LCurveX<i>
  std::array<double, kRampCurveMaxPoints> duty{0.0, 100.0};  // LCurveY<i>
  double LMaxFeed = 1000.0;
};

}  // namespace veltra::settings

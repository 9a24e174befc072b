// Natural cubic spline through the points of a ramp curve: duty in percent
// over feed in percent. The upload fits the process-wide one at every reset;
// the curve editor fits its own whenever it redraws.
#pragma once

#include <array>

#include "settings/ramp_curve.h"

namespace veltra::settings {

class CurveSpline {
 public:
  // An end slope above kNaturalEndThreshold asks for a natural end (second
  // derivative 0); every caller passes kNaturalEnd for both ends.
  static constexpr double kNaturalEnd = 1e30;
  static constexpr double kNaturalEndThreshold = 0.99e30;

  // Fits through the curve's first LCurveCnt points (at most the 20 the
  // record holds). The knots are kept strictly ascending in feed: a point at
  // or left of an earlier one replaces it, so two points with equal feed keep
  // the later one and no interval has zero width. Points with a non-finite
  // feed are left out.
  void Fit(const RampCurve& curve, double startSlope = kNaturalEnd, double endSlope = kNaturalEnd);

  // The duty at feed x: the last knot's duty from the last knot's feed on,
  // the cubic of the first interval below the second knot (extrapolating
  // below the first), unlimited. With one knot its duty; with none, 0.
  double Evaluate(double x) const;

  int KnotCount() const { return count_; }

 private:
  int count_ = 0;
  std::array<double, kRampCurveMaxPoints> x_{};
  std::array<double, kRampCurveMaxPoints> y_{};
  std::array<double, kRampCurveMaxPoints> y2_{};
};

}  // namespace veltra::settings

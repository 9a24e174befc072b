#include "settings/curve_spline.h"

#include <algorithm>
#include <cmath>

namespace veltra::settings {

void CurveSpline::Fit(const RampCurve& curve, double startSlope, double endSlope) {
  const int points = std::clamp(curve.LCurveCnt, 0, kRampCurveMaxPoints);
  count_ = 0;
  for (int i = 0; i < points; ++i) {
    const double feed = curve.feed[i];
    if (!std::isfinite(feed)) continue;
    while (count_ > 0 && !(x_[count_ - 1] < feed)) --count_;
    x_[count_] = feed;
    y_[count_] = curve.duty[i];
    ++count_;
  }
  y2_.fill(0.0);
  const int n = count_;
  if (n < 2) return;

  // The classic tridiagonal set-up in the second derivatives at the knots.
  std::array<double, kRampCurveMaxPoints> u{};
  if (startSlope > kNaturalEndThreshold) {
    y2_[0] = 0.0;
    u[0] = 0.0;
  } else {
    const double h = x_[1] - x_[0];
    y2_[0] = -0.5;
    u[0] = (3.0 / h) * ((y_[1] - y_[0]) / h - startSlope);
  }
  for (int i = 1; i < n - 1; ++i) {
    const double sig = (x_[i] - x_[i - 1]) / (x_[i + 1] - x_[i - 1]);
    const double p = sig * y2_[i - 1] + 2.0;
    y2_[i] = (sig - 1.0) / p;
    const double slopeChange = (y_[i + 1] - y_[i]) / (x_[i + 1] - x_[i]) - (y_[i] - y_[i - 1]) / (x_[i] - x_[i - 1]);
    u[i] = (6.0 * slopeChange / (x_[i + 1] - x_[i - 1]) - sig * u[i - 1]) / p;
  }
  double qn = 0.0;
  double un = 0.0;
  if (!(endSlope > kNaturalEndThreshold)) {
    const double h = x_[n - 1] - x_[n - 2];
    qn = 0.5;
    un = (3.0 / h) * (endSlope - (y_[n - 1] - y_[n - 2]) / h);
  }
  y2_[n - 1] = (un - qn * u[n - 2]) / (qn * y2_[n - 2] + 1.0);
  for (int i = n - 2; i >= 0; --i) y2_[i] = y2_[i] * y2_[i + 1] + u[i];
}

double CurveSpline::Evaluate(double x) const {
  if (count_ == 0) return 0.0;
  const int n = count_;
  if (n == 1 || x >= x_[n - 1]) return y_[n - 1];
  int lo = 0;
  int hi = n - 1;
  while (hi - lo > 1) {
    const int k = (hi + lo) / 2;
    if (x < x_[k]) {
      hi = k;
    } else {
      lo = k;
    }
  }
  const double h = x_[hi] - x_[lo];
  const double a = (x_[hi] - x) / h;
  const double b = (x - x_[lo]) / h;
  return a * y_[lo] + b * y_[hi] + ((a * a * a - a) * y2_[lo] + (b * b * b - b) * y2_[hi]) * (h * h) / 6.0;
}

}  // namespace veltra::settings

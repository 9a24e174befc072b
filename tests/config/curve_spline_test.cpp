#include "settings/curve_spline.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <utility>
#include <vector>

namespace veltra::settings {
namespace {

RampCurve Curve(const std::vector<std::pair<double, double>>& points) {
  RampCurve curve;
  curve.LCurveCnt = static_cast<std::int32_t>(points.size());
  for (std::size_t i = 0; i < points.size(); ++i) {
    curve.feed[i] = points[i].first;
    curve.duty[i] = points[i].second;
  }
  return curve;
}

const RampCurve kStartCurve{};
const RampCurve kThreePoints = Curve({{0, 0}, {50, 80}, {100, 100}});

struct EvaluationCase {
  const char* description;
  RampCurve curve;
  double x;
  double expected;
};

class SplineEvaluation : public ::testing::TestWithParam<EvaluationCase> {};

// Expected values of the three-point curve by hand: the natural spline has
// y2 = 0, -0.036, 0 at the knots.
INSTANTIATE_TEST_SUITE_P(Curves, SplineEvaluation,
                         ::testing::Values(EvaluationCase{"start curve at 0", kStartCurve, 0.0, 0.0},
                                           EvaluationCase{"start curve is the identity", kStartCurve, 37.5, 37.5},
                                           EvaluationCase{"start curve just below its end", kStartCurve, 99.9, 99.9},
                                           EvaluationCase{"start curve at its end", kStartCurve, 100.0, 100.0},
                                           EvaluationCase{"start curve above its end", kStartCurve, 150.0, 100.0},
                                           EvaluationCase{"three points on the middle knot", kThreePoints, 50.0, 80.0},
                                           EvaluationCase{"three points between knots", kThreePoints, 25.0, 45.625},
                                           EvaluationCase{"three points right interval", kThreePoints, 75.0, 95.625},
                                           EvaluationCase{"three points above the end", kThreePoints, 150.0, 100.0},
                                           EvaluationCase{"below the first knot extrapolates", kThreePoints, -10.0,
                                                          -18.88}),
                         [](const auto& info) { return "case" + std::to_string(info.index); });

TEST_P(SplineEvaluation, FollowsTheNaturalCubic) {
  const EvaluationCase& c = GetParam();
  CurveSpline spline;
  spline.Fit(c.curve);
  EXPECT_NEAR(spline.Evaluate(c.x), c.expected, 1e-9) << c.description;
}

// A clamped spline through points of a parabola, given the parabola's end
// slopes, is the parabola itself; natural ends bend away from it.
TEST(SplineEndSlopes, GivenSlopesClampTheEnds) {
  const RampCurve parabola = Curve({{0, 0}, {50, 25}, {100, 100}});  // x * x / 100
  CurveSpline clamped;
  clamped.Fit(parabola, 0.0, 2.0);
  for (double x : {10.0, 25.0, 75.0, 90.0}) EXPECT_NEAR(clamped.Evaluate(x), x * x / 100, 1e-9) << x;

  CurveSpline natural;
  natural.Fit(parabola, CurveSpline::kNaturalEnd, 0.995e30);
  EXPECT_GT(std::abs(natural.Evaluate(25.0) - 6.25), 0.5);
}

struct GuardCase {
  const char* description;
  RampCurve curve;
  RampCurve equivalent;  // the curve it must evaluate like
};

RampCurve WithCount(RampCurve curve, std::int32_t count) {
  curve.LCurveCnt = count;
  return curve;
}

RampCurve TwentyPointIdentity() {
  RampCurve curve;
  curve.LCurveCnt = kRampCurveMaxPoints;
  for (int i = 0; i < kRampCurveMaxPoints; ++i) curve.feed[i] = curve.duty[i] = i * 100.0 / (kRampCurveMaxPoints - 1);
  return curve;
}

class SplineGuard : public ::testing::TestWithParam<GuardCase> {};

INSTANTIATE_TEST_SUITE_P(
    Curves, SplineGuard,
    ::testing::Values(
        GuardCase{"equal feeds keep the later point", Curve({{0, 0}, {50, 20}, {50, 80}, {100, 100}}), kThreePoints},
        GuardCase{"equal feeds at the end keep the last duty", Curve({{0, 0}, {50, 80}, {100, 90}, {100, 100}}),
                  kThreePoints},
        GuardCase{"a point left of an earlier one replaces it", Curve({{0, 0}, {70, 10}, {50, 80}, {100, 100}}),
                  kThreePoints},
        GuardCase{"a non-finite feed is left out",
                  Curve({{0, 0}, {std::numeric_limits<double>::quiet_NaN(), 5}, {50, 80}, {100, 100}}), kThreePoints},
        GuardCase{"a count above 20 uses the 20 points held", WithCount(TwentyPointIdentity(), 500),
                  TwentyPointIdentity()},
        GuardCase{"all feeds equal leave the last point", Curve({{50, 10}, {50, 30}}), Curve({{50, 30}, {150, 30}})}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

TEST_P(SplineGuard, EvaluatesLikeItsStrictlyAscendingEquivalent) {
  const GuardCase& c = GetParam();
  CurveSpline guarded;
  guarded.Fit(c.curve);
  CurveSpline expected;
  expected.Fit(c.equivalent);
  for (double x = -20.0; x <= 120.0; x += 2.5) {
    const double value = guarded.Evaluate(x);
    ASSERT_TRUE(std::isfinite(value)) << c.description << " at " << x;
    EXPECT_NEAR(value, expected.Evaluate(x), 1e-9) << c.description << " at " << x;
  }
}

TEST(SplineGuard, TooFewPointsGiveAConstant) {
  struct Case {
    std::int32_t count;
    double expected;
  } cases[] = {{1, 40.0}, {0, 0.0}, {-3, 0.0}};
  for (const Case& c : cases) {
    CurveSpline spline;
    spline.Fit(WithCount(Curve({{20, 40}, {100, 100}}), c.count));
    for (double x : {-10.0, 20.0, 60.0, 200.0}) EXPECT_EQ(spline.Evaluate(x), c.expected) << c.count << " at " << x;
  }
}

}  // namespace
}  // namespace veltra::settings

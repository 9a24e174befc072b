#include "gcode.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace veltra::hoststub {
namespace {

constexpr double kSteps = 1000.0;

MotorTuning Tuning() {
  MotorTuning tuning;
  tuning.stepsPerUnit = {kSteps, kSteps, kSteps, kSteps, 0.0, 0.0};
  tuning.maxVelocity = {50.0, 40.0, 20.0, 90.0, 0.0, 0.0};
  tuning.acceleration = {500.0, 400.0, 200.0, 900.0, 0.0, 0.0};
  return tuning;
}

// Every sample of the program in units, the start first.
std::vector<AxisValues> Samples(const Program& program, const AxisValues& start, const MotorTuning& tuning) {
  std::vector<AxisValues> samples{start};
  for (const ProgramStep& step : program.steps) {
    const auto* move = std::get_if<Move>(&step);
    if (!move) continue;
    MoveSampler sampler(*move, tuning.stepsPerUnit);
    AxisValues steps{};
    while (sampler.Next(steps)) {
      AxisValues units{};
      for (int a = 0; a < kPlannedAxes; ++a)
        units[a] = tuning.stepsPerUnit[a] > 0 ? steps[a] / tuning.stepsPerUnit[a] : 0;
      samples.push_back(units);
    }
  }
  return samples;
}

Program Plan(const std::vector<std::string>& lines, const AxisValues& start = {}, const AxisValues& offset = {},
             const MotorTuning& tuning = Tuning()) {
  Program program;
  std::string error;
  EXPECT_TRUE(PlanProgram(lines, start, offset, tuning, program, error)) << error;
  return program;
}

TEST(GcodePlanner, MovesEndWhereTheProgramSaysWithinTheMotorLimits) {
  const struct {
    std::vector<std::string> lines;
    AxisValues offset;
    AxisValues end;
    double lowX, highX, lowY, highY;  // where the path goes in XY
  } cases[] = {
      {{"G1 X10 F120"}, {}, {10, 0, 0, 0, 0, 0}, 0, 10, 0, 0},
      {{"G0 X-5 Y3 Z-2"}, {}, {-5, 3, -2, 0, 0, 0}, -5, 0, 0, 3},
      {{"G1 X0.5 F6000"}, {}, {0.5, 0, 0, 0, 0, 0}, 0, 0.5, 0, 0},
      {{"G91", "G1 X1 Y1 F600", "X1 Y1"}, {}, {2, 2, 0, 0, 0, 0}, 0, 2, 0, 2},
      {{"G20", "G1 X1 F10"}, {}, {25.4, 0, 0, 0, 0, 0}, 0, 25.4, 0, 0},
      {{"G0 X1 Y-1"}, {100, 50, 0, 0, 0, 0}, {101, 49, 0, 0, 0, 0}, 0, 101, 0, 49},
      {{"G1 A90 F3000"}, {}, {0, 0, 0, 90, 0, 0}, 0, 0, 0, 0},
      // Clockwise from the left of the centre passes above it, counter-clockwise below.
      {{"G2 X10 Y0 I5 J0 F600"}, {}, {10, 0, 0, 0, 0, 0}, 0, 10, 0, 5},
      {{"G3 X10 Y0 I5 F600"}, {}, {10, 0, 0, 0, 0, 0}, 0, 10, -5, 0},
      {{"G3 X0 Y0 I5 F600"}, {}, {0, 0, 0, 0, 0, 0}, 0, 10, -5, 5},
      {{"G2 X10 Y0 Z-1 I5 F600"}, {}, {10, 0, -1, 0, 0, 0}, 0, 10, 0, 5},
  };
  const MotorTuning tuning = Tuning();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.lines.back());
    const Program program = Plan(c.lines, {}, c.offset);
    const std::vector<AxisValues> samples = Samples(program, {}, tuning);
    ASSERT_GT(samples.size(), 2u);
    EXPECT_EQ(samples.size() - 1, program.samples);
    for (int a = 0; a < kPlannedAxes; ++a) EXPECT_NEAR(samples.back()[a], c.end[a], 1e-9) << "axis " << a;

    double lowX = 0, highX = 0, lowY = 0, highY = 0;
    for (std::size_t i = 1; i < samples.size(); ++i) {
      lowX = std::min(lowX, samples[i][0]);
      highX = std::max(highX, samples[i][0]);
      lowY = std::min(lowY, samples[i][1]);
      highY = std::max(highY, samples[i][1]);
      for (int a = 0; a < 4; ++a) {
        const double velocity = std::fabs(samples[i][a] - samples[i - 1][a]) / kSampleSeconds;
        ASSERT_LE(velocity, tuning.maxVelocity[a] * (1 + 1e-6) + 1e-9) << "axis " << a << " sample " << i;
        if (i < 2) continue;
        const double change = samples[i][a] - 2 * samples[i - 1][a] + samples[i - 2][a];
        ASSERT_LE(std::fabs(change) / (kSampleSeconds * kSampleSeconds), tuning.acceleration[a] * (1 + 1e-3) + 1e-6)
            << "axis " << a << " sample " << i;
      }
    }
    EXPECT_NEAR(lowX, c.lowX, 1e-3);
    EXPECT_NEAR(highX, c.highX, 1e-3);
    EXPECT_NEAR(lowY, c.lowY, 1e-3);
    EXPECT_NEAR(highY, c.highY, 1e-3);
  }
}

TEST(GcodePlanner, ArcSamplesLieOnTheirCircle) {
  const Program program = Plan({"G0 X5 Y5", "G2 X5 Y-5 I0 J-5 F1200", "G3 X5 Y5 I0 J5"});
  for (const ProgramStep& step : program.steps) {
    const auto* move = std::get_if<Move>(&step);
    if (!move || !move->arc) continue;
    MoveSampler sampler(*move, Tuning().stepsPerUnit);
    AxisValues steps{};
    while (sampler.Next(steps)) {
      ASSERT_NEAR(std::hypot(steps[0] / kSteps - move->centreX, steps[1] / kSteps - move->centreY), 5.0, 1e-9);
    }
    EXPECT_NEAR(std::fabs(move->sweep), std::numbers::pi, 1e-12);
  }
}

TEST(GcodePlanner, TrapezoidFromFeedVelocityAndAccelerationLimits) {
  MotorTuning tuning;
  tuning.stepsPerUnit.fill(kSteps);
  tuning.maxVelocity.fill(5.0);
  tuning.acceleration.fill(1.0);
  tuning.maxVelocity[0] = 3.0;
  const struct {
    std::vector<std::string> lines;
    double velocity, rampTime, cruiseTime;
    std::size_t samples;
  } cases[] = {
      // 10 units at 2 units/s and 1 unit/s2: 2 s up, 3 s cruising, 2 s down.
      {{"G1 Y10 F120"}, 2.0, 2.0, 3.0, 7000},
      // Too short to reach the feed: up and down in sqrt(2) s each.
      {{"G1 Y2 F120"}, std::sqrt(2.0), std::sqrt(2.0), 0.0, 2829},
      // A rapid along the diagonal is held to X's 3 units/s on X, so 3*sqrt(2) along the path.
      {{"G0 X30 Y30"}, 3.0 * std::sqrt(2.0), 3.0, 7.0, 13000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.lines.front());
    const Program program = Plan(c.lines, {}, {}, tuning);
    ASSERT_EQ(program.steps.size(), 1u);
    const Move& move = std::get<Move>(program.steps.front());
    EXPECT_NEAR(move.velocity, c.velocity, 1e-9);
    EXPECT_NEAR(move.rampTime, c.rampTime, 1e-9);
    EXPECT_NEAR(move.cruiseTime, c.cruiseTime, 1e-9);
    EXPECT_EQ(move.SampleCount(), c.samples);
  }
}

TEST(GcodePlanner, DwellsSpindleChangesAndTheEndKeepTheirOrderAndLines) {
  const Program program = Plan(
      {"N10 G21 G90 (metric)", "M3 S1200", "G1 X1 F600 ; cut", "G4 P0.5", "M4", "M5", "M30", "this is not G-code"});
  ASSERT_EQ(program.steps.size(), 6u);
  const auto& start = std::get<SpindleChange>(program.steps[0]);
  EXPECT_EQ(start.line, 2);
  EXPECT_EQ(start.motor, SpindleChange::Motor::Clockwise);
  EXPECT_EQ(start.speed, 1200.0);
  EXPECT_EQ(std::get<Move>(program.steps[1]).line, 3);
  EXPECT_EQ(std::get<Dwell>(program.steps[2]).line, 4);
  EXPECT_EQ(std::get<Dwell>(program.steps[2]).time, 0.5);
  EXPECT_EQ(std::get<SpindleChange>(program.steps[3]).motor, SpindleChange::Motor::CounterClockwise);
  EXPECT_FALSE(std::get<SpindleChange>(program.steps[3]).speed);
  EXPECT_EQ(std::get<SpindleChange>(program.steps[4]).motor, SpindleChange::Motor::Off);
  EXPECT_EQ(std::get<ProgramEnd>(program.steps[5]).line, 7);
}

TEST(GcodePlanner, MistakesNameTheirLineAndPlanNothing) {
  MotorTuning untunedZ = Tuning();
  untunedZ.acceleration[2] = 0.0;
  const struct {
    std::vector<std::string> lines;
    std::string error;
    MotorTuning tuning = Tuning();
  } cases[] = {
      {{"G0 X1", "G1 Q3"}, "line 2: unknown word 'Q3'"},
      {{"G1 X1.2.3 F100"}, "line 1: bad number in 'X1.2.3'"},
      {{"G1 X-"}, "line 1: bad number in 'X-'"},
      {{"G1 X5"}, "line 1: no feed rate (F) for the move"},
      {{"G1 X5 F0"}, "line 1: the feed rate must be above 0 (F0)"},
      {{"G1 X5 F-3"}, "line 1: the feed rate must be above 0 (F-3)"},
      {{"G41 X1"}, "line 1: unsupported code G41"},
      {{"G1.5 X1"}, "line 1: unsupported code G1.5"},
      {{"M8"}, "line 1: unsupported code M8"},
      {{"G0 G1 X1"}, "line 1: two motion codes on one line"},
      {{"X1"}, "line 1: axis words without a motion code (G0, G1, G2 or G3)"},
      {{"G1 X1 X2 F10"}, "line 1: word X appears twice"},
      {{"G4"}, "line 1: G4 needs P (the dwell time)"},
      {{"P2"}, "line 1: P without G4"},
      {{"G4 P-1"}, "line 1: the dwell time must not be negative"},
      {{"G4 P1 X2"}, "line 1: axis words beside G4"},
      {{"G1 X1 I1 F10"}, "line 1: I and J belong to G2 and G3"},
      {{"G2 X10 F100"}, "line 1: an arc needs its centre (I, J)"},
      {{"G2 X10 I0 J0 F100"}, "line 1: the arc has no radius"},
      {{"G2 X10 I3 F100"}, "line 1: the arc's end is not on its circle (radius 3 at the start, 7 at the end)"},
      {{"G1 X1 (unclosed"}, "line 1: a comment is not closed"},
      {{"G1 X1 F10 *"}, "line 1: unexpected '*'"},
      {{"S-5"}, "line 1: the spindle speed must not be negative"},
      {{"G0 X1", "G0 Z1"},
       "line 2: axis Z has no motor tuning (steps per unit, velocity and acceleration must be above 0)",
       untunedZ},
      {{"G0 B1"}, "line 1: axis B has no motor tuning (steps per unit, velocity and acceleration must be above 0)"},
  };
  for (const auto& c : cases) {
    Program program;
    std::string error;
    EXPECT_FALSE(PlanProgram(c.lines, {}, {}, c.tuning, program, error)) << c.lines.back();
    EXPECT_EQ(error, c.error);
  }
  Program program;
  std::string error;
  EXPECT_FALSE(PlanProgramFile("/nonexistent/program.ngc", {}, {}, Tuning(), program, error));
  EXPECT_EQ(error, "cannot open the program /nonexistent/program.ngc");
}

}  // namespace
}  // namespace veltra::hoststub

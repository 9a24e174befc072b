// The host stand-in's G-code planner: a small subset of G-code turned into
// moves with a trapezoidal speed profile each (every move starts and ends at
// rest), sampled every millisecond in absolute steps for the trajectory ring.
//
//   G0 G1           rapid and feed moves of X Y Z A B C
//   G2 G3           clockwise and counter-clockwise arcs in the XY plane, centre
//                   by I and J (from the start); Z and the other axes move along
//   G4 P            dwell, P given to the plugin's DoDwell as the host keeps it
//   G20 G21         inches, millimetres (the host's own unit is the millimetre)
//   G90 G91         absolute, incremental coordinates
//   F               feed rate in units per minute;  S  spindle speed
//   M3 M4 M5        spindle clockwise, counter-clockwise, off;  M30  end
//   N               a block number (the queue carries the file line instead)
//   ( ... ) and ;   comments;  a line of % alone is skipped
//
// The whole program is planned before any motion, so a mistake anywhere
// stops it with an error that names its line and nothing has moved.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace veltra::hoststub {

inline constexpr int kPlannedAxes = 6;
using AxisValues = std::array<double, kPlannedAxes>;
inline constexpr double kSampleSeconds = 0.001;

// The host's motor tuning of axes X..C.
struct MotorTuning {
  AxisValues stepsPerUnit{};
  AxisValues maxVelocity{};   // units per second
  AxisValues acceleration{};  // units per second squared
};

// One move from rest to rest along a straight line or an XY arc (with the
// other axes moving linearly along), in machine coordinates, host units.
struct Move {
  int line = 0;
  AxisValues start{};
  AxisValues end{};
  bool arc = false;
  double centreX = 0.0;
  double centreY = 0.0;
  double radius = 0.0;
  double startAngle = 0.0;
  double sweep = 0.0;  // radians, positive counter-clockwise
  double length = 0.0;
  double velocity = 0.0;      // cruise speed along the path
  double acceleration = 0.0;  // along the path
  double rampTime = 0.0;      // the deceleration takes as long
  double cruiseTime = 0.0;
  double totalTime = 0.0;

  // The distance along the path after t seconds, and the position there.
  double DistanceAt(double t) const;
  AxisValues PositionAt(double distance) const;
  // Millisecond samples of the move; the last one is its end.
  std::size_t SampleCount() const;
};

struct Dwell {
  int line = 0;
  double time = 0.0;  // P as written
};

struct SpindleChange {
  int line = 0;
  std::optional<double> speed;  // S
  enum class Motor { Unchanged, Clockwise, CounterClockwise, Off } motor = Motor::Unchanged;
};

struct ProgramEnd {
  int line = 0;
};

using ProgramStep = std::variant<Move, Dwell, SpindleChange, ProgramEnd>;

struct Program {
  std::vector<ProgramStep> steps;
  std::size_t samples = 0;  // of all moves together
};

// Plans the lines (line 1 first) from the start position (machine
// coordinates, host units) with the work offsets and the motor tuning.
bool PlanProgram(const std::vector<std::string>& lines, const AxisValues& start, const AxisValues& workOffset,
                 const MotorTuning& tuning, Program& program, std::string& error);
// The same from a file; its errors name the file, too.
bool PlanProgramFile(const std::string& path, const AxisValues& start, const AxisValues& workOffset,
                     const MotorTuning& tuning, Program& program, std::string& error);

// The millisecond samples of one move, in absolute steps.
class MoveSampler {
 public:
  MoveSampler(const Move& move, const AxisValues& stepsPerUnit) : move_(move), stepsPerUnit_(stepsPerUnit) {}
  bool Next(AxisValues& steps);

 private:
  const Move& move_;
  AxisValues stepsPerUnit_;
  std::size_t taken_ = 0;
};

}  // namespace veltra::hoststub

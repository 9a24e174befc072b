#include "gcode.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <limits>
#include <map>
#include <numbers>

namespace veltra::hoststub {
namespace {

constexpr double kMillimetresPerInch = 25.4;
// Shorter moves are no moves; arc ends this far off their circle are typing
// mistakes, not rounding.
constexpr double kNoLength = 1e-9;
constexpr double kArcRadiusTolerance = 0.002;
constexpr const char* kAxisLetters = "XYZABC";

struct Word {
  char letter = 0;
  double value = 0.0;
  std::string text;
};

std::string Describe(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

// The words of one line, comments removed.
bool SplitWords(const std::string& line, std::vector<Word>& words, std::string& problem) {
  std::size_t i = 0;
  auto skipSpace = [&] {
    while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i]))) ++i;
  };
  for (;;) {
    skipSpace();
    if (i >= line.size() || line[i] == ';') return true;
    if (line[i] == '(') {
      const std::size_t close = line.find(')', i);
      if (close == std::string::npos) {
        problem = "a comment is not closed";
        return false;
      }
      i = close + 1;
      continue;
    }
    const unsigned char letter = static_cast<unsigned char>(line[i]);
    if (!std::isalpha(letter)) {
      problem = std::string("unexpected '") + line[i] + "'";
      return false;
    }
    Word word;
    word.letter = static_cast<char>(std::toupper(letter));
    ++i;
    skipSpace();
    std::string number;
    while (i < line.size() &&
           (std::isdigit(static_cast<unsigned char>(line[i])) || line[i] == '.' || line[i] == '-' || line[i] == '+')) {
      number += line[i++];
    }
    word.text = std::string(1, word.letter) + number;
    const char* begin = number.data() + (number.starts_with('+') ? 1 : 0);
    const char* end = number.data() + number.size();
    auto [ptr, ec] = std::from_chars(begin, end, word.value);
    if (number.empty() || ec != std::errc() || ptr != end || !std::isfinite(word.value)) {
      problem = "bad number in '" + word.text + "'";
      return false;
    }
    words.push_back(word);
  }
}

bool IsWhole(double value) { return value == std::floor(value) && std::fabs(value) < 1000; }

// Cruise speed and ramps along a path of the given length, from rest to rest.
void ShapeProfile(Move& move, double velocityLimit, double accelerationLimit) {
  move.velocity = velocityLimit;
  move.acceleration = accelerationLimit;
  move.rampTime = move.velocity / move.acceleration;
  if (move.velocity * move.rampTime > move.length) {
    // Too short to reach the speed: accelerate half way, then decelerate.
    move.rampTime = std::sqrt(move.length / move.acceleration);
    move.velocity = move.acceleration * move.rampTime;
    move.cruiseTime = 0.0;
  } else {
    move.cruiseTime = (move.length - move.velocity * move.rampTime) / move.velocity;
  }
  move.totalTime = 2.0 * move.rampTime + move.cruiseTime;
}

class Planner {
 public:
  Planner(const AxisValues& start, const AxisValues& workOffset, const MotorTuning& tuning, Program& program)
      : position_(start), workOffset_(workOffset), tuning_(tuning), program_(program) {}

  // False with the problem when the line cannot be planned; ended once M30 was read.
  bool PlanLine(const std::string& text, int line, std::string& problem);
  bool Ended() const { return ended_; }

 private:
  enum class Motion { None, Rapid, Feed, Clockwise, CounterClockwise };

  bool Tuned(int axis, std::string& problem) const;
  bool AddLine(int line, const AxisValues& target, std::string& problem);
  bool AddArc(int line, const AxisValues& target, double i, double j, std::string& problem);
  // Lowers the limits to what the axes from the first one on allow for
  // their share of the move, shapes it and appends it.
  bool AppendMove(Move& move, int firstAxis, double velocity, double acceleration, std::string& problem);
  double UnitScale(int axis) const { return axis < 3 && inches_ ? kMillimetresPerInch : 1.0; }

  AxisValues position_;
  AxisValues workOffset_;
  const MotorTuning& tuning_;
  Program& program_;
  Motion motion_ = Motion::None;
  bool inches_ = false;
  bool incremental_ = false;
  std::optional<double> feed_;  // units per second
  bool ended_ = false;
};

bool Planner::Tuned(int axis, std::string& problem) const {
  if (tuning_.stepsPerUnit[axis] > 0.0 && tuning_.maxVelocity[axis] > 0.0 && tuning_.acceleration[axis] > 0.0) {
    return true;
  }
  problem = std::string("axis ") + kAxisLetters[axis] +
            " has no motor tuning (steps per unit, velocity and acceleration must be above 0)";
  return false;
}

bool Planner::PlanLine(const std::string& text, int line, std::string& problem) {
  std::vector<Word> words;
  if (!SplitWords(text, words, problem)) return false;
  if (words.empty()) return true;

  std::vector<int> gCodes;
  std::vector<int> mCodes;
  std::map<char, double> values;
  for (const Word& word : words) {
    if (word.letter == 'G' || word.letter == 'M') {
      if (!IsWhole(word.value)) {
        problem = "unsupported code " + word.text;
        return false;
      }
      (word.letter == 'G' ? gCodes : mCodes).push_back(static_cast<int>(word.value));
      continue;
    }
    if (std::string("NFSPXYZABCIJ").find(word.letter) == std::string::npos) {
      problem = "unknown word '" + word.text + "'";
      return false;
    }
    if (!values.emplace(word.letter, word.value).second) {
      problem = std::string("word ") + word.letter + " appears twice";
      return false;
    }
  }

  std::optional<Motion> motion;
  bool dwell = false;
  for (int code : gCodes) {
    switch (code) {
      case 0:
      case 1:
      case 2:
      case 3:
        if (motion) {
          problem = "two motion codes on one line";
          return false;
        }
        motion = code == 0   ? Motion::Rapid
                 : code == 1 ? Motion::Feed
                 : code == 2 ? Motion::Clockwise
                             : Motion::CounterClockwise;
        break;
      case 4:
        dwell = true;
        break;
      case 20:
        inches_ = true;
        break;
      case 21:
        inches_ = false;
        break;
      case 90:
        incremental_ = false;
        break;
      case 91:
        incremental_ = true;
        break;
      default:
        problem = "unsupported code G" + std::to_string(code);
        return false;
    }
  }
  SpindleChange spindle;
  spindle.line = line;
  bool end = false;
  for (int code : mCodes) {
    switch (code) {
      case 3:
        spindle.motor = SpindleChange::Motor::Clockwise;
        break;
      case 4:
        spindle.motor = SpindleChange::Motor::CounterClockwise;
        break;
      case 5:
        spindle.motor = SpindleChange::Motor::Off;
        break;
      case 30:
        end = true;
        break;
      default:
        problem = "unsupported code M" + std::to_string(code);
        return false;
    }
  }

  if (auto f = values.find('F'); f != values.end()) {
    if (!(f->second > 0.0)) {
      problem = "the feed rate must be above 0 (F" + Describe(f->second) + ")";
      return false;
    }
    feed_ = f->second * UnitScale(0) / 60.0;
  }
  if (auto s = values.find('S'); s != values.end()) {
    if (s->second < 0.0) {
      problem = "the spindle speed must not be negative";
      return false;
    }
    spindle.speed = s->second;
  }
  if (spindle.speed || spindle.motor != SpindleChange::Motor::Unchanged) program_.steps.emplace_back(spindle);

  const bool hasP = values.contains('P');
  if (dwell != hasP) {
    problem = dwell ? "G4 needs P (the dwell time)" : "P without G4";
    return false;
  }
  if (dwell) {
    if (values['P'] < 0.0) {
      problem = "the dwell time must not be negative";
      return false;
    }
    program_.steps.emplace_back(Dwell{line, values['P']});
  }

  if (motion) motion_ = *motion;
  AxisValues target = position_;
  bool axisWords = false;
  for (int a = 0; a < kPlannedAxes; ++a) {
    auto word = values.find(kAxisLetters[a]);
    if (word == values.end()) continue;
    axisWords = true;
    const double value = word->second * UnitScale(a);
    target[a] = incremental_ ? position_[a] + value : value + workOffset_[a];
  }
  const bool centre = values.contains('I') || values.contains('J');
  const bool arc = motion_ == Motion::Clockwise || motion_ == Motion::CounterClockwise;
  if (centre && !arc) {
    problem = "I and J belong to G2 and G3";
    return false;
  }
  if (axisWords || (arc && centre)) {
    if (dwell) {
      problem = "axis words beside G4";
      return false;
    }
    if (motion_ == Motion::None) {
      problem = "axis words without a motion code (G0, G1, G2 or G3)";
      return false;
    }
    if (motion_ != Motion::Rapid && !feed_) {
      problem = "no feed rate (F) for the move";
      return false;
    }
    if (arc && !centre) {
      problem = "an arc needs its centre (I, J)";
      return false;
    }
    const bool planned = arc ? AddArc(line, target, values['I'] * UnitScale(0), values['J'] * UnitScale(1), problem)
                             : AddLine(line, target, problem);
    if (!planned) return false;
  }
  if (end) {
    program_.steps.emplace_back(ProgramEnd{line});
    ended_ = true;
  }
  return true;
}

bool Planner::AddLine(int line, const AxisValues& target, std::string& problem) {
  Move move;
  move.line = line;
  move.start = position_;
  move.end = target;
  double squares = 0.0;
  for (int a = 0; a < kPlannedAxes; ++a) squares += (target[a] - position_[a]) * (target[a] - position_[a]);
  move.length = std::sqrt(squares);
  if (move.length < kNoLength) return true;

  double velocity = motion_ == Motion::Rapid ? std::numeric_limits<double>::infinity() : *feed_;
  double acceleration = std::numeric_limits<double>::infinity();
  return AppendMove(move, 0, velocity, acceleration, problem);
}

bool Planner::AppendMove(Move& move, int firstAxis, double velocity, double acceleration, std::string& problem) {
  for (int a = firstAxis; a < kPlannedAxes; ++a) {
    const double share = std::fabs(move.end[a] - move.start[a]) / move.length;
    if (share == 0.0) continue;
    if (!Tuned(a, problem)) return false;
    velocity = std::min(velocity, tuning_.maxVelocity[a] / share);
    acceleration = std::min(acceleration, tuning_.acceleration[a] / share);
  }
  ShapeProfile(move, velocity, acceleration);
  program_.samples += move.SampleCount();
  program_.steps.emplace_back(move);
  position_ = move.end;
  return true;
}

bool Planner::AddArc(int line, const AxisValues& target, double i, double j, std::string& problem) {
  Move move;
  move.line = line;
  move.arc = true;
  move.start = position_;
  move.end = target;
  move.centreX = position_[0] + i;
  move.centreY = position_[1] + j;
  move.radius = std::hypot(position_[0] - move.centreX, position_[1] - move.centreY);
  const double endRadius = std::hypot(target[0] - move.centreX, target[1] - move.centreY);
  if (move.radius < kNoLength) {
    problem = "the arc has no radius";
    return false;
  }
  if (std::fabs(endRadius - move.radius) > kArcRadiusTolerance * std::max(1.0, move.radius)) {
    problem = "the arc's end is not on its circle (radius " + Describe(move.radius) + " at the start, " +
              Describe(endRadius) + " at the end)";
    return false;
  }
  if (!Tuned(0, problem) || !Tuned(1, problem)) return false;
  move.startAngle = std::atan2(position_[1] - move.centreY, position_[0] - move.centreX);
  const double endAngle = std::atan2(target[1] - move.centreY, target[0] - move.centreX);
  constexpr double kTurn = 2.0 * std::numbers::pi;
  const bool clockwise = motion_ == Motion::Clockwise;
  const bool fullCircle = std::hypot(target[0] - position_[0], target[1] - position_[1]) < kNoLength;
  double sweep = endAngle - move.startAngle;
  if (clockwise) {
    while (sweep >= 0.0) sweep -= kTurn;
    if (fullCircle) sweep = -kTurn;
  } else {
    while (sweep <= 0.0) sweep += kTurn;
    if (fullCircle) sweep = kTurn;
  }
  move.sweep = sweep;

  const double planar = move.radius * std::fabs(sweep);
  double others = 0.0;
  for (int a = 2; a < kPlannedAxes; ++a) others += (target[a] - position_[a]) * (target[a] - position_[a]);
  move.length = std::sqrt(planar * planar + others);

  // X and Y each see at most the planar speed, and the planar acceleration
  // is the tangential one plus the centripetal one; half of the smaller axis
  // limit goes to each.
  const double planarShare = planar / move.length;
  const double planarAcceleration = std::min(tuning_.acceleration[0], tuning_.acceleration[1]);
  double velocity = std::min({*feed_, std::min(tuning_.maxVelocity[0], tuning_.maxVelocity[1]) / planarShare,
                              std::sqrt(0.5 * planarAcceleration * move.radius) / planarShare});
  double acceleration = 0.5 * planarAcceleration / planarShare;
  return AppendMove(move, 2, velocity, acceleration, problem);
}

}  // namespace

double Move::DistanceAt(double t) const {
  if (t <= 0.0) return 0.0;
  if (t >= totalTime) return length;
  if (t < rampTime) return acceleration * t * t / 2.0;
  const double rampDistance = acceleration * rampTime * rampTime / 2.0;
  if (t < rampTime + cruiseTime) return rampDistance + velocity * (t - rampTime);
  const double left = totalTime - t;
  return length - acceleration * left * left / 2.0;
}

AxisValues Move::PositionAt(double distance) const {
  if (distance >= length) return end;
  const double fraction = distance / length;
  AxisValues position{};
  for (int a = 0; a < kPlannedAxes; ++a) position[a] = start[a] + (end[a] - start[a]) * fraction;
  if (arc) {
    const double angle = startAngle + sweep * fraction;
    position[0] = centreX + radius * std::cos(angle);
    position[1] = centreY + radius * std::sin(angle);
  }
  return position;
}

std::size_t Move::SampleCount() const {
  return std::max<std::size_t>(1, static_cast<std::size_t>(std::ceil(totalTime / kSampleSeconds - 1e-9)));
}

bool MoveSampler::Next(AxisValues& steps) {
  const std::size_t count = move_.SampleCount();
  if (taken_ >= count) return false;
  ++taken_;
  const AxisValues position =
      taken_ == count ? move_.end : move_.PositionAt(move_.DistanceAt(static_cast<double>(taken_) * kSampleSeconds));
  for (int a = 0; a < kPlannedAxes; ++a) steps[a] = position[a] * stepsPerUnit_[a];
  return true;
}

bool PlanProgram(const std::vector<std::string>& lines, const AxisValues& start, const AxisValues& workOffset,
                 const MotorTuning& tuning, Program& program, std::string& error) {
  program = Program{};
  Planner planner(start, workOffset, tuning, program);
  for (std::size_t i = 0; i < lines.size() && !planner.Ended(); ++i) {
    const std::string& text = lines[i];
    const std::size_t first = text.find_first_not_of(" \t\r");
    if (first != std::string::npos && text[first] == '%' && text.find_last_not_of(" \t\r") == first) continue;
    std::string problem;
    if (!planner.PlanLine(text, static_cast<int>(i) + 1, problem)) {
      error = "line " + std::to_string(i + 1) + ": " + problem;
      return false;
    }
  }
  return true;
}

bool PlanProgramFile(const std::string& path, const AxisValues& start, const AxisValues& workOffset,
                     const MotorTuning& tuning, Program& program, std::string& error) {
  std::ifstream file(path);
  if (!file) {
    error = "cannot open the program " + path;
    return false;
  }
  std::vector<std::string> lines;
  for (std::string line; std::getline(file, line);) lines.push_back(line);
  if (PlanProgram(lines, start, workOffset, tuning, program, error)) return true;
  error = path + ", " + error;
  return false;
}

}  // namespace veltra::hoststub

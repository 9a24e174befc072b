// The moving part of the substitute controller: the 1000-record motion
// buffer consumed at one record per simulated millisecond, the feedhold,
// jogging, homing through the HOME sequences, probing against a virtual
// surface, the soft limits of the configuration, and the threading and
// rigid tapping sequences. Simulated time is real time times a time-scale
// factor.
//
// The model shows itself in the status (Mode, Sequence, HomedAxis,
// StepPositions, BufferedRecords, ReceivedRecords, BufferFill,
// ExecutingLine and the feedhold flag) only while something moves or runs;
// once it is at rest it writes the resting values once and leaves these
// fields to whoever sets them, so a status set by hand is reported as set.
//
// Definitions it keeps:
// - An underrun is a motion record that arrives within kStreamGapMs of
//   simulated time after the buffer ran empty while executing: the stream
//   went on, the buffer did not last. A buffer emptied by a discard, a
//   stop, a probe contact or a soft limit does not count.
// - The lowest buffer level is the fewest records waiting when records
//   arrived (one arrival: the whole records of one read) during motion (the buffer was executing or had just run empty,
//   as above); the draining at the end of a stream does not count.
// - A record beyond the 1000 the buffer holds is an overrun: counted in
//   ReceivedRecords, then dropped.
// - A probe move is over when its records have run out for kStreamGapMs.
//   A contact is reported once with PROBE2 (the plugin restarts its
//   end-of-probe delay on every PROBE2 frame), then with sequence NONE;
//   until CMD_END_PROBE, records still arriving for the probe move are
//   dropped uncounted, as the count restarted at the contact. No contact
//   shows PROBE1 with mode IDLE until CMD_END_PROBE; records arriving
//   meanwhile are counted and dropped. Either way the machine moves again
//   only after the end of probe.
// - Records arriving in emergency stop or the safe state are counted and
//   dropped; jog, home, probe and the sequences are not started there.
// - HOME6 is reported in exactly one status frame per axis: the plugin
//   counts every such frame as one completion. The machine loses no steps,
//   so a verify finds the home switch where the counter reads 0 and runs
//   the same phases as a home.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <vector>

#include "cycle/motion_commands.h"
#include "cycle/status_record.h"
#include "frame_parser.h"

namespace veltra::emu {

inline constexpr int kAxisCount = cycle::kStatusAxisCount;
using StepArray = std::array<std::int32_t, kAxisCount>;

// The surface the probe touches: contact when the axis reaches the level
// coming from the side the direction points away from (direction -1: at or
// below the level, +1: at or above it).
struct ProbeSurface {
  int axis = 2;
  std::int32_t level = 0;  // steps
  int direction = -1;

  bool operator==(const ProbeSurface&) const = default;
};

struct MotionStats {
  std::uint64_t recordsExecuted = 0;
  int underruns = 0;
  int overruns = 0;
  std::optional<int> lowestBufferLevel;  // none before records arrived during motion
  StepArray stepPositions{};
};

class MachineMotion {
 public:
  using Clock = std::chrono::steady_clock;

  static constexpr int kBufferRecords = cycle::motion_record::kControllerBufferRecords;
  // Two of the plugin's 25 ms ticks: a stream that goes on refills within it.
  static constexpr double kStreamGapMs = 50.0;
  // The feedhold ramps the consumption down to a stop, and back up, over this.
  static constexpr int kFeedholdRampMs = 10;
  static constexpr double kJogAcceleration = 100000.0;  // steps per second squared
  static constexpr int kHomePhaseMs = 20;               // each of HOME0..HOME5
  static constexpr int kThreadingMs = 200;
  static constexpr int kTapPhaseMs = 100;  // each of RTAP1 and RTAP2
  static constexpr double kLargestTimeScale = 1000.0;

  explicit MachineMotion(Clock::time_point now) : lastAdvance_(now) {}

  // Factors outside 0 < f <= kLargestTimeScale are refused.
  bool SetTimeScale(double factor);
  double TimeScale() const { return timeScale_; }
  // Steps per axis; an axis whose maximum is not above its minimum has no
  // limits.
  void SetSoftLimits(const StepArray& minimum, const StepArray& maximum);
  // The soft-limit and feedhold bits of CMD_SET_OUTPUTS.
  void SetControlFlags(std::uint16_t flags);
  void SetProbeSurface(const std::optional<ProbeSurface>& surface) { surface_ = surface; }

  // Runs the machine up to now. False when a record lay beyond the soft
  // limits: the motion stopped before it, and the caller puts the machine
  // into emergency stop.
  bool Advance(Clock::time_point now, cycle::StatusRecord& status);
  // Motion records that arrived together on the bulk channel, at the time
  // of the last Advance.
  void Receive(std::span<const cycle::MotionRecord> records, cycle::StatusRecord& status);
  // CMD_JOG_START, CMD_JOG_STOP, CMD_HOME, CMD_HOME_VERIFY, CMD_PROBE,
  // CMD_END_PROBE, CMD_DISCARD_BUFFER, CMD_START_THREADING and
  // CMD_START_RIGID_TAP; every other command is ignored.
  void Execute(const ReceivedCommand& command, cycle::StatusRecord& status);
  // Everything stops at once and is forgotten (a stop, an emergency stop,
  // a configuration); the caller sets the mode.
  void Stop(cycle::StatusRecord& status);
  // The status went out in a frame: a HOME6 or a PROBE2 has been seen.
  void Reported(cycle::StatusRecord& status);

  MotionStats Stats(const cycle::StatusRecord& status) const;

 private:
  enum class Probe { Idle, Armed, Moving, ContactPending, AwaitingEnd, NoContact };

  struct Jog {
    bool active = false;
    double velocity = 0.0;  // steps per second
    double target = 0.0;
    double partialSteps = 0.0;
  };

  struct Homing {
    int axis = 0;
    std::uint8_t sequence = 1;  // HOME0
    int msLeft = kHomePhaseMs;
  };

  struct Phase {
    std::uint8_t sequence;
    int msLeft;
  };

  // Something the status shows, at rest or not.
  bool Engaged() const;
  // Something that goes on with time.
  bool Running() const;
  bool Executing() const;
  bool Jogging() const;
  // The buffer ran empty while executing, at most the stream gap before.
  bool Starving(double atMs) const;
  // A jog must not start.
  bool Busy() const;
  // One simulated millisecond; false at a soft limit.
  bool Step(cycle::StatusRecord& status);
  bool ExecuteNextRecord(cycle::StatusRecord& status);
  void StepJogs(cycle::StatusRecord& status);
  void StepHoming(cycle::StatusRecord& status);
  void StepPhases();
  bool BeyondSoftLimits(const StepArray& position) const;
  bool Touches(const StepArray& position) const;
  void EmptyBuffer();
  void Show(cycle::StatusRecord& status);
  void ShowIfEngaged(cycle::StatusRecord& status);

  double timeScale_ = 1.0;
  Clock::time_point lastAdvance_;
  double simulatedMs_ = 0.0;
  double steppedMs_ = 0.0;  // simulated time the steps have covered

  std::deque<cycle::MotionRecord> buffer_;
  // The record under way is done when progress_ reaches kFeedholdRampMs;
  // speed_ is added every millisecond: kFeedholdRampMs at full speed, 0 in
  // a feedhold.
  int progress_ = 0;
  int speed_ = kFeedholdRampMs;
  std::int32_t executingLine_ = -1;
  std::optional<double> ranDryAt_;  // simulated ms

  bool softLimitsOn_ = false;
  bool feedhold_ = false;
  StepArray softMin_{};
  StepArray softMax_{};

  std::array<Jog, kAxisCount> jogs_{};
  std::optional<Homing> homing_;
  std::deque<int> homesQueued_;
  std::vector<Phase> phases_;
  Probe probe_ = Probe::Idle;
  std::optional<ProbeSurface> surface_;

  std::uint64_t recordsExecuted_ = 0;
  int underruns_ = 0;
  int overruns_ = 0;
  std::optional<int> lowestBufferLevel_;
  bool shown_ = false;  // the status shows the model, at rest values included
};

}  // namespace veltra::emu

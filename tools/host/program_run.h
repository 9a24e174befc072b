// A planned program run by the host stand-in: its moves go into the
// trajectory ring as fast as the ring has room (one entry per millisecond,
// absolute steps, the file line beside each), and it waits where the host
// waits: for the motion to come to rest before a dwell, a spindle change
// and the end, for EngineBlock.DwellBusy after a dwell or a spindle start,
// and for the spindle's delay after it is switched. The host's loop calls Advance between its messages.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "gcode.h"
#include "host_stand_in.h"

namespace veltra::hoststub {

inline constexpr std::int32_t kTrajectoryEntries = 4096;
// The host lets the spindle come up to speed, or to rest, before it moves on.
inline constexpr std::uint32_t kSpindleDelayMs = 200;

// The host's motor tuning and its axes' machine positions and work offsets.
MotorTuning HostMotorTuning(const HostStandIn& host);
AxisValues HostMachinePosition(const HostStandIn& host);
AxisValues HostWorkOffsets(const HostStandIn& host);
// Plans the lines from where the host's axes stand, with its work offsets
// and tuning.
bool PlanOnHost(const HostStandIn& host, const std::vector<std::string>& lines, Program& program, std::string& error);

class ProgramRun {
 public:
  ProgramRun(HostStandIn& host, Program program);
  ~ProgramRun();
  ProgramRun(const ProgramRun&) = delete;
  ProgramRun& operator=(const ProgramRun&) = delete;

  // Does what can be done now without waiting; true once the program has
  // ended, or failed (then Error says why).
  bool Advance();
  bool Failed() const { return !error_.empty(); }
  const std::string& Error() const { return error_; }

  const Program& Planned() const { return program_; }
  std::size_t SamplesWritten() const { return written_; }
  // Samples the plugin has taken from the ring.
  std::size_t SamplesConsumed() const;
  // The file line of the step in hand (0 before the first).
  int CurrentLine() const;

 private:
  std::int32_t Queued() const;
  std::int32_t Room() const;
  // The motion written so far has been taken and has come to rest.
  bool MotionSettled();
  void Fill(const Move& move);
  // What a dwell or a spindle change asks of the plugin.
  void Begin(const ProgramStep& step);
  void Finish(std::string error = {});

  HostStandIn& host_;
  Program program_;
  MotorTuning tuning_;
  std::size_t next_ = 0;  // the step to begin next
  std::optional<MoveSampler> sampler_;
  bool stepBegun_ = false;
  std::optional<std::uint32_t> spindleSwitchedAt_;
  bool writtenSinceRest_ = false;
  bool sawMotion_ = false;
  std::size_t written_ = 0;
  bool done_ = false;
  std::string error_;
};

}  // namespace veltra::hoststub

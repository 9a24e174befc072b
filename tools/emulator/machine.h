// The machine behind the substitute controller's protocol. This first
// version reports what it is told (every status field can be set) and runs
// its time stamp clock; motion, jog, home, probe and torch height control
// come as later versions act on the commands.
#pragma once

#include <chrono>

#include "cycle/status_record.h"

namespace veltra::emu {

class SimulatedMachine {
 public:
  using Clock = std::chrono::steady_clock;

  explicit SimulatedMachine(const cycle::StatusRecord& initial, Clock::time_point now = Clock::now());

  cycle::StatusRecord& Status() { return status_; }
  // The status as of now: the time stamp has advanced with the time since
  // the last report, at 10 ticks per microsecond.
  cycle::StatusRecord Report(Clock::time_point now);

 private:
  cycle::StatusRecord status_;
  Clock::time_point lastReport_;
};

}  // namespace veltra::emu

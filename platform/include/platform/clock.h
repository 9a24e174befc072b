// The millisecond tick counter and sleep. Every bounded wait of the plugin
// goes through this clock, so unit tests can replace it with a manual one.
#pragma once

#include <cstdint>

namespace platform {

class Clock {
 public:
  virtual ~Clock() = default;
  // Milliseconds since an arbitrary start; wraps at 2^32 like GetTickCount.
  virtual std::uint32_t TickCount() = 0;
  virtual void Sleep(std::uint32_t milliseconds) = 0;
};

// Time that moves only when told to: Sleep advances it at once.
class ManualClock final : public Clock {
 public:
  explicit ManualClock(std::uint32_t start = 1000) : now_(start) {}
  std::uint32_t TickCount() override { return now_; }
  void Sleep(std::uint32_t milliseconds) override { now_ += milliseconds; }
  void Advance(std::uint32_t milliseconds) { now_ += milliseconds; }

 private:
  std::uint32_t now_;
};

// Installs a clock for the whole process; nullptr restores the system clock.
// The clock must outlive its installation.
void SetClock(Clock* clock);
bool UsingSystemClock();

std::uint32_t TickCount();
void Sleep(std::uint32_t milliseconds);

}  // namespace platform

#include "machine.h"

namespace veltra::emu {
namespace {
constexpr std::int64_t kTicksPerMicrosecond = 10;
}

SimulatedMachine::SimulatedMachine(const cycle::StatusRecord& initial, Clock::time_point now)
    : status_(initial), lastReport_(now) {}

cycle::StatusRecord SimulatedMachine::Report(Clock::time_point now) {
  const auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(now - lastReport_).count();
  if (elapsed > 0) {
    status_.TimeStamp += static_cast<std::uint32_t>(elapsed * kTicksPerMicrosecond);
    lastReport_ = now;
  }
  return status_;
}

}  // namespace veltra::emu

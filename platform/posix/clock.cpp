#include "platform/clock.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace platform {
namespace {

class SystemClock final : public Clock {
 public:
  std::uint32_t TickCount() override {
    const auto since = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
  }
  void Sleep(std::uint32_t milliseconds) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  }
};

SystemClock systemClock;
std::atomic<Clock*> installed{nullptr};

Clock& Current() {
  Clock* clock = installed.load();
  return clock ? *clock : systemClock;
}

}  // namespace

void SetClock(Clock* clock) { installed = clock; }
bool UsingSystemClock() { return installed.load() == nullptr; }
std::uint32_t TickCount() { return Current().TickCount(); }
void Sleep(std::uint32_t milliseconds) { Current().Sleep(milliseconds); }

}  // namespace platform

#include "platform/clock.h"

#include <windows.h>

#include <atomic>

namespace platform {
namespace {
std::atomic<Clock*> installed{nullptr};
}

void SetClock(Clock* clock) { installed = clock; }
bool UsingSystemClock() { return installed.load() == nullptr; }

std::uint32_t TickCount() {
  Clock* clock = installed.load();
  return clock ? clock->TickCount() : GetTickCount();
}

void Sleep(std::uint32_t milliseconds) {
  if (Clock* clock = installed.load()) {
    clock->Sleep(milliseconds);
  } else {
    ::Sleep(milliseconds);
  }
}

}  // namespace platform

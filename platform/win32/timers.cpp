#include <windows.h>

#include <map>
#include <memory>

#include "platform/clock.h"
#include "platform/timers.h"
#include "timers_internal.h"

namespace platform {
namespace {

// Private message of the manual-clock timers; wparam is the timer id.
constexpr UINT kMsgManualTimer = WM_APP + 0x3F0;

struct ThreadTimers {
  std::map<UINT_PTR, std::shared_ptr<TimerCallback>> system;
  struct Manual {
    std::uint32_t period;
    std::uint32_t lastFire;
    std::shared_ptr<TimerCallback> callback;
  };
  std::map<TimerId, Manual> manual;
  TimerId nextManual = 0x40000000;
};

ThreadTimers& Timers() {
  thread_local ThreadTimers timers;
  return timers;
}

void CALLBACK SystemTimerProc(HWND, UINT, UINT_PTR id, DWORD) {
  auto found = Timers().system.find(id);
  if (found == Timers().system.end()) return;
  auto callback = found->second;  // the callback may kill its own timer
  (*callback)(id);
}

}  // namespace

TimerId StartThreadTimer(std::uint32_t periodMilliseconds, TimerCallback callback) {
  if (!callback) return 0;
  auto shared = std::make_shared<TimerCallback>(std::move(callback));
  if (!UsingSystemClock()) {
    const TimerId id = Timers().nextManual++;
    Timers().manual[id] = {periodMilliseconds ? periodMilliseconds : 1, TickCount(), shared};
    return id;
  }
  const UINT_PTR id = SetTimer(nullptr, 0, periodMilliseconds, SystemTimerProc);
  if (id != 0) Timers().system[id] = shared;
  return id;
}

bool KillThreadTimer(TimerId timer) {
  if (Timers().manual.erase(timer)) return true;
  if (!Timers().system.erase(timer)) return false;
  KillTimer(nullptr, timer);
  return true;
}

namespace win32 {

bool ManualTimersArmed() { return !Timers().manual.empty(); }

bool TakeDueManualTimer(Message& message) {
  const std::uint32_t now = TickCount();
  for (auto& [id, timer] : Timers().manual) {
    if (now - timer.lastFire < timer.period) continue;
    timer.lastFire = now;
    message = Message{nullptr, kMsgManualTimer, id, 0};
    return true;
  }
  return false;
}

bool DispatchManualTimer(const Message& message) {
  if (message.window != nullptr || message.id != kMsgManualTimer) return false;
  auto found = Timers().manual.find(message.wparam);
  if (found != Timers().manual.end()) {
    auto callback = found->second.callback;
    (*callback)(found->first);
  }
  return true;
}

}  // namespace win32
}  // namespace platform

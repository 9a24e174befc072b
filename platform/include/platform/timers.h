// Thread timers without a window: the callback runs on the creating thread
// when its message loop dispatches the timer message.
#pragma once

#include <cstdint>
#include <functional>

namespace platform {

using TimerId = std::uintptr_t;
using TimerCallback = std::function<void(TimerId)>;

// Returns 0 when the timer cannot be created. Like Windows, a timer that is
// overdue several periods fires once when the loop gets to it.
TimerId StartThreadTimer(std::uint32_t periodMilliseconds, TimerCallback callback);
bool KillThreadTimer(TimerId timer);

}  // namespace platform

// Thread timers: Windows' own (SetTimer with a callback) on the system clock;
// under a manual clock the timers are checked against that clock whenever
// the thread looks for messages, as the Linux stand-in does.
#pragma once

#include "platform/messages.h"

namespace platform::win32 {

bool ManualTimersArmed();
bool TakeDueManualTimer(Message& message);
// True when the message was a manual timer's and its callback ran.
bool DispatchManualTimer(const Message& message);

}  // namespace platform::win32

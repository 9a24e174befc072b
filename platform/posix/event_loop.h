// Linux only: file descriptors waited on by a thread's message loop. The
// socket layer uses it to turn readiness into the notifications that Windows
// delivers through the thread's queue.
#pragma once

#include <cstdint>
#include <functional>

namespace platform::posix {

using WatchId = std::uint32_t;
// Called from the owning thread's dispatch with the poll() result bits.
using WatchCallback = std::function<void(short readyEvents)>;

// The calling thread's loop polls fd for the given poll() events; each time
// it finds one ready it queues a notification whose dispatch runs the
// callback. Events stay armed until changed, so a callback that does not
// want to hear again (data left unread, say) narrows them first.
WatchId WatchDescriptor(int fd, short events, WatchCallback callback);
void SetWatchEvents(WatchId watch, short events);
void Unwatch(WatchId watch);

}  // namespace platform::posix

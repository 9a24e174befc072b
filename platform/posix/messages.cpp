// Thread queues, windows, timers and watched descriptors on Linux, in the
// order Windows hands messages out: sent messages first, then posted ones
// (socket notifications are posted), then the quit request, then timers.

#include "platform/messages.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <deque>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "event_loop.h"
#include "platform/clock.h"
#include "platform/timers.h"

namespace platform {
namespace {

// Private message that carries a descriptor's readiness to its callback.
constexpr std::uint32_t kMsgDescriptorReady = 0x7FF0;

struct SendRequest {
  Message message;
  std::promise<std::intptr_t> result;
};

struct TimerEntry {
  TimerId id = 0;
  std::uint32_t period = 0;
  std::uint32_t lastFire = 0;
  std::shared_ptr<TimerCallback> callback;
};

struct WatchEntry {
  posix::WatchId id = 0;
  int fd = -1;
  short events = 0;
  bool queued = false;  // a notification waits in the queue
  std::shared_ptr<posix::WatchCallback> callback;
};

struct ThreadQueue {
  ThreadId id = 0;
  int wakeFd = -1;

  std::mutex mutex;  // guards the members up to the next comment
  std::deque<Message> posted;
  std::deque<std::shared_ptr<SendRequest>> sent;
  bool quitRequested = false;
  int quitCode = 0;
  bool closed = false;

  // Touched by the owning thread only.
  std::vector<TimerEntry> timers;
  std::vector<WatchEntry> watches;

  ThreadQueue() : wakeFd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}
  ~ThreadQueue() {
    if (wakeFd >= 0) close(wakeFd);
  }
  void Wake() const {
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t written = write(wakeFd, &one, sizeof one);
  }
  void DrainWake() const {
    std::uint64_t value = 0;
    [[maybe_unused]] ssize_t got = read(wakeFd, &value, sizeof value);
  }
};

struct WindowEntry {
  ThreadId thread = 0;
  std::shared_ptr<WindowProcedure> procedure;
};

struct Registry {
  std::mutex mutex;
  std::map<ThreadId, std::shared_ptr<ThreadQueue>> threads;
  std::map<std::uintptr_t, WindowEntry> windows;
  std::uintptr_t nextWindow = 0x1000;
  std::atomic<ThreadId> nextThread{1};
  std::atomic<TimerId> nextTimer{1};
  std::atomic<posix::WatchId> nextWatch{1};
};

Registry& TheRegistry() {
  static Registry* registry = new Registry;  // outlives every thread's exit
  return *registry;
}

void UnregisterThread(ThreadQueue& queue);

struct ThreadQueueHolder {
  std::shared_ptr<ThreadQueue> queue;
  ~ThreadQueueHolder() {
    if (queue) UnregisterThread(*queue);
  }
};

ThreadQueue& OwnQueue() {
  thread_local ThreadQueueHolder holder;
  if (!holder.queue) {
    auto queue = std::make_shared<ThreadQueue>();
    Registry& registry = TheRegistry();
    queue->id = registry.nextThread++;
    std::lock_guard lock(registry.mutex);
    registry.threads[queue->id] = queue;
    holder.queue = queue;
  }
  return *holder.queue;
}

std::shared_ptr<ThreadQueue> QueueOf(ThreadId thread) {
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  auto found = registry.threads.find(thread);
  return found == registry.threads.end() ? nullptr : found->second;
}

// A thread that ends takes its windows with it, and whoever waits on a
// message sent to it gets 0.
void UnregisterThread(ThreadQueue& queue) {
  Registry& registry = TheRegistry();
  {
    std::lock_guard lock(registry.mutex);
    registry.threads.erase(queue.id);
    std::erase_if(registry.windows, [&](const auto& entry) { return entry.second.thread == queue.id; });
  }
  std::lock_guard lock(queue.mutex);
  queue.closed = true;
  for (auto& request : queue.sent) request->result.set_value(0);
  queue.sent.clear();
}

bool FindWindow(Window window, WindowEntry& entry) {
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  auto found = registry.windows.find(reinterpret_cast<std::uintptr_t>(window));
  if (found == registry.windows.end()) return false;
  entry = found->second;
  return true;
}

bool Post(ThreadQueue& queue, const Message& message) {
  {
    std::lock_guard lock(queue.mutex);
    if (queue.closed) return false;
    queue.posted.push_back(message);
  }
  queue.Wake();
  return true;
}

void ProcessSentMessages(ThreadQueue& queue) {
  for (;;) {
    std::shared_ptr<SendRequest> request;
    {
      std::lock_guard lock(queue.mutex);
      if (queue.sent.empty()) return;
      request = queue.sent.front();
      queue.sent.pop_front();
    }
    WindowEntry entry;
    std::intptr_t result = 0;
    if (FindWindow(request->message.window, entry) && entry.thread == queue.id) {
      result = (*entry.procedure)(request->message);
    }
    request->result.set_value(result);
  }
}

// Queues one notification for every watched descriptor that is ready now,
// waiting at most timeoutMs (-1: until something happens) for the first one.
void PollDescriptors(ThreadQueue& queue, int timeoutMs) {
  std::vector<pollfd> fds;
  fds.push_back({queue.wakeFd, POLLIN, 0});
  std::vector<std::size_t> owners;
  for (std::size_t i = 0; i < queue.watches.size(); ++i) {
    const WatchEntry& watch = queue.watches[i];
    if (watch.queued || watch.events == 0) continue;
    fds.push_back({watch.fd, watch.events, 0});
    owners.push_back(i);
  }
  if (poll(fds.data(), fds.size(), timeoutMs) <= 0) return;
  if (fds[0].revents) queue.DrainWake();
  for (std::size_t k = 1; k < fds.size(); ++k) {
    if (fds[k].revents == 0) continue;
    WatchEntry& watch = queue.watches[owners[k - 1]];
    watch.queued = true;
    Message message;
    message.id = kMsgDescriptorReady;
    message.wparam = watch.id;
    message.lparam = fds[k].revents;
    std::lock_guard lock(queue.mutex);
    queue.posted.push_back(message);
  }
}

bool TakePosted(ThreadQueue& queue, Message& message) {
  std::lock_guard lock(queue.mutex);
  if (!queue.posted.empty()) {
    message = queue.posted.front();
    queue.posted.pop_front();
    return true;
  }
  if (queue.quitRequested) {
    queue.quitRequested = false;
    message = Message{};
    message.id = kMsgQuit;
    message.wparam = static_cast<std::uintptr_t>(queue.quitCode);
    return true;
  }
  return false;
}

bool TakeDueTimer(ThreadQueue& queue, Message& message) {
  const std::uint32_t now = TickCount();
  for (TimerEntry& timer : queue.timers) {
    if (now - timer.lastFire >= timer.period) {
      timer.lastFire = now;
      message = Message{};
      message.id = kMsgTimer;
      message.wparam = timer.id;
      return true;
    }
  }
  return false;
}

// Milliseconds until the next timer is due; -1 when no timer is armed.
int NextTimerWait(const ThreadQueue& queue) {
  if (queue.timers.empty()) return -1;
  if (!UsingSystemClock()) return 1;  // a manual clock moves without waking us
  const std::uint32_t now = TickCount();
  std::uint32_t wait = UINT32_MAX;
  for (const TimerEntry& timer : queue.timers) {
    const std::uint32_t elapsed = now - timer.lastFire;
    wait = std::min(wait, elapsed >= timer.period ? 0u : timer.period - elapsed);
  }
  return static_cast<int>(std::min<std::uint32_t>(wait, 1000));
}

bool NextMessage(Message& message, bool wait) {
  ThreadQueue& queue = OwnQueue();
  for (;;) {
    ProcessSentMessages(queue);
    PollDescriptors(queue, 0);
    if (TakePosted(queue, message)) return true;
    if (TakeDueTimer(queue, message)) return true;
    if (!wait) return false;
    PollDescriptors(queue, NextTimerWait(queue));
  }
}

}  // namespace

ThreadId CurrentThreadId() { return OwnQueue().id; }

Window MakeWindow(WindowProcedure procedure) {
  const ThreadId thread = CurrentThreadId();
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  const std::uintptr_t handle = registry.nextWindow++;
  registry.windows[handle] = WindowEntry{thread, std::make_shared<WindowProcedure>(std::move(procedure))};
  return reinterpret_cast<Window>(handle);
}

void DestroyWindow(Window window) {
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  registry.windows.erase(reinterpret_cast<std::uintptr_t>(window));
}

bool IsWindow(Window window) {
  WindowEntry entry;
  return FindWindow(window, entry);
}

ThreadId WindowThread(Window window) {
  WindowEntry entry;
  return FindWindow(window, entry) ? entry.thread : 0;
}

bool PostToWindow(Window window, std::uint32_t id, std::uintptr_t wparam, std::intptr_t lparam) {
  WindowEntry entry;
  if (!FindWindow(window, entry)) return false;
  auto queue = QueueOf(entry.thread);
  return queue && Post(*queue, Message{window, id, wparam, lparam});
}

bool PostToThread(ThreadId thread, std::uint32_t id, std::uintptr_t wparam, std::intptr_t lparam) {
  auto queue = QueueOf(thread);
  return queue && Post(*queue, Message{nullptr, id, wparam, lparam});
}

std::intptr_t SendToWindow(Window window, std::uint32_t id, std::uintptr_t wparam, std::intptr_t lparam) {
  WindowEntry entry;
  if (!FindWindow(window, entry)) return 0;
  const Message message{window, id, wparam, lparam};
  ThreadQueue& own = OwnQueue();
  if (entry.thread == own.id) return (*entry.procedure)(message);

  auto target = QueueOf(entry.thread);
  if (!target) return 0;
  auto request = std::make_shared<SendRequest>();
  request->message = message;
  std::future<std::intptr_t> result = request->result.get_future();
  {
    std::lock_guard lock(target->mutex);
    if (target->closed) return 0;
    target->sent.push_back(request);
  }
  target->Wake();
  // Like Windows, a waiting sender still answers what is sent to it.
  while (result.wait_for(std::chrono::milliseconds(1)) != std::future_status::ready) {
    ProcessSentMessages(own);
  }
  return result.get();
}

void PostQuitMessage(int exitCode) {
  ThreadQueue& queue = OwnQueue();
  {
    std::lock_guard lock(queue.mutex);
    queue.quitRequested = true;
    queue.quitCode = exitCode;
  }
  queue.Wake();
}

bool GetNextMessage(Message& message) {
  NextMessage(message, true);
  return message.id != kMsgQuit;
}

bool PeekNextMessage(Message& message) { return NextMessage(message, false); }

std::intptr_t DispatchOneMessage(const Message& message) {
  ThreadQueue& queue = OwnQueue();
  if (message.window == nullptr && message.id == kMsgTimer) {
    for (const TimerEntry& timer : queue.timers) {
      if (timer.id != message.wparam) continue;
      const TimerId id = timer.id;
      auto callback = timer.callback;  // the callback may kill its own timer
      (*callback)(id);
      return 0;
    }
    return 0;
  }
  if (message.window == nullptr && message.id == kMsgDescriptorReady) {
    for (WatchEntry& watch : queue.watches) {
      if (watch.id != message.wparam) continue;
      watch.queued = false;
      auto callback = watch.callback;
      (*callback)(static_cast<short>(message.lparam));
      return 0;
    }
    return 0;
  }
  WindowEntry entry;
  if (message.window == nullptr || !FindWindow(message.window, entry) || entry.thread != queue.id) return 0;
  return (*entry.procedure)(message);
}

TimerId StartThreadTimer(std::uint32_t periodMilliseconds, TimerCallback callback) {
  if (!callback) return 0;
  ThreadQueue& queue = OwnQueue();
  TimerEntry timer;
  timer.id = TheRegistry().nextTimer++;
  timer.period = std::max<std::uint32_t>(periodMilliseconds, 1);
  timer.lastFire = TickCount();
  timer.callback = std::make_shared<TimerCallback>(std::move(callback));
  queue.timers.push_back(timer);
  return timer.id;
}

bool KillThreadTimer(TimerId timer) {
  ThreadQueue& queue = OwnQueue();
  return std::erase_if(queue.timers, [&](const TimerEntry& entry) { return entry.id == timer; }) > 0;
}

namespace posix {

WatchId WatchDescriptor(int fd, short events, WatchCallback callback) {
  ThreadQueue& queue = OwnQueue();
  WatchEntry watch;
  watch.id = TheRegistry().nextWatch++;
  watch.fd = fd;
  watch.events = events;
  watch.callback = std::make_shared<WatchCallback>(std::move(callback));
  queue.watches.push_back(watch);
  return watch.id;
}

void SetWatchEvents(WatchId id, short events) {
  for (WatchEntry& watch : OwnQueue().watches) {
    if (watch.id == id) watch.events = events;
  }
}

// A notification already queued for this watch is dropped at dispatch,
// because the id is no longer found.
void Unwatch(WatchId id) {
  std::erase_if(OwnQueue().watches, [&](const WatchEntry& watch) { return watch.id == id; });
}

}  // namespace posix
}  // namespace platform

// Threads with their own message queues, windows with procedures, posted and
// sent messages, the pump and the main loop, with Windows semantics. The
// host stand-in and the plugin share one instance of this layer, as every
// Windows program shares user32.
#pragma once

#include <cstdint>
#include <functional>

namespace platform {

struct WindowTag;
using Window = WindowTag*;
using ThreadId = std::uint32_t;

struct Message {
  Window window = nullptr;
  std::uint32_t id = 0;
  std::uintptr_t wparam = 0;
  std::intptr_t lparam = 0;
};

// Message numbers, as Windows numbers them.
inline constexpr std::uint32_t kMsgClose = 0x0010;
inline constexpr std::uint32_t kMsgQuit = 0x0012;
inline constexpr std::uint32_t kMsgCommand = 0x0111;
inline constexpr std::uint32_t kMsgTimer = 0x0113;
inline constexpr std::uint32_t kMsgUser = 0x0400;

using WindowProcedure = std::function<std::intptr_t(const Message&)>;

ThreadId CurrentThreadId();

// A window belongs to the thread that creates it; its procedure runs on that
// thread only, when the thread dispatches or is sent a message.
Window MakeWindow(WindowProcedure procedure);
void DestroyWindow(Window window);
bool IsWindow(Window window);
ThreadId WindowThread(Window window);

bool PostToWindow(Window window, std::uint32_t id, std::uintptr_t wparam = 0, std::intptr_t lparam = 0);
bool PostToThread(ThreadId thread, std::uint32_t id, std::uintptr_t wparam = 0,
                  std::intptr_t lparam = 0);
// Runs the window procedure synchronously: directly on the window's own
// thread, otherwise on that thread while the caller waits. Returns 0 for a
// window that does not exist.
std::intptr_t SendToWindow(Window window, std::uint32_t id, std::uintptr_t wparam = 0,
                           std::intptr_t lparam = 0);
void PostQuitMessage(int exitCode);

// Waits for the next message of the calling thread (timers and socket events
// included). Returns false when it is the quit message.
bool GetNextMessage(Message& message);
// Takes the next waiting message without waiting; false when none waits.
bool PeekNextMessage(Message& message);
std::intptr_t DispatchOneMessage(const Message& message);
// Dispatches every message that is waiting now; a quit message found on the
// way is put back, so the enclosing loop still sees it.
void DispatchWaitingMessages();
// Get and dispatch until the quit message; returns its exit code.
int RunMessageLoop();

}  // namespace platform

// Thread queues and windows are Windows' own here. Windows the platform
// makes are hidden top-level windows (so a host can give one a menu bar);
// their procedure sees the messages the plugin uses and the rest goes to the
// default procedure.

#include "platform/messages.h"

#include <windows.h>


#include "platform/clock.h"
#include "platform/timers.h"
#include "hidden_window.h"
#include "timers_internal.h"

namespace platform {
namespace {

constexpr const char* kWindowClass = "VeltraPlatformWindow";

bool RoutedToProcedure(UINT id) {
  return id == WM_COMMAND || id == WM_TIMER || id == WM_CLOSE || id == WM_COPYDATA || id >= WM_USER;
}

LRESULT CALLBACK WindowProc(HWND hwnd, UINT id, WPARAM wparam, LPARAM lparam) {
  auto* procedure = reinterpret_cast<WindowProcedure*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  if (id == WM_NCDESTROY) {
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
    delete procedure;
    return DefWindowProcA(hwnd, id, wparam, lparam);
  }
  if (procedure && RoutedToProcedure(id)) {
    return (*procedure)(Message{reinterpret_cast<Window>(hwnd), id, wparam, lparam});
  }
  return DefWindowProcA(hwnd, id, wparam, lparam);
}

MSG ToMsg(const Message& message) {
  MSG msg{};
  msg.hwnd = reinterpret_cast<HWND>(message.window);
  msg.message = message.id;
  msg.wParam = message.wparam;
  msg.lParam = message.lparam;
  return msg;
}

Message FromMsg(const MSG& msg) {
  return Message{reinterpret_cast<Window>(msg.hwnd), msg.message, msg.wParam, msg.lParam};
}

}  // namespace

ThreadId CurrentThreadId() { return GetCurrentThreadId(); }

Window MakeWindow(WindowProcedure procedure) {
  HWND hwnd = win32::CreateHiddenWindow(kWindowClass, WindowProc, false);
  if (!hwnd) return nullptr;
  SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(new WindowProcedure(std::move(procedure))));
  return reinterpret_cast<Window>(hwnd);
}

void DestroyWindow(Window window) { ::DestroyWindow(reinterpret_cast<HWND>(window)); }

bool IsWindow(Window window) { return window && ::IsWindow(reinterpret_cast<HWND>(window)); }

ThreadId WindowThread(Window window) {
  return IsWindow(window) ? GetWindowThreadProcessId(reinterpret_cast<HWND>(window), nullptr) : 0;
}

bool PostToWindow(Window window, std::uint32_t id, std::uintptr_t wparam, std::intptr_t lparam) {
  return IsWindow(window) && PostMessageA(reinterpret_cast<HWND>(window), id, wparam, lparam);
}

bool PostToThread(ThreadId thread, std::uint32_t id, std::uintptr_t wparam, std::intptr_t lparam) {
  return PostThreadMessageA(thread, id, wparam, lparam) != 0;
}

std::intptr_t SendToWindow(Window window, std::uint32_t id, std::uintptr_t wparam, std::intptr_t lparam) {
  return IsWindow(window) ? SendMessageA(reinterpret_cast<HWND>(window), id, wparam, lparam) : 0;
}

void PostQuitMessage(int exitCode) { ::PostQuitMessage(exitCode); }

bool GetNextMessage(Message& message) {
  for (;;) {
    if (win32::TakeDueManualTimer(message)) return true;
    MSG msg;
    if (!win32::ManualTimersArmed()) {
      const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
      message = FromMsg(msg);
      if (got == -1) message.id = WM_QUIT;
      return got > 0;
    }
    // A manual clock moves without waking us: look again every millisecond.
    if (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      message = FromMsg(msg);
      return msg.message != WM_QUIT;
    }
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_ALLINPUT);
  }
}

bool PeekNextMessage(Message& message) {
  MSG msg;
  if (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    message = FromMsg(msg);
    return true;
  }
  return win32::TakeDueManualTimer(message);
}

std::intptr_t DispatchOneMessage(const Message& message) {
  if (win32::DispatchManualTimer(message)) return 0;
  const MSG msg = ToMsg(message);
  return DispatchMessageA(&msg);
}

}  // namespace platform

#include "hidden_window.h"

#include <mutex>
#include <set>
#include <string>

namespace platform::win32 {

HWND CreateHiddenWindow(const char* className, WNDPROC procedure, bool messageOnly) {
  static std::mutex mutex;
  static std::set<std::string> registered;
  const HINSTANCE instance = GetModuleHandleA(nullptr);
  {
    std::lock_guard lock(mutex);
    if (registered.insert(className).second) {
      WNDCLASSA windowClass{};
      windowClass.lpfnWndProc = procedure;
      windowClass.hInstance = instance;
      windowClass.lpszClassName = className;
      RegisterClassA(&windowClass);
    }
  }
  if (messageOnly) {
    return CreateWindowExA(0, className, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, nullptr);
  }
  return CreateWindowExA(0, className, "", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, 640, 480, nullptr,
                         nullptr, instance, nullptr);
}

}  // namespace platform::win32

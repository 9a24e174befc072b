#include "ui/window_handles.h"

namespace veltra::ui {

CycleWindows& Windows() {
  static CycleWindows windows;
  return windows;
}

bool WindowExists(platform::Window window) { return window != nullptr && platform::IsWindow(window); }

}  // namespace veltra::ui

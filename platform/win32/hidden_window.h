// The platform's own windows: a class per purpose, registered once, and a
// hidden window of that class on the calling thread (top-level, so that a
// host may give it a menu bar, or message-only).
#pragma once

#include <windows.h>

namespace platform::win32 {

HWND CreateHiddenWindow(const char* className, WNDPROC procedure, bool messageOnly);

}  // namespace platform::win32

// The windows the cycle feeds by posting them the new-data message: the
// status window, the THC options page and the THC voltage graph. Each
// handle is null while its window does not exist; the window's own code
// sets it when it opens and clears it when it closes.
#pragma once

#include <cstdint>

#include "platform/messages.h"

namespace veltra::ui {

// New data for a window; always posted, never sent.
inline constexpr std::uint32_t kMsgNewData = platform::kMsgUser + 100;

struct CycleWindows {
  platform::Window statusWindow = nullptr;
  // The status window shows the controller as online.
  bool statusWindowShowsOnline = false;
  platform::Window thcOptionsPage = nullptr;
  platform::Window thcGraph = nullptr;
};

CycleWindows& Windows();

// True when the handle names a window that exists.
bool WindowExists(platform::Window window);

}  // namespace veltra::ui

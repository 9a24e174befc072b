// Plugin-wide state of the entry points and the lifecycle, created zeroed
// when the library loads.
#pragma once

#include <cstdint>
#include <string>

#include "platform/timers.h"

namespace veltra::plugin {

struct PluginState {
  std::int32_t MenuBase = 0;  // first of four consecutive menu ids
  std::string profileName;
  bool PostInitDone = false;
  bool TimerRunning = false;  // shared with the periodic update and the cycle
  bool UpdateSeen = false;
  platform::TimerId cycleTimer = 0;
  std::string PluginVersion;  // "%d%d.%d%d" of the product version
};

PluginState& State();

}  // namespace veltra::plugin

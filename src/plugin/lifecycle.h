// The work behind the entry points of the plugin's lifecycle: start-up in
// the host's calling order, the menu entries, the configuration command and
// shutdown.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/module.h"

namespace veltra::plugin {

inline constexpr const char* kPluginDisplayName = "VELTRA plugin";
inline constexpr std::uint32_t kGeneralConfigCommand = 27837;

bool InitControl(void* engine, void* setup, void* planner, void* view);
const char* SetProName(const char* name);
void PostInitControl();
void StopPlug();

// The menu ids reserved in InitControl; false when the id is none of them.
bool HandleMenuCommand(std::int32_t id);
void RunConfigCommand();

void ShowStatus(std::string_view text);

// After the plugin's configuration changed: the host stays in e-stop until
// the user presses Reset, which uploads the new configuration.
void ForceEStopForNewConfiguration();

// min(trunc(frequency x 20/19), 5,000,000), the limit compared unsigned.
double MaxPulseRateFor(std::int32_t maxFrequency);
std::string FormatPluginVersion(const std::optional<platform::ProductVersion>& version);

}  // namespace veltra::plugin

#include "plugin/lifecycle.h"

#include <cstdio>
#include <string>
#include <vector>

#include "cycle/cycle.h"
#include "link/command_table.h"
#include "link/commands.h"
#include "link/controller_socket.h"
#include "link/host_address.h"
#include "platform/clock.h"
#include "platform/menu.h"
#include "platform/message_box.h"
#include "platform/timers.h"
#include "plugin/host_blocks.h"
#include "plugin/host_callbacks.h"
#include "plugin/host_objects.h"
#include "plugin/nominal_voltage.h"
#include "plugin/numeric.h"
#include "plugin/plugin_state.h"
#include "settings/process_settings.h"
#include "settings/profile_io.h"
#include "settings/profile_store.h"
#include "ui/config_dialog.h"
#include "ui/modal.h"
#include "ui/window_handles.h"

namespace veltra::plugin {
namespace {

constexpr std::uint32_t kMaxPulseRateLimit = 5000000;
constexpr int kDroPierceDelay = 177;
constexpr std::int32_t kEStopCauseNewConfiguration = 8;
constexpr std::uint32_t kWindowEndPollMs = 200;

// Reads an item's text the way the host's menu wants it asked: the length
// first, then into a buffer one character longer.
bool ReadMenuText(platform::Menu menu, int position, std::string& text) {
  const int length = platform::MenuItemTextLength(menu, position);
  if (length < 0) return false;
  std::vector<char> buffer(static_cast<std::size_t>(length) + 1);
  const int copied = platform::MenuItemText(menu, position, buffer.data(), length + 1);
  if (copied < 0) return false;
  text.assign(buffer.data(), static_cast<std::size_t>(copied));
  return true;
}

void InsertPluginMenu(platform::Menu bar, std::int32_t menuBase) {
  const int count = platform::MenuItemCount(bar);
  for (int position = 0; position < count; ++position) {
    std::string text;
    if (!ReadMenuText(bar, position, text) || text != "PlugIn Control") continue;
    platform::Menu dropDown = platform::MenuItemPopup(bar, position);
    if (dropDown) {
      platform::AppendMenuString(dropDown, static_cast<std::uint32_t>(menuBase), "VELTRA config...");
      platform::AppendMenuString(dropDown, static_cast<std::uint32_t>(menuBase + 1), "VELTRA status...");
      platform::AppendMenuString(dropDown, static_cast<std::uint32_t>(menuBase + 2), "VELTRA network setup...");
    }
    return;
  }
}

void TakeOverGeneralConfig(platform::Menu bar, std::int32_t menuBase) {
  platform::MenuItemInfo item;
  if (!platform::FindMenuItemById(bar, kGeneralConfigCommand, &item)) return;
  if (item.type != platform::MenuItemType::String || item.text != "General Config...") return;
  platform::SetMenuItemId(bar, kGeneralConfigCommand, static_cast<std::uint32_t>(menuBase + 3));
}

void RunNetworkSetupCommand() {
  if (ui::RunModal(ui::ModalDialog::NetworkSetup) != ui::DialogResult::Ok) return;
  ForceEStopForNewConfiguration();
  link::ChooseHostAddress();
}

void RunHostGeneralConfig() {
  platform::SendToWindow(host::MainWindow(), platform::kMsgCommand, kGeneralConfigCommand, 0);
  ForceEStopForNewConfiguration();
}

// The status window and the graph run on threads of their own, which end
// when their message loop takes a quit message.
void EndWindowThread(platform::Window window) {
  if (!ui::WindowExists(window)) return;
  platform::PostToWindow(window, platform::kMsgQuit);
  while (ui::WindowExists(window)) platform::Sleep(kWindowEndPollMs);
}

}  // namespace

PluginState& State() {
  static PluginState state;
  return state;
}

double MaxPulseRateFor(std::int32_t maxFrequency) {
  const std::int32_t rate = TruncateSaturating<std::int32_t>(maxFrequency * 1.0526315789473684);
  const std::uint32_t limited =
      static_cast<std::uint32_t>(rate) > kMaxPulseRateLimit ? kMaxPulseRateLimit : static_cast<std::uint32_t>(rate);
  return static_cast<double>(limited);
}

std::string FormatPluginVersion(const std::optional<platform::ProductVersion>& version) {
  if (!version) return {};
  char text[32];
  std::snprintf(text, sizeof text, "%d%d.%d%d", version->major, version->minor, version->build, version->revision);
  return text;
}

void ShowStatus(std::string_view text) { host::AssignStatusText(text); }

void ForceEStopForNewConfiguration() {
  EngineBlock::EStopCause.Set(kEStopCauseNewConfiguration);
  EngineBlock::EStop.Set(1);
}

bool InitControl(void* engine, void* setup, void* planner, void* view) {
  host::SetBlockBases(static_cast<std::byte*>(engine), static_cast<std::byte*>(setup),
                      static_cast<std::byte*>(planner), static_cast<std::byte*>(view));
  PluginState& state = State();
  state.MenuBase = host::ReserveMenuIds(4);
  ViewBlock::InitClearedFlag.Set(0);
  state.TimerRunning = false;
  state.UpdateSeen = false;
  return true;
}

const char* SetProName(const char* name) {
  State().profileName = name ? name : "";
  settings::ProfilePath() = State().profileName;
  settings::LoadSettings();
  return kPluginDisplayName;
}

void PostInitControl() {
  PluginState& state = State();
  state.PostInitDone = true;

  PlannerBlock::PostInitWordOne.Set(1);
  PlannerBlock::PostInitRealMilli.Set(0.001);
  PlannerBlock::PostInitCount350.Set(350);
  PlannerBlock::PostInitByteZero.Set(0);
  PlannerBlock::PostInitByteOne.Set(1);
  PlannerBlock::PostInitPercent.Set(100.0);
  PlannerBlock::HardwareFeedhold.Set(ui::TheConfigDialog().general.HwFeedhold != 0 ? 1 : 0);

  const auto& maxFrequency = ui::TheConfigDialog().pulseEngine.MaxFreq;
  for (int n = 0; n < ui::kStepOutputCount; ++n) {
    PlannerBlock::MaxPulseRate.Set(n, MaxPulseRateFor(maxFrequency[n]));
  }

  if (platform::Menu bar = platform::GetWindowMenu(host::MainWindow())) {
    InsertPluginMenu(bar, state.MenuBase);
    TakeOverGeneralConfig(bar, state.MenuBase);
  }

  state.PluginVersion = FormatPluginVersion(platform::ModuleProductVersion());
  for (std::uint32_t i = 0; i < EngineBlock::PostInitCleared.count; ++i) EngineBlock::PostInitCleared.Set(i, 0);
  ShowStatus("Ethernet controller plugin initialized.");
}

bool HandleMenuCommand(std::int32_t id) {
  const std::int32_t base = State().MenuBase;
  if (id == base) {
    RunConfigCommand();
  } else if (id == base + 1) {
    // The status window comes with the user interface.
  } else if (id == base + 2) {
    RunNetworkSetupCommand();
  } else if (id == base + 3) {
    RunHostGeneralConfig();
  } else {
    return false;
  }
  return true;
}

void RunConfigCommand() {
  ui::ThcOptionsPage& thcPage = ui::TheConfigDialog().thcOptions;
  thcPage.pierceDelay = TruncateSaturating<std::int32_t>(host::GetDro(kDroPierceDelay) * 1000.0);
  thcPage.nominalVoltage = NarrowToFloat(settings::Process().THCnomvoltage);

  if (ui::RunModal(ui::ModalDialog::Configuration) != ui::DialogResult::Ok) return;

  ForceEStopForNewConfiguration();
  host::SetDro(kDroPierceDelay, thcPage.pierceDelay * 0.001);
  SetThcNominalVoltage(thcPage.nominalVoltage);
  if (ui::TheConfigDialog().general.LaserGL && SetupBlock::AxisWorkOffset.Get(3) != 0.0) {
    platform::ShowMessageBox(
        "WARNING: gray level laser engraving option is selected but current working offset for A axis is not "
        "zero.");
  }
}

void StopPlug() {
  settings::SaveSettings();
  PluginState& state = State();
  for (int wait = 0; wait < 6 && state.TimerRunning; ++wait) platform::Sleep(100);
  // Nothing dispatches the timer while the host waits here, so it would
  // still be armed when the host unloads the library, and its next tick
  // would call into unloaded code.
  if (state.cycleTimer != 0) {
    platform::KillThreadTimer(state.cycleTimer);
    state.cycleTimer = 0;
    state.TimerRunning = false;
  }

  // The controller's outputs go to what the host last asked for, without the
  // control flags, before it shuts down.
  if (link::Online()) {
    link::SendCommand(link::CMD_SET_OUTPUTS, cycle::EncodeOutputsPayload(cycle::OutputPinMask(), 0));
    if (link::Online()) {
      const std::byte shutDown[] = {std::byte{link::stop_mode::kShutDown}};
      link::SendCommand(link::CMD_STOP, shutDown);
    }
  }
  cycle::TakeWaitingFrames();
  link::Link().ControllerOnline = false;
  link::Disconnect();

  EndWindowThread(ui::Windows().statusWindow);
  EndWindowThread(ui::Windows().thcGraph);
}

}  // namespace veltra::plugin

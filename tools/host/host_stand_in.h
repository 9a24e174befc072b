// The host stand-in: it plays the CNC host program for the plugin. It owns
// the four host blocks, the seven callbacks with real behaviour (DROs, LEDs,
// buttons, menu ids), a main window with the host's menu bar and a status
// line, loads the plugin and drives it in the host's calling order.
//
// Its two objects follow the layouts of plugin/host_objects.h: the status
// line is a text record inside the planner block, named by the byte offset
// in PlannerBlock.StatusMessage; ViewBlock.MainFrame points to a main window
// object whose first field is the main window's platform handle.
//
// One stand-in exists per process at a time (the callbacks are plain C
// functions and find it through a process-wide pointer).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "plugin_exports.h"
#include "platform/menu.h"
#include "platform/messages.h"
#include "platform/timers.h"
#include "plugin/host_blocks.h"

namespace veltra::hoststub {

inline constexpr std::int32_t kFirstMenuId = 20000;
inline constexpr std::uint32_t kGeneralConfigId = 27837;
inline constexpr std::int32_t kShuttleButton = 284;
inline constexpr std::int32_t kShuttleLed = 106;
inline constexpr std::uint32_t kStatusTextCapacity = 512;
inline constexpr std::uint32_t kUpdatePeriodMs = 50;

// What the host's main window object holds; the plugin reads only `window`.
struct MainWindowObject {
  platform::Window window = nullptr;
};

class HostStandIn {
 public:
  HostStandIn();
  ~HostStandIn();
  HostStandIn(const HostStandIn&) = delete;
  HostStandIn& operator=(const HostStandIn&) = delete;

  static HostStandIn* Current();

  // The plugin's entry points: from the shared library, or given directly by
  // a test that links the plugin's code.
  bool LoadPlugin(const std::string& path, std::string& error);
  void UsePlugin(const PluginExports& exports);
  const PluginExports& Plugin() const { return exports_; }

  // The host's calling order: the Set* exports (SetGetMenuRange first),
  // InitControl, SetProName, PostInitControl.
  void StartPlugin(const std::string& profilePath);
  // Calls Update every 50 ms from the message loop while running.
  void StartUpdates();
  void StopUpdates();
  void StopPlugin();
  // The Reset button: it toggles the host's e-stop, then calls Reset.
  void PressReset();
  // The host's work coordinates of the axes from their step positions, as
  // the host keeps them up to date (the probe starts from them).
  void RefreshWorkPositions();
  // Dispatches messages (timers, sockets, the plugin's own) for that long.
  void RunFor(std::uint32_t milliseconds);
  // Runs the loop until the predicate holds or the time is up.
  bool RunUntil(const std::function<bool()>& done, std::uint32_t timeoutMilliseconds);

  std::byte* Block(host::Block block) { return blocks_[static_cast<int>(block)].data(); }
  const host::FieldDescriptor* FindField(std::string_view qualifiedName) const;
  // Raw access by field, element and inner index, as numbers.
  bool GetField(const host::FieldDescriptor& field, std::uint32_t index, std::uint32_t inner, double& value) const;
  bool SetField(const host::FieldDescriptor& field, std::uint32_t index, std::uint32_t inner, double value);

  // A field of the stand-in's own blocks by its typed declaration; an
  // element outside the field reads as 0 and is not written.
  template <typename T>
  T Read(const host::Field<T>& field, std::uint32_t i = 0, std::uint32_t j = 0) const {
    T value{};
    if (field.Contains(i, j)) {
      std::memcpy(&value, blocks_[static_cast<int>(field.block)].data() + field.OffsetOf(i, j), sizeof value);
    }
    return value;
  }
  template <typename T>
  void Write(const host::Field<T>& field, std::uint32_t i, std::uint32_t j, std::type_identity_t<T> value) {
    if (field.Contains(i, j)) std::memcpy(Block(field.block) + field.OffsetOf(i, j), &value, sizeof value);
  }
  template <typename T>
  void Write(const host::Field<T>& field, std::uint32_t i, std::type_identity_t<T> value) {
    Write(field, i, 0, value);
  }
  template <typename T>
  void Write(const host::Field<T>& field, std::type_identity_t<T> value) {
    Write(field, 0, 0, value);
  }

  std::string StatusLine() const;
  std::uint32_t StatusSerial() const;

  double Dro(std::int32_t code) const;
  void SetDroValue(std::int32_t code, double value);
  bool Led(std::int32_t code) const;
  void SetLedValue(std::int32_t code, bool on);
  const std::vector<std::int32_t>& ButtonPresses() const { return buttonPresses_; }
  const std::optional<std::string>& CodeText() const { return codeText_; }
  int GeneralConfigRuns() const { return generalConfigRuns_; }
  std::int32_t MenuBase() const { return menuBase_; }

  platform::Window MainWindow() const { return mainWindow_.window; }
  platform::Menu MenuBar() const { return menuBar_; }
  platform::Menu PluginMenu() const { return pluginMenu_; }
  // Chooses a menu entry by its command id, as a click would.
  void ChooseMenuItem(std::uint32_t id);
  // Every item of the menu bar, indented by depth, with its id.
  std::string DescribeMenus() const;

  // Callback bodies.
  std::int32_t ReserveMenuRange(std::int32_t count);
  void PressButton(std::int32_t code);
  void RecordCode(const char* text);

 private:
  std::intptr_t MainWindowProcedure(const platform::Message& message);
  void BuildMainWindow();

  std::vector<std::byte> blocks_[host::kBlockCount];
  void* library_ = nullptr;
  PluginExports exports_{};
  MainWindowObject mainWindow_;
  platform::Menu menuBar_ = nullptr;
  platform::Menu pluginMenu_ = nullptr;
  platform::TimerId updateTimer_ = 0;
  std::map<std::int32_t, double> dros_;
  std::map<std::int32_t, bool> leds_;
  std::vector<std::int32_t> buttonPresses_;
  std::optional<std::string> codeText_;
  std::int32_t nextMenuId_ = kFirstMenuId;
  std::int32_t menuBase_ = 0;
  int generalConfigRuns_ = 0;
  std::uint32_t statusRecordOffset_ = 0;
};

}  // namespace veltra::hoststub

#include "host_stand_in.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <cmath>
#include <cstring>
#include <sstream>

#include "platform/clock.h"
#include "platform/timers.h"
#include "plugin/host_objects.h"

namespace veltra::hoststub {
namespace {

HostStandIn* current = nullptr;

#if defined(_WIN32)
void* OpenLibrary(const std::string& path, std::string& error) {
  HMODULE module = LoadLibraryA(path.c_str());
  if (!module) error = "cannot load " + path + " (error " + std::to_string(GetLastError()) + ")";
  return reinterpret_cast<void*>(module);
}
void* FindSymbol(void* library, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}
void CloseLibrary(void* library) { FreeLibrary(static_cast<HMODULE>(library)); }
#else
void* OpenLibrary(const std::string& path, std::string& error) {
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!library) error = dlerror();
  return library;
}
void* FindSymbol(void* library, const char* name) { return dlsym(library, name); }
void CloseLibrary(void* library) { dlclose(library); }
#endif

extern "C" {
std::int32_t VELTRA_CDECL HostGetMenuRange(std::int32_t count) { return current->ReserveMenuRange(count); }
void VELTRA_CDECL HostDoButton(std::int32_t code) { current->PressButton(code); }
void VELTRA_CDECL HostSetDro(std::int32_t code, double value) { current->SetDroValue(code, value); }
double VELTRA_CDECL HostGetDro(std::int32_t code) { return current->Dro(code); }
std::int32_t VELTRA_CDECL HostGetLed(std::int32_t code) { return current->Led(code) ? 1 : 0; }
void VELTRA_CDECL HostSetLed(std::int32_t code, std::int32_t state) { current->SetLedValue(code, state != 0); }
void VELTRA_CDECL HostCode(const char* text) { current->RecordCode(text); }
}

template <typename T>
T ReadAs(const std::byte* at) {
  T value{};
  std::memcpy(&value, at, sizeof value);
  return value;
}

template <typename T>
void WriteAs(std::byte* at, T value) {
  std::memcpy(at, &value, sizeof value);
}

void DescribeMenu(platform::Menu menu, int depth, std::ostringstream& out) {
  const int count = platform::MenuItemCount(menu);
  for (int position = 0; position < count; ++position) {
    const int length = platform::MenuItemTextLength(menu, position);
    std::string text;
    if (length >= 0) {
      text.resize(static_cast<std::size_t>(length) + 1);
      text.resize(static_cast<std::size_t>(platform::MenuItemText(menu, position, text.data(), length + 1)));
    }
    out << std::string(static_cast<std::size_t>(depth) * 2, ' ');
    if (platform::Menu popup = platform::MenuItemPopup(menu, position)) {
      out << text << "\n";
      DescribeMenu(popup, depth + 1, out);
    } else if (length < 0) {
      out << "----\n";
    } else {
      out << text << " [" << platform::MenuItemId(menu, position) << "]\n";
    }
  }
}

}  // namespace

HostStandIn::HostStandIn() {
  for (int b = 0; b < host::kBlockCount; ++b) {
    std::uint32_t size = host::RequiredBlockSize(static_cast<host::Block>(b));
    if (static_cast<host::Block>(b) == host::Block::Planner) {
      statusRecordOffset_ = (size + 15) / 16 * 16;
      size = statusRecordOffset_ + host::kStatusTextTextOffset + kStatusTextCapacity;
    }
    blocks_[b].assign(size, std::byte{0});
  }
  std::byte* status = Block(host::Block::Planner) + statusRecordOffset_;
  WriteAs<std::uint32_t>(status + host::kStatusTextCapacityOffset, kStatusTextCapacity);
  WriteAs<std::uint32_t>(Block(host::Block::Planner) + host::PlannerBlock::StatusMessage.offset,
                         statusRecordOffset_);
  // The host's own start values of the jog step, in units, and of the feed
  // override.
  Write(host::PlannerBlock::JogIncrement, 0.001);
  Write(host::PlannerBlock::FeedPercent, 100.0);
  BuildMainWindow();
  WriteAs<std::uintptr_t>(Block(host::Block::View) + host::ViewBlock::MainFrame.offset,
                          reinterpret_cast<std::uintptr_t>(&mainWindow_));
  current = this;
}

HostStandIn::~HostStandIn() {
  StopUpdates();
  // A test may have given the window a menu bar of its own.
  if (platform::Menu installed = platform::GetWindowMenu(mainWindow_.window); installed != menuBar_) {
    platform::DestroyMenu(installed);
  }
  platform::SetWindowMenu(mainWindow_.window, nullptr);
  platform::DestroyMenu(menuBar_);
  platform::DestroyWindow(mainWindow_.window);
  if (library_) CloseLibrary(library_);
  if (current == this) current = nullptr;
}

HostStandIn* HostStandIn::Current() { return current; }

void HostStandIn::BuildMainWindow() {
  mainWindow_.window = platform::MakeWindow([this](const platform::Message& m) { return MainWindowProcedure(m); });
  menuBar_ = platform::CreateMenuBar();

  platform::Menu file = platform::CreatePopupMenu();
  platform::AppendMenuString(file, 101, "Load G-Code");
  platform::AppendMenuSeparator(file);
  platform::AppendMenuString(file, 102, "Exit");
  platform::AppendMenuPopup(menuBar_, file, "File");

  platform::Menu config = platform::CreatePopupMenu();
  platform::AppendMenuString(config, 201, "Ports and Pins");
  platform::AppendMenuString(config, 202, "Motor Tuning");
  platform::Menu more = platform::CreatePopupMenu();
  platform::AppendMenuString(more, kGeneralConfigId, "General Config...");
  platform::AppendMenuPopup(config, more, "Setup");
  platform::AppendMenuPopup(menuBar_, config, "Config");

  pluginMenu_ = platform::CreatePopupMenu();
  platform::AppendMenuString(pluginMenu_, 301, "Config Plugins");
  platform::AppendMenuPopup(menuBar_, pluginMenu_, "PlugIn Control");

  platform::Menu help = platform::CreatePopupMenu();
  platform::AppendMenuString(help, 401, "About");
  platform::AppendMenuPopup(menuBar_, help, "Help");

  platform::SetWindowMenu(mainWindow_.window, menuBar_);
}

std::intptr_t HostStandIn::MainWindowProcedure(const platform::Message& message) {
  if (message.id != platform::kMsgCommand) return 0;
  const auto id = static_cast<std::int32_t>(message.wparam);
  if (static_cast<std::uint32_t>(id) == kGeneralConfigId) {
    ++generalConfigRuns_;
  } else if (menuBase_ != 0 && id >= menuBase_ && id < menuBase_ + 4 && exports_.Notify) {
    // The host hands a chosen plugin menu item to the plugin's Notify.
    exports_.Notify(id);
  }
  return 0;
}

bool HostStandIn::LoadPlugin(const std::string& path, std::string& error) {
  library_ = OpenLibrary(path, error);
  if (!library_) return false;
  PluginExports resolved;
#define VELTRA_RESOLVE(name)                                                          \
  resolved.name = reinterpret_cast<decltype(resolved.name)>(FindSymbol(library_, #name)); \
  if (!resolved.name) {                                                               \
    error = "the plugin does not export " #name;                                      \
    return false;                                                                     \
  }
  VELTRA_PLUGIN_EXPORTS(VELTRA_RESOLVE)
#undef VELTRA_RESOLVE
  exports_ = resolved;
  return true;
}

void HostStandIn::UsePlugin(const PluginExports& exports) { exports_ = exports; }

void HostStandIn::StartPlugin(const std::string& profilePath) {
  exports_.SetGetMenuRange(&HostGetMenuRange);
  exports_.SetDoButton(&HostDoButton);
  exports_.SetSetDRO(&HostSetDro);
  exports_.SetGetDRO(&HostGetDro);
  exports_.SetGetLED(&HostGetLed);
  exports_.SetSetLED(&HostSetLed);
  exports_.SetCode(&HostCode);
  exports_.InitControl(Block(host::Block::Engine), Block(host::Block::Setup), Block(host::Block::Planner),
                       Block(host::Block::View));
  exports_.SetProName(profilePath.c_str());
  exports_.PostInitControl();
}

void HostStandIn::StartUpdates() {
  if (updateTimer_ != 0) return;
  updateTimer_ = platform::StartThreadTimer(kUpdatePeriodMs, [this](platform::TimerId) {
    RefreshWorkPositions();
    if (exports_.Update) exports_.Update();
  });
}

void HostStandIn::StopUpdates() {
  if (updateTimer_ == 0) return;
  platform::KillThreadTimer(updateTimer_);
  updateTimer_ = 0;
}

void HostStandIn::StopPlugin() {
  StopUpdates();
  if (exports_.StopPlug) exports_.StopPlug();
}

void HostStandIn::PressReset() {
  std::byte* eStop = Block(host::Block::Engine) + host::EngineBlock::EStop.offset;
  WriteAs<std::uint8_t>(eStop, ReadAs<std::uint8_t>(eStop) != 0 ? 0 : 1);
  if (exports_.Reset) exports_.Reset();
}

void HostStandIn::RefreshWorkPositions() {
  for (std::uint32_t a = 0; a < 6; ++a) {
    const double stepsPerUnit = Read(host::PlannerBlock::AxisStepsPerUnit, a);
    if (stepsPerUnit <= 0.0) continue;
    Write(host::EngineBlock::AxisWorkPosition, a,
          Read(host::EngineBlock::AxisPosition, a) / stepsPerUnit - Read(host::SetupBlock::AxisWorkOffset, a));
  }
}

void HostStandIn::RunFor(std::uint32_t milliseconds) {
  RunUntil([] { return false; }, milliseconds);
}

bool HostStandIn::RunUntil(const std::function<bool()>& done, std::uint32_t timeoutMilliseconds) {
  const std::uint32_t start = platform::TickCount();
  for (;;) {
    platform::DispatchWaitingMessages();
    if (done()) return true;
    if (platform::TickCount() - start >= timeoutMilliseconds) return false;
    platform::Sleep(1);
  }
}

const host::FieldDescriptor* HostStandIn::FindField(std::string_view qualifiedName) const {
  const std::size_t dot = qualifiedName.find('.');
  if (dot == std::string_view::npos) return nullptr;
  std::string_view block = qualifiedName.substr(0, dot);
  if (block.ends_with("Block")) block.remove_suffix(5);
  const std::string_view name = qualifiedName.substr(dot + 1);
  for (const host::FieldDescriptor& field : host::kAllFields) {
    if (field.block == block && field.name == name) return &field;
  }
  return nullptr;
}

bool HostStandIn::GetField(const host::FieldDescriptor& field, std::uint32_t index, std::uint32_t inner,
                           double& value) const {
  if (index >= field.count || inner >= field.inner) return false;
  const std::byte* at = blocks_[static_cast<int>(field.blockId)].data() + field.offset + field.stride * index +
                        host::FieldTypeSize(field.type) * inner;
  switch (field.type) {
    case host::FieldType::u8: value = ReadAs<std::uint8_t>(at); break;
    case host::FieldType::i8: value = ReadAs<std::int8_t>(at); break;
    case host::FieldType::u16: value = ReadAs<std::uint16_t>(at); break;
    case host::FieldType::i32: value = ReadAs<std::int32_t>(at); break;
    case host::FieldType::u32: value = ReadAs<std::uint32_t>(at); break;
    case host::FieldType::f64: value = ReadAs<double>(at); break;
    case host::FieldType::ptr: value = static_cast<double>(ReadAs<std::uintptr_t>(at)); break;
  }
  return true;
}

bool HostStandIn::SetField(const host::FieldDescriptor& field, std::uint32_t index, std::uint32_t inner,
                           double value) {
  if (index >= field.count || inner >= field.inner || !std::isfinite(value)) return false;
  std::byte* at = Block(field.blockId) + field.offset + field.stride * index + host::FieldTypeSize(field.type) * inner;
  switch (field.type) {
    case host::FieldType::u8: WriteAs(at, static_cast<std::uint8_t>(static_cast<std::int64_t>(value))); break;
    case host::FieldType::i8: WriteAs(at, static_cast<std::int8_t>(static_cast<std::int64_t>(value))); break;
    case host::FieldType::u16: WriteAs(at, static_cast<std::uint16_t>(static_cast<std::int64_t>(value))); break;
    case host::FieldType::i32: WriteAs(at, static_cast<std::int32_t>(static_cast<std::int64_t>(value))); break;
    case host::FieldType::u32: WriteAs(at, static_cast<std::uint32_t>(static_cast<std::int64_t>(value))); break;
    case host::FieldType::f64: WriteAs(at, value); break;
    case host::FieldType::ptr: return false;  // the host's own pointers are not for scripts
  }
  return true;
}

std::string HostStandIn::StatusLine() const {
  const std::byte* record = blocks_[static_cast<int>(host::Block::Planner)].data() + statusRecordOffset_;
  const auto length = ReadAs<std::uint32_t>(record + host::kStatusTextLengthOffset);
  return std::string(reinterpret_cast<const char*>(record + host::kStatusTextTextOffset),
                     std::min(length, kStatusTextCapacity - 1));
}

std::uint32_t HostStandIn::StatusSerial() const {
  const std::byte* record = blocks_[static_cast<int>(host::Block::Planner)].data() + statusRecordOffset_;
  return ReadAs<std::uint32_t>(record + host::kStatusTextSerialOffset);
}

double HostStandIn::Dro(std::int32_t code) const {
  auto found = dros_.find(code);
  return found == dros_.end() ? 0.0 : found->second;
}

void HostStandIn::SetDroValue(std::int32_t code, double value) { dros_[code] = value; }

bool HostStandIn::Led(std::int32_t code) const {
  auto found = leds_.find(code);
  return found != leds_.end() && found->second;
}

void HostStandIn::SetLedValue(std::int32_t code, bool on) { leds_[code] = on; }

std::int32_t HostStandIn::ReserveMenuRange(std::int32_t count) {
  const std::int32_t first = nextMenuId_;
  nextMenuId_ += count;
  if (menuBase_ == 0) menuBase_ = first;
  return first;
}

void HostStandIn::PressButton(std::int32_t code) {
  buttonPresses_.push_back(code);
  if (code == kShuttleButton) leds_[kShuttleLed] = !Led(kShuttleLed);
}

void HostStandIn::RecordCode(const char* text) { codeText_ = text ? text : ""; }

void HostStandIn::ChooseMenuItem(std::uint32_t id) {
  platform::PostToWindow(mainWindow_.window, platform::kMsgCommand, id, 0);
  platform::DispatchWaitingMessages();
}

std::string HostStandIn::DescribeMenus() const {
  std::ostringstream out;
  DescribeMenu(menuBar_, 0, out);
  return out.str();
}

}  // namespace veltra::hoststub

// The 21 entry points of the plugin, as the host resolves them by name.
#pragma once

#include <cstdint>

#include "plugin/host_callbacks.h"

namespace veltra::hoststub {

struct PluginExports {
  void(VELTRA_CDECL* Config)() = nullptr;
  void(VELTRA_CDECL* DoDwell)(double) = nullptr;
  void(VELTRA_CDECL* Home)(std::int16_t) = nullptr;
  std::int32_t(VELTRA_CDECL* InitControl)(void*, void*, void*, void*) = nullptr;
  void(VELTRA_CDECL* JogOff)(std::int16_t) = nullptr;
  void(VELTRA_CDECL* JogOn)(std::int16_t, std::int16_t, double) = nullptr;
  void(VELTRA_CDECL* Notify)(std::int32_t) = nullptr;
  void(VELTRA_CDECL* PostInitControl)() = nullptr;
  void(VELTRA_CDECL* Probe)() = nullptr;
  void(VELTRA_CDECL* Purge)(std::int16_t) = nullptr;
  void(VELTRA_CDECL* Reset)() = nullptr;
  void(VELTRA_CDECL* SetCode)(host::CodeFn) = nullptr;
  void(VELTRA_CDECL* SetDoButton)(host::DoButtonFn) = nullptr;
  void(VELTRA_CDECL* SetGetDRO)(host::GetDroFn) = nullptr;
  void(VELTRA_CDECL* SetGetLED)(host::GetLedFn) = nullptr;
  void(VELTRA_CDECL* SetGetMenuRange)(host::GetMenuRangeFn) = nullptr;
  const char*(VELTRA_CDECL* SetProName)(const char*) = nullptr;
  void(VELTRA_CDECL* SetSetDRO)(host::SetDroFn) = nullptr;
  void(VELTRA_CDECL* SetSetLED)(host::SetLedFn) = nullptr;
  void(VELTRA_CDECL* StopPlug)() = nullptr;
  void(VELTRA_CDECL* Update)() = nullptr;
};

// The export names in ordinal order (alphabetical).
#define VELTRA_PLUGIN_EXPORTS(X)                                                                      \
  X(Config) X(DoDwell) X(Home) X(InitControl) X(JogOff) X(JogOn) X(Notify) X(PostInitControl) X(Probe) \
  X(Purge) X(Reset) X(SetCode) X(SetDoButton) X(SetGetDRO) X(SetGetLED) X(SetGetMenuRange)            \
  X(SetProName) X(SetSetDRO) X(SetSetLED) X(StopPlug) X(Update)

}  // namespace veltra::hoststub

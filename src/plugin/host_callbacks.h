// The seven host callbacks, stored by the Set* exports, and the checked calls
// the rest of the plugin makes through them. A callback the host never gave
// is simply not called (reads give 0).
#pragma once

#include <cstdint>
#include <string_view>

#if defined(_WIN32)
#define VELTRA_CDECL __cdecl
#else
#define VELTRA_CDECL
#endif

namespace veltra::host {

extern "C" {
using GetMenuRangeFn = std::int32_t(VELTRA_CDECL*)(std::int32_t count);
using DoButtonFn = void(VELTRA_CDECL*)(std::int32_t code);
using SetDroFn = void(VELTRA_CDECL*)(std::int32_t code, double value);
using GetDroFn = double(VELTRA_CDECL*)(std::int32_t code);
// The host answers a truth value in the low byte.
using GetLedFn = std::int32_t(VELTRA_CDECL*)(std::int32_t code);
using SetLedFn = void(VELTRA_CDECL*)(std::int32_t code, std::int32_t state);
using CodeFn = void(VELTRA_CDECL*)(const char* text);
}

struct Callbacks {
  GetMenuRangeFn getMenuRange = nullptr;
  DoButtonFn doButton = nullptr;
  SetDroFn setDro = nullptr;
  GetDroFn getDro = nullptr;
  GetLedFn getLed = nullptr;
  SetLedFn setLed = nullptr;
  CodeFn code = nullptr;
};

Callbacks& TheCallbacks();

std::int32_t ReserveMenuIds(std::int32_t count);
void PressButton(std::int32_t code);
void SetDro(std::int32_t code, double value);
double GetDro(std::int32_t code);
bool GetLed(std::int32_t code);
void SetLed(std::int32_t code, bool on);

}  // namespace veltra::host

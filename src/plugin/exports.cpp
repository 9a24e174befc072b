// The 21 functions the host calls: C linkage, arguments on the stack, the
// caller removing them. They only hand over to the plugin's own code.

#include <cstdint>

#include "ops/events.h"
#include "ops/home.h"
#include "ops/jog.h"
#include "ops/probe.h"
#include "ops/reset.h"
#include "plugin/host_callbacks.h"
#include "plugin/lifecycle.h"
#include "plugin/update.h"

#if defined(_WIN32)
#define VELTRA_EXPORT extern "C" __declspec(dllexport)
#else
#define VELTRA_EXPORT extern "C" __attribute__((visibility("default")))
#endif

using namespace veltra;

VELTRA_EXPORT void VELTRA_CDECL Config() { plugin::RunConfigCommand(); }

VELTRA_EXPORT void VELTRA_CDECL DoDwell(double time) { ops::DoDwell(time); }

VELTRA_EXPORT void VELTRA_CDECL Home(std::int16_t axis) { ops::Home(axis); }

VELTRA_EXPORT std::int32_t VELTRA_CDECL InitControl(void* engine, void* setup, void* planner, void* view) {
  return plugin::InitControl(engine, setup, planner, view) ? 1 : 0;
}

VELTRA_EXPORT void VELTRA_CDECL JogOff(std::int16_t axis) { ops::JogOff(axis); }

VELTRA_EXPORT void VELTRA_CDECL JogOn(std::int16_t axis, std::int16_t direction, double speed) {
  ops::JogOn(axis, direction, speed);
}

VELTRA_EXPORT void VELTRA_CDECL Notify(std::int32_t event) { ops::HandleNotify(event); }

VELTRA_EXPORT void VELTRA_CDECL PostInitControl() { plugin::PostInitControl(); }

VELTRA_EXPORT void VELTRA_CDECL Probe() { ops::Probe(); }

VELTRA_EXPORT void VELTRA_CDECL Purge(std::int16_t) {}

VELTRA_EXPORT void VELTRA_CDECL Reset() { ops::Reset(); }

VELTRA_EXPORT void VELTRA_CDECL SetCode(host::CodeFn function) { host::TheCallbacks().code = function; }

VELTRA_EXPORT void VELTRA_CDECL SetDoButton(host::DoButtonFn function) { host::TheCallbacks().doButton = function; }

VELTRA_EXPORT void VELTRA_CDECL SetGetDRO(host::GetDroFn function) { host::TheCallbacks().getDro = function; }

VELTRA_EXPORT void VELTRA_CDECL SetGetLED(host::GetLedFn function) { host::TheCallbacks().getLed = function; }

VELTRA_EXPORT void VELTRA_CDECL SetGetMenuRange(host::GetMenuRangeFn function) {
  host::TheCallbacks().getMenuRange = function;
}

VELTRA_EXPORT const char* VELTRA_CDECL SetProName(const char* name) { return plugin::SetProName(name); }

VELTRA_EXPORT void VELTRA_CDECL SetSetDRO(host::SetDroFn function) { host::TheCallbacks().setDro = function; }

VELTRA_EXPORT void VELTRA_CDECL SetSetLED(host::SetLedFn function) { host::TheCallbacks().setLed = function; }

VELTRA_EXPORT void VELTRA_CDECL StopPlug() { plugin::StopPlug(); }

VELTRA_EXPORT void VELTRA_CDECL Update() { plugin::Update(); }

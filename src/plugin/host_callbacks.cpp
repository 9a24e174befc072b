#include "plugin/host_callbacks.h"

namespace veltra::host {

Callbacks& TheCallbacks() {
  static Callbacks callbacks;
  return callbacks;
}

std::int32_t ReserveMenuIds(std::int32_t count) {
  auto call = TheCallbacks().getMenuRange;
  return call ? call(count) : 0;
}

void PressButton(std::int32_t code) {
  if (auto call = TheCallbacks().doButton) call(code);
}

void SetDro(std::int32_t code, double value) {
  if (auto call = TheCallbacks().setDro) call(code, value);
}

double GetDro(std::int32_t code) {
  auto call = TheCallbacks().getDro;
  return call ? call(code) : 0.0;
}

bool GetLed(std::int32_t code) {
  auto call = TheCallbacks().getLed;
  return call && (call(code) & 0xFF) != 0;
}

void SetLed(std::int32_t code, bool on) {
  if (auto call = TheCallbacks().setLed) call(code, on ? 1 : 0);
}

}  // namespace veltra::host

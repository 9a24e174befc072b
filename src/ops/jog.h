// Jogging: the controller generates the jog motion itself; the plugin starts
// and stops it per axis and keeps the host's jog state, switching a host in
// step-jog mode to continuous jogging while any axis jogs.
#pragma once

#include <array>
#include <cstdint>

namespace veltra::ops {

inline constexpr int kJogAxes = 6;  // X, Y, Z, A, B, C

struct JogState {
  // Started and not yet stopped, per axis.
  std::array<bool, kJogAxes> AxisJogActive{};
  // The host was in step-jog mode when the jog began; restored when the
  // last axis stops.
  bool JogModeWasStep = false;
};

JogState& Jog();

// Direction 0 jogs towards plus, any other value towards minus. Speed in
// units per second; 0 takes the axis's jog speed from the host.
void JogOn(std::int16_t axis, std::int16_t direction, double speed);
void JogOff(std::int16_t axis);

}  // namespace veltra::ops

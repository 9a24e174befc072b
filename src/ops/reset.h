// Reset: the host's Reset button. It clears the state of every machine
// operation and, unless the link is up while the host is in e-stop, runs the
// reset sequence, the only way the link is (re)established.
#pragma once

#include <array>

namespace veltra::ops {

// The firmware this plugin works with: five characters and a zero byte.
inline constexpr std::array<char, 6> kRequiredFirmware{'0', '1', '.', '0', '9', '\0'};

void Reset();

// Builds the configuration, connects, checks the firmware, sends the
// configuration; true when the controller is online.
bool RunResetSequence();

}  // namespace veltra::ops

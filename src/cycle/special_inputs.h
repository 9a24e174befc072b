// The state of the MPG, joystick and special input steps that a connection
// sets: the encoder re-baseline and the joystick configuration request.
#pragma once

namespace veltra::cycle {

struct SpecialInputs {
  // The next frame's counters become the base, so a counter never drives a
  // function by its whole accumulated value.
  bool EncoderRebase = false;
  bool JoystickPending = false;  // send the joystick configuration
};

SpecialInputs& Special();

}  // namespace veltra::cycle

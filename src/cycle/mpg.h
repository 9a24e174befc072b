// Hand jogging runs in the controller: by its MPGs, and by an analog joystick
// on its analog inputs. The cycle configures both from the host's jog
// settings and the joystick settings.
#pragma once

#include "cycle/special_input_commands.h"

namespace veltra::cycle {

MpgConfig BuildMpgConfig();
JoystickConfig BuildJoystickConfig();

// The steps of the cycle, per tick. The MPG configuration goes out when it
// changed; the joystick configuration once per connection.
void SendMpgConfig();
void SendJoystickConfig();

}  // namespace veltra::cycle

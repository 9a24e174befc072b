// The torch height control's runtime state that the rest of the plugin
// reads or sets: the voltage captured at the controller's sampling moment,
// and the request to send the PID constants.
#pragma once

namespace veltra::cycle {

struct ThcRuntime {
  double SampledVoltage = 0.0;  // torch volts
  bool SampledVoltageValid = false;
  // The PID constants are to be sent (after a connection, or an edit of
  // them).
  bool PidConstantsPending = false;
};

ThcRuntime& Thc();

}  // namespace veltra::cycle

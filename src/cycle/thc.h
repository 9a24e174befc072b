// Torch height control: the controller regulates the torch height itself;
// the cycle configures its regulator, turns the raw torch voltage reading
// into volts for the host, the graph and the log file, keeps the nominal
// voltage DRO and the setting in step, derives the THC on signal, forwards
// the emulated inputs and the manual up/down keys, releases motion once the
// arc is on and counts ignitions and cut time.
#pragma once

#include <cstdint>

#include "cycle/change_detected.h"
#include "cycle/status_record.h"
#include "cycle/thc_commands.h"

namespace veltra::cycle {

inline constexpr const char* kVoltageLogFile = "thc_voltage.log";

struct ThcRuntime {
  double SampledVoltage = 0.0;  // torch volts
  bool SampledVoltageValid = false;
  // The PID constants are to be sent (after a connection, or an edit of
  // them).
  bool PidConstantsPending = false;
  // The next log line starts a new file: the first one after load.
  bool LogFileFresh = true;
  ChangeDetectedPayload<input_overrides_payload::kSize> LastInputOverrides;
  ChangeDetectedPayload<thc_payload::kSize> LastThcParameters;
  // The THC on signal at the last consumables step, and the tick count when
  // the cut time was last accumulated.
  bool ArcWasOn = false;
  std::uint32_t ArcStartTick = 0;
};

ThcRuntime& Thc();

// Torch volts per volt at the analog input; 0 while the calibration names
// no input voltage.
double VoltageScale();
// The torch voltage of a raw reading, 0..65535 for 0..5 V at the input.
double TorchVolts(std::uint32_t raw);

struct LowPassCoefficients {
  std::int32_t b0 = 0;  // b1 is the same
  std::int32_t a1 = 0;
};
// A first-order low-pass at the controller's 1 kHz sampling, scaled by 32768.
LowPassCoefficients LowPassFor(double hertz);

ThcParameters BuildThcParameters();
ThcPidConstants ComputePidConstants();

// The steps of the cycle, in its order.
// Per status frame: the torch voltage into the host, the graph and the log,
// and the nominal voltage DRO into the setting.
void RunVoltageStep(const StatusRecord& record);
// Per tick, out of e-stop: motion that waits for the arc goes on once the
// THC on signal is active.
void ReleaseArcWait();
// Online only: the emulated inputs, THC on by spindle and the manual keys.
void SendInputOverrides();
void SendThcParameters();
void CountConsumables();
void SendPidConstants();

}  // namespace veltra::cycle

// Special inputs: an analog input or counter given a special function drives
// a host value (feed or spindle override, a user variable or DRO, the THC
// nominal voltage or its override), computed from each status frame; the two
// extended PWM outputs take their duties from two user variables. The state
// here also holds what a connection sets for the MPG and joystick steps.
#pragma once

#include <array>
#include <cstdint>

#include "cycle/change_detected.h"
#include "cycle/special_input_commands.h"
#include "cycle/status_record.h"

namespace veltra::cycle {

// Entries of the special function table: AnalogIN1..4, then the counters
// Encoder1..4 and Mpg1..3.
inline constexpr int kFirstCounterEntry = kStatusAnalogCount;

// The functions a source can drive.
namespace special_function {
inline constexpr std::int32_t kNone = 0;
inline constexpr std::int32_t kFeedOverride = 1;
inline constexpr std::int32_t kSpindleOverride = 2;
inline constexpr std::int32_t kUserVariable = 3;
inline constexpr std::int32_t kUserDro = 4;
inline constexpr std::int32_t kShuttle = 5;  // run by the controller
inline constexpr std::int32_t kThcNominalVoltage = 6;
inline constexpr std::int32_t kThcVoltageOverride = 7;
}  // namespace special_function

// The DRO codes a special function may write: those the special functions
// page accepts as an id. Anything else (a hand-edited profile) writes
// nothing.
inline constexpr std::int32_t kHighestSpecialDro = 14999;

struct SpecialInputs {
  // Counter values already turned into function changes.
  std::array<std::int32_t, kStatusEncoderCount> EncoderBase{};
  // The next frame's counters become the base, so a counter never drives a
  // function by its whole accumulated value.
  bool EncoderRebase = false;
  ChangeDetectedPayload<mpg_payload::kSize> LastMpgConfig;
  // Never taken at load and re-armed by Reset: the duties always go out on
  // the first tick online.
  ChangeDetectedPayload<pwm_duty_payload::kSize> LastPwmDuty;
  bool JoystickPending = false;  // send the joystick configuration
};

SpecialInputs& Special();

// A counts-per-unit scale this close to 0 counts as one count per unit.
double UsableCountsPerUnit(double countsPerUnit);

// The steps of the cycle. Per status frame: the functions of the analog
// inputs, then those of the counters.
void RunAnalogFunctions(const StatusRecord& record);
void RunEncoderFunctions(const StatusRecord& record);
// Per tick, online only: the duties of the extended PWM outputs.
void SendPwmDuties();

}  // namespace veltra::cycle

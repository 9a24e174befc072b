// How the fields of a status record reach the host. The cycle calls these
// from its frame steps, in the order it gives them.
#pragma once

#include <array>
#include <cstdint>

#include "cycle/status_record.h"

namespace veltra::cycle {

// The host's input signal records that the plugin reads by index.
inline constexpr int kInputSignalCount = 53;
inline constexpr int kInputProbe = 22;
inline constexpr int kInputLimitOverride = 24;
inline constexpr int kInputThcOn = 26;
inline constexpr int kInputThcUp = 27;
inline constexpr int kInputThcDown = 28;
inline constexpr int kHighestInputPin = 32;

// The start of the axis velocity measurement window; zero at load.
struct VelocityWindow {
  std::uint32_t VelocityWindowStart = 0;
  std::array<std::int32_t, kStatusAxisCount> VelocityWindowSteps{};
};
VelocityWindow& TheVelocityWindow();

// Enabled, not emulated input signals on port 1 follow their controller pin;
// a pin number above 32 is left alone, one of 0 or below reads inactive.
void MirrorInputPins(const StatusRecord& record);
// THC up and down signals without a pin of their own follow flag bits 4, 5.
void MirrorThcSignals(const StatusRecord& record);
// The true spindle speed from the measured rate and the current pulley's
// ratio, with EncRPM as the last upload sent it (the controller measures the
// rate the way it was configured, not the way the dialog shows it now);
// nothing is written for a pulley outside the 25 or a zero divisor.
void MirrorSpindleSpeed(const StatusRecord& record);
// Axis velocities once a window of 10,000,000 time-stamp ticks has passed.
void MeasureAxisVelocities(const StatusRecord& record);
// The controller's step positions become the host's axis positions.
void PublishStepPositions(const StatusRecord& record);
// The host's executing line, unless the record says none (-1).
void MirrorExecutingLine(const StatusRecord& record);

}  // namespace veltra::cycle

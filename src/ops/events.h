// Host events: stop, spindle start, stop and speed, tuning changes,
// feedhold and resume, synchronised motion ahead; and the dwell.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace veltra::ops {

// The event codes of Notify; any other code may be one of the plugin's menu ids.
namespace host_event {
inline constexpr std::int32_t kStop = -1;
inline constexpr std::int32_t kSpindleStart = 3;
inline constexpr std::int32_t kSpindleStop = 4;
inline constexpr std::int32_t kSpindleSpeed = 5;
inline constexpr std::int32_t kTuningChanged = 6;
inline constexpr std::int32_t kForceEStop = 7;
inline constexpr std::int32_t kFeedhold = 8;
inline constexpr std::int32_t kResume = 9;
inline constexpr std::int32_t kSyncedMotionAhead = 18000;
}  // namespace host_event

// The payload of CMD_SPINDLE.
namespace spindle_payload {
inline constexpr std::size_t kStart = 0;      // u8: 1 start, 0 stop
inline constexpr std::size_t kPwm = 1;        // i32
inline constexpr std::size_t kSpeed = 5;      // i32: step rate of a start
inline constexpr std::size_t kDirection = 9;  // i8: +1 or -1
inline constexpr std::size_t kSize = 10;
}  // namespace spindle_payload
using SpindlePayload = std::array<std::byte, spindle_payload::kSize>;

struct SpindleState {
  double SpindleSpeedCopy = 0.0;  // the host's S at the last speed event
  double SpindleRatioCopy = 0.0;  // the host's speed fraction then, at most 1.0
};

SpindleState& Spindle();

void HandleNotify(std::int32_t event);
// The spindle start payload from the host's spindle state and the copies.
SpindlePayload SpindleStartPayload();

// A pause of the given time (seconds, or milliseconds when the host says so),
// counted in cycle ticks.
void DoDwell(double time);

// What the stop event and Reset share: homing, probing, threading, verify
// and synchronised motion end, the record count restarts, and the extended
// PWM outputs go off when the settings ask for it.
void EndMachineOperations();

}  // namespace veltra::ops

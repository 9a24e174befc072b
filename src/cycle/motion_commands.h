// The motion record of the bulk channel and the payloads of the commands
// that start the motion phases the controller runs itself. The plugin
// encodes them; the substitute controller decodes them from the same
// declarations.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "link/wire.h"

namespace veltra::cycle {

// One millisecond of motion: six absolute step positions, the host line,
// an output marker and the laser power. A bulk batch is 1..150 of them back
// to back.
struct MotionRecord {
  std::array<double, 6> Position{};  // steps
  std::int32_t Line = -1;            // -1: no host line
  std::uint8_t Marker = 0;           // 0, 0x10 + n or 0x20 + n
  std::uint8_t LaserPower = 0;

  bool operator==(const MotionRecord&) const = default;
};

namespace motion_record {
inline constexpr std::size_t kPosition = 0;  // 6 x f64
inline constexpr std::size_t kLine = 48;
inline constexpr std::size_t kMarker = 52;
inline constexpr std::size_t kLaserPower = 53;
inline constexpr std::size_t kSize = 54;
// Records a batch may hold, and records the controller's buffer holds.
inline constexpr int kMaxPerBatch = 150;
inline constexpr int kControllerBufferRecords = 1000;
}  // namespace motion_record
using MotionRecordBytes = std::array<std::byte, motion_record::kSize>;

inline MotionRecordBytes EncodeMotionRecord(const MotionRecord& record) {
  namespace at = motion_record;
  MotionRecordBytes bytes{};
  for (std::size_t a = 0; a < record.Position.size(); ++a) wire::Put(bytes, at::kPosition + 8 * a, record.Position[a]);
  wire::Put(bytes, at::kLine, record.Line);
  wire::Put(bytes, at::kMarker, record.Marker);
  wire::Put(bytes, at::kLaserPower, record.LaserPower);
  return bytes;
}

inline MotionRecord DecodeMotionRecord(std::span<const std::byte, motion_record::kSize> bytes) {
  namespace at = motion_record;
  MotionRecord record;
  for (std::size_t a = 0; a < record.Position.size(); ++a) {
    record.Position[a] = wire::Get<double>(bytes, at::kPosition + 8 * a);
  }
  record.Line = wire::Get<std::int32_t>(bytes, at::kLine);
  record.Marker = wire::Get<std::uint8_t>(bytes, at::kMarker);
  record.LaserPower = wire::Get<std::uint8_t>(bytes, at::kLaserPower);
  return record;
}

// CMD_DISCARD_BUFFER: a u32 0.
namespace discard_payload {
inline constexpr std::size_t kSize = 4;
}
using DiscardPayload = std::array<std::byte, discard_payload::kSize>;

// CMD_START_THREADING: the spindle-synchronised moves the controller runs.
struct ThreadingStart {
  double ZStart = 0.0;  // steps
  double XEnd = 0.0;    // steps, machine coordinates
  double ZEnd = 0.0;    // steps, machine coordinates
  std::uint8_t Mode = 3;  // 3, or 11 with blending
  std::int32_t Parameter = 0;

  bool operator==(const ThreadingStart&) const = default;
};

namespace threading_payload {
inline constexpr std::size_t kZStart = 0;
inline constexpr std::size_t kXEnd = 8;
inline constexpr std::size_t kZEnd = 16;
inline constexpr std::size_t kMode = 24;
inline constexpr std::size_t kParameter = 25;
inline constexpr std::size_t kSize = 29;
inline constexpr std::uint8_t kModePlain = 3;
inline constexpr std::uint8_t kModeBlended = 11;
}  // namespace threading_payload
using ThreadingPayload = std::array<std::byte, threading_payload::kSize>;

inline ThreadingPayload EncodeThreadingStart(const ThreadingStart& start) {
  namespace at = threading_payload;
  ThreadingPayload bytes{};
  wire::Put(bytes, at::kZStart, start.ZStart);
  wire::Put(bytes, at::kXEnd, start.XEnd);
  wire::Put(bytes, at::kZEnd, start.ZEnd);
  wire::Put(bytes, at::kMode, start.Mode);
  wire::Put(bytes, at::kParameter, start.Parameter);
  return bytes;
}

inline ThreadingStart DecodeThreadingStart(std::span<const std::byte, threading_payload::kSize> bytes) {
  namespace at = threading_payload;
  return ThreadingStart{wire::Get<double>(bytes, at::kZStart), wire::Get<double>(bytes, at::kXEnd),
                        wire::Get<double>(bytes, at::kZEnd), wire::Get<std::uint8_t>(bytes, at::kMode),
                        wire::Get<std::int32_t>(bytes, at::kParameter)};
}

// CMD_START_RIGID_TAP: pitch and depth in Z steps, the tap selector and
// whether the controller waits for the spindle.
struct RigidTapStart {
  double Pitch = 0.0;         // Z steps per turn; negative: left-hand
  std::int32_t Depth = 0;     // Z steps
  std::uint8_t Selector = 2;  // the host's tap selector - 2, or 2
  std::uint8_t WaitSpindle = 0;

  bool operator==(const RigidTapStart&) const = default;
};

namespace rigid_tap_payload {
inline constexpr std::size_t kPitch = 0;
inline constexpr std::size_t kDepth = 8;
inline constexpr std::size_t kSelector = 12;
inline constexpr std::size_t kWaitSpindle = 13;
inline constexpr std::size_t kSize = 14;
}  // namespace rigid_tap_payload
using RigidTapPayload = std::array<std::byte, rigid_tap_payload::kSize>;

inline RigidTapPayload EncodeRigidTapStart(const RigidTapStart& start) {
  namespace at = rigid_tap_payload;
  RigidTapPayload bytes{};
  wire::Put(bytes, at::kPitch, start.Pitch);
  wire::Put(bytes, at::kDepth, start.Depth);
  wire::Put(bytes, at::kSelector, start.Selector);
  wire::Put(bytes, at::kWaitSpindle, start.WaitSpindle);
  return bytes;
}

inline RigidTapStart DecodeRigidTapStart(std::span<const std::byte, rigid_tap_payload::kSize> bytes) {
  namespace at = rigid_tap_payload;
  return RigidTapStart{wire::Get<double>(bytes, at::kPitch), wire::Get<std::int32_t>(bytes, at::kDepth),
                       wire::Get<std::uint8_t>(bytes, at::kSelector), wire::Get<std::uint8_t>(bytes, at::kWaitSpindle)};
}

}  // namespace veltra::cycle

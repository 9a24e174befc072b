// The payloads of the commands that start and stop jogging, homing and
// probing. The plugin encodes them; the substitute controller decodes them
// from the same declarations.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "link/wire.h"

namespace veltra::ops {

// CMD_JOG_START: axis, direction +1/-1, rate in steps per second.
struct JogStart {
  std::uint8_t Axis = 0;
  std::int8_t Direction = 1;
  std::int32_t Rate = 0;

  bool operator==(const JogStart&) const = default;
};

namespace jog_start_payload {
inline constexpr std::size_t kAxis = 0;
inline constexpr std::size_t kDirection = 1;
inline constexpr std::size_t kRate = 2;
inline constexpr std::size_t kSize = 6;
}  // namespace jog_start_payload
using JogStartPayload = std::array<std::byte, jog_start_payload::kSize>;

inline JogStartPayload EncodeJogStart(const JogStart& jog) {
  namespace at = jog_start_payload;
  JogStartPayload bytes{};
  wire::Put(bytes, at::kAxis, jog.Axis);
  wire::Put(bytes, at::kDirection, jog.Direction);
  wire::Put(bytes, at::kRate, jog.Rate);
  return bytes;
}

inline JogStart DecodeJogStart(std::span<const std::byte, jog_start_payload::kSize> bytes) {
  namespace at = jog_start_payload;
  return JogStart{wire::Get<std::uint8_t>(bytes, at::kAxis), wire::Get<std::int8_t>(bytes, at::kDirection),
                  wire::Get<std::int32_t>(bytes, at::kRate)};
}

// CMD_JOG_STOP: the axis.
namespace jog_stop_payload {
inline constexpr std::size_t kAxis = 0;
inline constexpr std::size_t kSize = 1;
}  // namespace jog_stop_payload
using JogStopPayload = std::array<std::byte, jog_stop_payload::kSize>;

// CMD_HOME and CMD_HOME_VERIFY: the axis as i16.
namespace home_payload {
inline constexpr std::size_t kAxis = 0;
inline constexpr std::size_t kSize = 2;
}  // namespace home_payload
using HomePayload = std::array<std::byte, home_payload::kSize>;

// CMD_PROBE: per axis the acceleration and the velocity the controller
// stops with at contact, both in 1/10000 steps per second (squared).
struct ProbeLimits {
  std::array<std::int32_t, 6> Acceleration{};
  std::array<std::int32_t, 6> Velocity{};

  bool operator==(const ProbeLimits&) const = default;
};

namespace probe_payload {
inline constexpr std::size_t kAcceleration = 0;  // 6 x i32
inline constexpr std::size_t kVelocity = 24;     // 6 x i32
inline constexpr std::size_t kSize = 48;
}  // namespace probe_payload
using ProbePayload = std::array<std::byte, probe_payload::kSize>;

inline ProbePayload EncodeProbeLimits(const ProbeLimits& limits) {
  namespace at = probe_payload;
  ProbePayload bytes{};
  for (std::size_t a = 0; a < limits.Acceleration.size(); ++a) {
    wire::Put(bytes, at::kAcceleration + 4 * a, limits.Acceleration[a]);
    wire::Put(bytes, at::kVelocity + 4 * a, limits.Velocity[a]);
  }
  return bytes;
}

inline ProbeLimits DecodeProbeLimits(std::span<const std::byte, probe_payload::kSize> bytes) {
  namespace at = probe_payload;
  ProbeLimits limits;
  for (std::size_t a = 0; a < limits.Acceleration.size(); ++a) {
    limits.Acceleration[a] = wire::Get<std::int32_t>(bytes, at::kAcceleration + 4 * a);
    limits.Velocity[a] = wire::Get<std::int32_t>(bytes, at::kVelocity + 4 * a);
  }
  return limits;
}

}  // namespace veltra::ops

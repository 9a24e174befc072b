// The payloads of the hand jogging and extended PWM commands: the MPG and
// joystick configurations and the two PWM duties. The plugin encodes them;
// the substitute controller decodes them from the same declarations.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "link/wire.h"

namespace veltra::cycle {

inline constexpr int kMpgs = 3;
inline constexpr int kJoystickAxes = 3;  // X, Y, Z

// CMD_SET_MPG.
struct MpgConfig {
  std::array<std::uint8_t, kMpgs> Axis{};  // 0..6
  std::array<std::int32_t, kMpgs> Step{};  // jog increment / counts per unit x 40000
  std::int32_t FeedLimit = 0;              // units per second; 0: none
  std::uint16_t Mode = 0;                  // 1: the controller jogs by its MPGs

  bool operator==(const MpgConfig&) const = default;
};

namespace mpg_payload {
inline constexpr std::size_t kAxis = 0;  // 3 x u8
inline constexpr std::size_t kStep = 3;  // 3 x i32
inline constexpr std::size_t kFeedLimit = 15;
inline constexpr std::size_t kMode = 19;
inline constexpr std::size_t kSize = 21;
}  // namespace mpg_payload
using MpgPayload = std::array<std::byte, mpg_payload::kSize>;

inline MpgPayload EncodeMpgConfig(const MpgConfig& config) {
  MpgPayload bytes{};
  for (int i = 0; i < kMpgs; ++i) {
    wire::Put(bytes, mpg_payload::kAxis + i, config.Axis[i]);
    wire::Put(bytes, mpg_payload::kStep + 4 * i, config.Step[i]);
  }
  wire::Put(bytes, mpg_payload::kFeedLimit, config.FeedLimit);
  wire::Put(bytes, mpg_payload::kMode, config.Mode);
  return bytes;
}

inline MpgConfig DecodeMpgConfig(std::span<const std::byte, mpg_payload::kSize> bytes) {
  MpgConfig config;
  for (int i = 0; i < kMpgs; ++i) {
    config.Axis[i] = wire::Get<std::uint8_t>(bytes, mpg_payload::kAxis + i);
    config.Step[i] = wire::Get<std::int32_t>(bytes, mpg_payload::kStep + 4 * i);
  }
  config.FeedLimit = wire::Get<std::int32_t>(bytes, mpg_payload::kFeedLimit);
  config.Mode = wire::Get<std::uint16_t>(bytes, mpg_payload::kMode);
  return config;
}

// CMD_SET_PWM_DUTY: the duties of the two extended PWM outputs, 0..65535.
struct PwmDuties {
  std::uint16_t Output1 = 0;
  std::uint16_t Output2 = 0;

  bool operator==(const PwmDuties&) const = default;
};

namespace pwm_duty_payload {
inline constexpr std::size_t kOutput1 = 0;
inline constexpr std::size_t kOutput2 = 2;
inline constexpr std::size_t kSize = 4;
}  // namespace pwm_duty_payload
using PwmDutyPayload = std::array<std::byte, pwm_duty_payload::kSize>;

inline PwmDutyPayload EncodePwmDuties(const PwmDuties& duties) {
  PwmDutyPayload bytes{};
  wire::Put(bytes, pwm_duty_payload::kOutput1, duties.Output1);
  wire::Put(bytes, pwm_duty_payload::kOutput2, duties.Output2);
  return bytes;
}

inline PwmDuties DecodePwmDuties(std::span<const std::byte, pwm_duty_payload::kSize> bytes) {
  return PwmDuties{wire::Get<std::uint16_t>(bytes, pwm_duty_payload::kOutput1),
                   wire::Get<std::uint16_t>(bytes, pwm_duty_payload::kOutput2)};
}

// CMD_SET_JOYSTICK: per axis X, Y, Z the analog input and its geometry in
// mV, and the full speed in steps per second (negative: reversed).
struct JoystickConfig {
  std::uint8_t EnabledAxes = 0;  // bit j: axis j
  std::array<std::uint8_t, kJoystickAxes> AnalogInput{};
  std::array<std::uint16_t, kJoystickAxes> Neutral{};
  std::array<std::uint16_t, kJoystickAxes> DeadZone{};
  std::array<std::uint16_t, kJoystickAxes> FullWidth{};
  std::array<std::int32_t, kJoystickAxes> Speed{};

  bool operator==(const JoystickConfig&) const = default;
};

namespace joystick_payload {
inline constexpr std::size_t kEnabledAxes = 0;
inline constexpr std::size_t kAnalogInput = 1;  // 3 x u8
inline constexpr std::size_t kNeutral = 4;      // 3 x u16
inline constexpr std::size_t kDeadZone = 10;    // 3 x u16
inline constexpr std::size_t kFullWidth = 16;   // 3 x u16
inline constexpr std::size_t kSpeed = 22;       // 3 x i32
inline constexpr std::size_t kSize = 34;
}  // namespace joystick_payload
using JoystickPayload = std::array<std::byte, joystick_payload::kSize>;

inline JoystickPayload EncodeJoystickConfig(const JoystickConfig& config) {
  namespace at = joystick_payload;
  JoystickPayload bytes{};
  wire::Put(bytes, at::kEnabledAxes, config.EnabledAxes);
  for (int j = 0; j < kJoystickAxes; ++j) {
    wire::Put(bytes, at::kAnalogInput + j, config.AnalogInput[j]);
    wire::Put(bytes, at::kNeutral + 2 * j, config.Neutral[j]);
    wire::Put(bytes, at::kDeadZone + 2 * j, config.DeadZone[j]);
    wire::Put(bytes, at::kFullWidth + 2 * j, config.FullWidth[j]);
    wire::Put(bytes, at::kSpeed + 4 * j, config.Speed[j]);
  }
  return bytes;
}

inline JoystickConfig DecodeJoystickConfig(std::span<const std::byte, joystick_payload::kSize> bytes) {
  namespace at = joystick_payload;
  JoystickConfig config;
  config.EnabledAxes = wire::Get<std::uint8_t>(bytes, at::kEnabledAxes);
  for (int j = 0; j < kJoystickAxes; ++j) {
    config.AnalogInput[j] = wire::Get<std::uint8_t>(bytes, at::kAnalogInput + j);
    config.Neutral[j] = wire::Get<std::uint16_t>(bytes, at::kNeutral + 2 * j);
    config.DeadZone[j] = wire::Get<std::uint16_t>(bytes, at::kDeadZone + 2 * j);
    config.FullWidth[j] = wire::Get<std::uint16_t>(bytes, at::kFullWidth + 2 * j);
    config.Speed[j] = wire::Get<std::int32_t>(bytes, at::kSpeed + 4 * j);
  }
  return config;
}

}  // namespace veltra::cycle

// The payloads of the torch height control's commands: the emulated and
// manual inputs, the regulator's parameters and its PID constants. The
// plugin encodes them; the substitute controller decodes them from the same
// declarations.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "link/wire.h"

namespace veltra::cycle {

// CMD_SET_INPUT_OVERRIDES: one u32 of bits.
namespace input_overrides_payload {
inline constexpr std::size_t kBits = 0;
inline constexpr std::size_t kSize = 4;
}  // namespace input_overrides_payload
using InputOverridesPayload = std::array<std::byte, input_overrides_payload::kSize>;

// Bits of the input overrides word: bits 0..24 are the host's emulated
// inputs (home, limits, probe, index, timing, ESTOP, THC on/up/down).
namespace input_override {
inline constexpr int kEmulatedInputCount = 25;
inline constexpr std::uint32_t kThcOn = 1u << 22;
inline constexpr std::uint32_t kThcUp = 1u << 23;
inline constexpr std::uint32_t kThcDown = 1u << 24;
// Manual THC mode takes bits 0..4 out of the emulated inputs.
inline constexpr std::uint32_t kClearedInManualMode = 0x1Fu;
inline constexpr std::uint32_t kManualThc = 1u << 31;
}  // namespace input_override

inline InputOverridesPayload EncodeInputOverrides(std::uint32_t bits) {
  InputOverridesPayload payload{};
  wire::Put(payload, input_overrides_payload::kBits, bits);
  return payload;
}

inline std::uint32_t DecodeInputOverrides(std::span<const std::byte, input_overrides_payload::kSize> bytes) {
  return wire::Get<std::uint32_t>(bytes, input_overrides_payload::kBits);
}

// CMD_SET_THC: the regulator's parameters. Voltages are in 0.1 V unless
// said otherwise, positions and speeds in Z steps.
struct ThcParameters {
  std::int32_t Speed = 0;  // steps per second
  std::int32_t ZMin = 0;
  std::int32_t ZMax = 0;
  std::uint16_t PierceDelay = 0;  // ms
  std::uint8_t Type = 0;          // 0 external, 1 up/down, 2 PID; plus kSampleVoltage
  std::uint8_t AnalogInput = 0;
  std::uint16_t Nominal = 0;
  std::uint16_t Hysteresis = 0;
  std::uint16_t FullScale = 0;         // V of torch voltage at 5 V on the input
  std::uint16_t ArcDetectVoltage = 0;  // V; 0: no arc detection
  std::uint16_t ArcDetectTime = 0;     // ms
  std::uint16_t SampleDelta = 0;
  std::uint16_t VoltageOverride = 0;  // 0.1 %
  std::uint16_t Options = 0;          // thc_option bits
  std::uint16_t KerfVoltage = 0;
  std::uint16_t KerfTime = 0;  // ms
  std::int32_t LowPassB0 = 0;  // first-order filter at 1 kHz, scaled by 32768
  std::int32_t LowPassB1 = 0;
  std::int32_t LowPassA1 = 0;
  std::uint16_t LockMax = 0;
  std::uint16_t LockMin = 0;

  bool operator==(const ThcParameters&) const = default;
};

namespace thc_payload {
inline constexpr std::size_t kSpeed = 0;
inline constexpr std::size_t kZMin = 4;
inline constexpr std::size_t kZMax = 8;
inline constexpr std::size_t kPierceDelay = 12;
inline constexpr std::size_t kType = 14;
inline constexpr std::size_t kAnalogInput = 15;
inline constexpr std::size_t kNominal = 16;
inline constexpr std::size_t kHysteresis = 18;
inline constexpr std::size_t kFullScale = 20;
inline constexpr std::size_t kArcDetectVoltage = 22;
inline constexpr std::size_t kArcDetectTime = 24;
inline constexpr std::size_t kSampleDelta = 26;
inline constexpr std::size_t kVoltageOverride = 28;
inline constexpr std::size_t kOptions = 30;
inline constexpr std::size_t kKerfVoltage = 32;
inline constexpr std::size_t kKerfTime = 34;
inline constexpr std::size_t kLowPassB0 = 36;
inline constexpr std::size_t kLowPassB1 = 40;
inline constexpr std::size_t kLowPassA1 = 44;
inline constexpr std::size_t kLockMax = 48;
inline constexpr std::size_t kLockMin = 50;
inline constexpr std::size_t kSize = 52;
}  // namespace thc_payload
using ThcPayload = std::array<std::byte, thc_payload::kSize>;

inline constexpr std::uint8_t kThcTypeSampleVoltage = 0x80;

namespace thc_option {
inline constexpr std::uint16_t kKerfDetect = 1u << 0;
inline constexpr std::uint16_t kLowPass = 1u << 1;
inline constexpr std::uint16_t kLock = 1u << 2;
inline constexpr std::uint16_t kLockCommand = 1u << 3;
}  // namespace thc_option

inline ThcPayload EncodeThcParameters(const ThcParameters& p) {
  namespace at = thc_payload;
  using wire::Put;
  ThcPayload bytes{};
  Put(bytes, at::kSpeed, p.Speed);
  Put(bytes, at::kZMin, p.ZMin);
  Put(bytes, at::kZMax, p.ZMax);
  Put(bytes, at::kPierceDelay, p.PierceDelay);
  Put(bytes, at::kType, p.Type);
  Put(bytes, at::kAnalogInput, p.AnalogInput);
  Put(bytes, at::kNominal, p.Nominal);
  Put(bytes, at::kHysteresis, p.Hysteresis);
  Put(bytes, at::kFullScale, p.FullScale);
  Put(bytes, at::kArcDetectVoltage, p.ArcDetectVoltage);
  Put(bytes, at::kArcDetectTime, p.ArcDetectTime);
  Put(bytes, at::kSampleDelta, p.SampleDelta);
  Put(bytes, at::kVoltageOverride, p.VoltageOverride);
  Put(bytes, at::kOptions, p.Options);
  Put(bytes, at::kKerfVoltage, p.KerfVoltage);
  Put(bytes, at::kKerfTime, p.KerfTime);
  Put(bytes, at::kLowPassB0, p.LowPassB0);
  Put(bytes, at::kLowPassB1, p.LowPassB1);
  Put(bytes, at::kLowPassA1, p.LowPassA1);
  Put(bytes, at::kLockMax, p.LockMax);
  Put(bytes, at::kLockMin, p.LockMin);
  return bytes;
}

inline ThcParameters DecodeThcParameters(std::span<const std::byte, thc_payload::kSize> bytes) {
  namespace at = thc_payload;
  using wire::Get;
  ThcParameters p;
  p.Speed = Get<std::int32_t>(bytes, at::kSpeed);
  p.ZMin = Get<std::int32_t>(bytes, at::kZMin);
  p.ZMax = Get<std::int32_t>(bytes, at::kZMax);
  p.PierceDelay = Get<std::uint16_t>(bytes, at::kPierceDelay);
  p.Type = Get<std::uint8_t>(bytes, at::kType);
  p.AnalogInput = Get<std::uint8_t>(bytes, at::kAnalogInput);
  p.Nominal = Get<std::uint16_t>(bytes, at::kNominal);
  p.Hysteresis = Get<std::uint16_t>(bytes, at::kHysteresis);
  p.FullScale = Get<std::uint16_t>(bytes, at::kFullScale);
  p.ArcDetectVoltage = Get<std::uint16_t>(bytes, at::kArcDetectVoltage);
  p.ArcDetectTime = Get<std::uint16_t>(bytes, at::kArcDetectTime);
  p.SampleDelta = Get<std::uint16_t>(bytes, at::kSampleDelta);
  p.VoltageOverride = Get<std::uint16_t>(bytes, at::kVoltageOverride);
  p.Options = Get<std::uint16_t>(bytes, at::kOptions);
  p.KerfVoltage = Get<std::uint16_t>(bytes, at::kKerfVoltage);
  p.KerfTime = Get<std::uint16_t>(bytes, at::kKerfTime);
  p.LowPassB0 = Get<std::int32_t>(bytes, at::kLowPassB0);
  p.LowPassB1 = Get<std::int32_t>(bytes, at::kLowPassB1);
  p.LowPassA1 = Get<std::int32_t>(bytes, at::kLowPassA1);
  p.LockMax = Get<std::uint16_t>(bytes, at::kLockMax);
  p.LockMin = Get<std::uint16_t>(bytes, at::kLockMin);
  return p;
}

// CMD_SET_THC_PID: f32 P, I, D and a zero word.
struct ThcPidConstants {
  float P = 0.0f;
  float I = 0.0f;
  float D = 0.0f;

  bool operator==(const ThcPidConstants&) const = default;
};

namespace thc_pid_payload {
inline constexpr std::size_t kP = 0;
inline constexpr std::size_t kI = 4;
inline constexpr std::size_t kD = 8;
inline constexpr std::size_t kReserved = 12;
inline constexpr std::size_t kSize = 16;
}  // namespace thc_pid_payload
using ThcPidPayload = std::array<std::byte, thc_pid_payload::kSize>;

inline ThcPidPayload EncodeThcPid(const ThcPidConstants& pid) {
  ThcPidPayload bytes{};
  wire::Put(bytes, thc_pid_payload::kP, pid.P);
  wire::Put(bytes, thc_pid_payload::kI, pid.I);
  wire::Put(bytes, thc_pid_payload::kD, pid.D);
  wire::Put(bytes, thc_pid_payload::kReserved, std::uint32_t{0});
  return bytes;
}

inline ThcPidConstants DecodeThcPid(std::span<const std::byte, thc_pid_payload::kSize> bytes) {
  return ThcPidConstants{wire::Get<float>(bytes, thc_pid_payload::kP), wire::Get<float>(bytes, thc_pid_payload::kI),
                         wire::Get<float>(bytes, thc_pid_payload::kD)};
}

}  // namespace veltra::cycle

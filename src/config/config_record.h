// The configuration record the controller receives at every reset, and the
// values the real-time code takes from the same upload. The record is kept
// between uploads: it is the current machine configuration for whoever asks.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "link/wire.h"
#include "settings/curve_spline.h"
#include "ui/input_filter_page.h"
#include "ui/special_functions_page.h"

namespace veltra::config {

inline constexpr std::size_t kConfigRecordSize = 533;
inline constexpr std::size_t kAxisConfigSize = 42;
inline constexpr int kAxisConfigCount = 7;  // X, Y, Z, A, B, C and the spindle S
inline constexpr int kMotionAxisCount = 6;
inline constexpr int kSpindleAxis = 6;
inline constexpr int kInputChannelCount = 48;
inline constexpr int kOutputChannelCount = 32;
inline constexpr int kDebouncePinCount = 32;
inline constexpr int kMpgCount = 3;

// A field of the record: element i at offset + stride * i.
template <typename T>
struct RecordField {
  std::size_t offset;
  std::size_t count;
  std::size_t stride;
};

// One AxisConfig of 42 bytes per axis, X first: X(name, offset in the axis
// record, type).
#define VELTRA_AXIS_CONFIG_FIELDS(X) \
  X(StepsPerUnit, 0, i32)            \
  X(MaxStepRate, 4, i32)             \
  X(Acceleration, 8, i32)            \
  X(SoftMinSteps, 12, i32)           \
  X(SoftMaxSteps, 16, i32)           \
  X(DistanceASteps, 20, i32)         \
  X(SlaveOf, 24, u8)                 \
  X(PercentRate, 25, i32)            \
  X(DistanceBSteps, 29, i32)         \
  X(AxisFlags, 33, u8)               \
  X(ParamScaled, 34, i32)            \
  X(ParamRaw, 38, i32)

// The rest of the record, after the seven axis records: X(name, offset,
// type, count).
#define VELTRA_CONFIG_RECORD_FIELDS(X) \
  X(SpindleOption, 294, u8, 1)         \
  X(SpindleMotorMode, 295, u8, 1)      \
  X(PwmFrequency, 296, i32, 1)         \
  X(SpindlePwm, 300, i32, 1)           \
  X(PostInitValue, 304, i32, 1)        \
  X(LaserSyncOutput, 308, u8, 1)       \
  X(ModeFlags, 309, u8, 1)             \
  X(Divider, 310, u16, 1)              \
  X(HomeRetract, 312, u8, 1)           \
  X(IndexPulses, 313, u16, 1)          \
  X(ShuttleSource, 315, u8, 1)         \
  X(StepWidth, 316, u8, 7)             \
  X(PulseMode, 323, u8, 7)             \
  X(EncoderCpr, 330, u16, 1)           \
  X(SpindleEncoderFlags, 332, u8, 1)   \
  X(SpindleEncoder, 333, u8, 1)        \
  X(InputPin, 334, u8, 48)             \
  X(OutputPin, 382, u8, 32)            \
  X(InputEnable, 414, u32, 1)          \
  X(OutputEnable, 418, u32, 1)         \
  X(InputInvert, 422, u32, 1)          \
  X(OutputInvert, 426, u32, 1)         \
  X(Debounce, 430, u16, 32)            \
  X(GearEnable, 494, u8, 1)            \
  X(GearAxis, 495, u8, 1)              \
  X(GearMaster, 496, u8, 1)            \
  X(GearRatio, 497, f64, 1)            \
  X(GearOffsetSteps, 505, f64, 1)      \
  X(GearRelative, 513, u8, 1)          \
  X(ExtPwmFrequency, 514, i32, 1)      \
  X(EncoderFilter, 518, u8, 7)         \
  X(ShuttleZeroMv, 525, u16, 1)        \
  X(ShuttleUpperMv, 527, u16, 1)       \
  X(BackOffDistance, 529, f32, 1)

namespace record_types {
using u8 = std::uint8_t;
using u16 = std::uint16_t;
using i32 = std::int32_t;
using u32 = std::uint32_t;
using f32 = float;
using f64 = double;
}  // namespace record_types

// Axis fields, addressed by axis: record.Get(AxisConfig::SlaveOf, 3).
namespace AxisConfig {
#define VELTRA_DECLARE_AXIS_FIELD(name, offset, type) \
  inline constexpr RecordField<record_types::type> name{offset, kAxisConfigCount, kAxisConfigSize};
VELTRA_AXIS_CONFIG_FIELDS(VELTRA_DECLARE_AXIS_FIELD)
#undef VELTRA_DECLARE_AXIS_FIELD
}  // namespace AxisConfig

// The other fields: record.Get(ConfigField::ModeFlags).
namespace ConfigField {
#define VELTRA_DECLARE_RECORD_FIELD(name, offset, type, count) \
  inline constexpr RecordField<record_types::type> name{offset, count, sizeof(record_types::type)};
VELTRA_CONFIG_RECORD_FIELDS(VELTRA_DECLARE_RECORD_FIELD)
#undef VELTRA_DECLARE_RECORD_FIELD
}  // namespace ConfigField

// The layout as data, for the check that the fields tile the record.
struct RecordFieldDescriptor {
  std::string_view name;
  std::size_t offset;
  std::size_t size;
  std::size_t count;
  std::size_t stride;
};

#define VELTRA_DESCRIBE_AXIS_FIELD(name, offset, type) \
  RecordFieldDescriptor{#name, offset, sizeof(record_types::type), kAxisConfigCount, kAxisConfigSize},
#define VELTRA_DESCRIBE_RECORD_FIELD(name, offset, type, count) \
  RecordFieldDescriptor{#name, offset, sizeof(record_types::type), count, sizeof(record_types::type)},
inline constexpr RecordFieldDescriptor kConfigRecordLayout[] = {
    VELTRA_AXIS_CONFIG_FIELDS(VELTRA_DESCRIBE_AXIS_FIELD) VELTRA_CONFIG_RECORD_FIELDS(VELTRA_DESCRIBE_RECORD_FIELD)};
#undef VELTRA_DESCRIBE_AXIS_FIELD
#undef VELTRA_DESCRIBE_RECORD_FIELD

// Bits of ConfigField::ModeFlags.
namespace ModeFlag {
inline constexpr std::uint8_t ControllerOption0 = 1;
inline constexpr std::uint8_t ControllerOption1 = 2;
inline constexpr std::uint8_t LimitOverride = 4;  // added by the reset sequence
inline constexpr std::uint8_t ThcRamp = 8;
inline constexpr std::uint8_t LaserComp = 16;
inline constexpr std::uint8_t LaserGrayLevel = 32;
inline constexpr std::uint8_t ControllerOption6 = 64;
inline constexpr std::uint8_t SlaveHome = 128;
}  // namespace ModeFlag

// Bits of AxisConfig::AxisFlags.
namespace AxisFlag {
inline constexpr std::uint8_t OptionBit0 = 1;
inline constexpr std::uint8_t OptionBit1 = 2;
inline constexpr std::uint8_t BackOff = 4;
}  // namespace AxisFlag

// Values of ConfigField::SpindleMotorMode.
namespace SpindleMotor {
inline constexpr std::uint8_t None = 0;
inline constexpr std::uint8_t Pwm = 1;
inline constexpr std::uint8_t StepDir = 2;
}  // namespace SpindleMotor

// Bits of ConfigField::SpindleEncoderFlags.
namespace SpindleEncoderFlag {
inline constexpr std::uint8_t RpmFromEncoder = 2;
}  // namespace SpindleEncoderFlag

class ConfigRecord {
 public:
  // An element outside the field reads as 0 and is never written.
  template <typename T>
  T Get(RecordField<T> field, std::int64_t i = 0) const {
    if (i < 0 || static_cast<std::size_t>(i) >= field.count) return T{};
    return wire::Get<T>(bytes_, field.offset + field.stride * static_cast<std::size_t>(i));
  }
  template <typename T>
  void Set(RecordField<T> field, T value) {
    Set(field, 0, value);
  }
  template <typename T>
  void Set(RecordField<T> field, std::int64_t i, T value) {
    if (i < 0 || static_cast<std::size_t>(i) >= field.count) return;
    wire::Put<T>(bytes_, field.offset + field.stride * static_cast<std::size_t>(i), value);
  }

  void Clear() { bytes_.fill(std::byte{0}); }
  // The record as the controller receives it.
  static ConfigRecord FromBytes(std::span<const std::byte, kConfigRecordSize> bytes) {
    ConfigRecord record;
    std::copy(bytes.begin(), bytes.end(), record.bytes_.begin());
    return record;
  }
  // The payload of the configure command, unchanged.
  std::span<const std::byte, kConfigRecordSize> Bytes() const { return bytes_; }

 private:
  std::array<std::byte, kConfigRecordSize> bytes_{};
};

// What the real-time code takes from the upload besides the record.
struct UploadedConfig {
  std::array<ui::SpecialFunctionRecord, ui::kSpecialFunctionSources> SpecialFunctions{};
  bool PwmBipolar = false;
  // Encoder or MPG k is counted by the controller: the host record is
  // enabled with both pins on the controller's port. The same flags decide
  // which host encoder counts are mirrored from the controller.
  std::array<bool, ui::kEncoderCount> EncoderWired{};
  bool HwMpgActive = false;
  std::array<double, kMpgCount> MpgCountsPerUnit{1.0, 1.0, 1.0};
  // EncRPM as uploaded: the spindle speed comes from the encoder.
  bool EncRpmInForce = false;
  settings::CurveSpline RampSpline;
  // Machine units per minute that 100 % feed of the ramp curve stands for.
  double RampNominalFeed = 0.0;
  // Host soft limits in units, with slaved axes merged into their masters.
  std::array<double, kMotionAxisCount> SoftLimitMin{};
  std::array<double, kMotionAxisCount> SoftLimitMax{};
};

ConfigRecord& TheConfigRecord();
UploadedConfig& Uploaded();

// Rebuilds the record and the uploaded values from the settings and the
// host's machine description. It corrects what the controller cannot take
// (writing some corrections back into the host or the settings), warns with
// message boxes, and sends nothing.
void BuildConfigRecord();

}  // namespace veltra::config

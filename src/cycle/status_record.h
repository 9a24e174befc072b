// The 106-byte frames the controller sends on the command channel: the
// status record with its field offsets, its flag bits and the name tables of
// its codes. The substitute controller encodes the record from the same
// declaration.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "link/wire.h"

namespace veltra::cycle {

inline constexpr std::size_t kStatusRecordSize = 106;
inline constexpr std::uint8_t kStatusTag = 106;
// A request frame: same length, only its tag is read.
inline constexpr std::uint8_t kRequestTag = 14;
inline constexpr int kStatusAxisCount = 6;
inline constexpr int kStatusEncoderCount = 7;  // Encoder1..4, Mpg1..3
inline constexpr int kStatusAnalogCount = 4;

struct StatusRecord {
  std::uint8_t Tag = kStatusTag;
  std::uint8_t Mode = 0;
  std::uint8_t Sequence = 0;
  std::uint16_t Flags = 0;
  std::uint32_t InputPins = 0;   // bit n-1: controller input pin n, 1 = high
  std::uint32_t OutputPins = 0;  // bit n-1: controller output pin n
  std::array<std::int32_t, kStatusAxisCount> StepPositions{};
  float SpindleRate = 0.0f;
  std::uint16_t BufferedRecords = 0;
  std::uint32_t TimeStamp = 0;
  std::array<std::int32_t, kStatusEncoderCount> EncoderCounts{};
  std::uint8_t Fault = 0;
  std::uint8_t HomedAxis = 0;
  std::int32_t ExecutingLine = -1;                               // -1: no record executing
  std::array<std::uint16_t, kStatusAnalogCount> AnalogInputs{};  // 0..65535 spans 0..5 V
  std::uint8_t ShuttleSpeed = 0;                                 // 128 = 100 %
  std::uint8_t BufferFill = 0;                                   // percent
  std::int32_t ThcOffset = 0;                                    // Z steps
  std::uint16_t ReceivedRecords = 0;                             // modulo 65536

  bool operator==(const StatusRecord&) const = default;
};

// Byte offsets; bytes 3, 38..41 and 80..83 are reserved.
namespace status_offset {
inline constexpr std::size_t kTag = 0;
inline constexpr std::size_t kMode = 1;
inline constexpr std::size_t kSequence = 2;
inline constexpr std::size_t kFlags = 4;
inline constexpr std::size_t kInputPins = 6;
inline constexpr std::size_t kOutputPins = 10;
inline constexpr std::size_t kStepPositions = 14;  // 6 x i32
inline constexpr std::size_t kSpindleRate = 42;
inline constexpr std::size_t kBufferedRecords = 46;
inline constexpr std::size_t kTimeStamp = 48;
inline constexpr std::size_t kEncoderCounts = 52;  // 7 x i32
inline constexpr std::size_t kFault = 84;
inline constexpr std::size_t kHomedAxis = 85;
inline constexpr std::size_t kExecutingLine = 86;
inline constexpr std::size_t kAnalogInputs = 90;  // 4 x u16
inline constexpr std::size_t kShuttleSpeed = 98;
inline constexpr std::size_t kBufferFill = 99;
inline constexpr std::size_t kThcOffset = 100;
inline constexpr std::size_t kReceivedRecords = 104;
}  // namespace status_offset

// Bits of Flags that the plugin reads.
namespace status_flag {
inline constexpr std::uint16_t kResynchronise = 1u << 0;
inline constexpr std::uint16_t kThcRunning = 1u << 1;
inline constexpr std::uint16_t kArcOk = 1u << 3;
inline constexpr std::uint16_t kThcUp = 1u << 4;
inline constexpr std::uint16_t kThcDown = 1u << 5;
inline constexpr std::uint16_t kFeedhold = 1u << 6;
inline constexpr std::uint16_t kThreadingStartAllowed = 1u << 7;
inline constexpr std::uint16_t kSampleTorchVoltage = 1u << 8;
inline constexpr std::uint16_t kHostLed1500 = 1u << 9;
}  // namespace status_flag

using StatusBytes = std::span<const std::byte, kStatusRecordSize>;

inline StatusRecord DecodeStatusRecord(StatusBytes bytes) {
  namespace at = status_offset;
  using wire::Get;
  StatusRecord record;
  record.Tag = Get<std::uint8_t>(bytes, at::kTag);
  record.Mode = Get<std::uint8_t>(bytes, at::kMode);
  record.Sequence = Get<std::uint8_t>(bytes, at::kSequence);
  record.Flags = Get<std::uint16_t>(bytes, at::kFlags);
  record.InputPins = Get<std::uint32_t>(bytes, at::kInputPins);
  record.OutputPins = Get<std::uint32_t>(bytes, at::kOutputPins);
  for (int a = 0; a < kStatusAxisCount; ++a) {
    record.StepPositions[a] = Get<std::int32_t>(bytes, at::kStepPositions + 4 * a);
  }
  record.SpindleRate = Get<float>(bytes, at::kSpindleRate);
  record.BufferedRecords = Get<std::uint16_t>(bytes, at::kBufferedRecords);
  record.TimeStamp = Get<std::uint32_t>(bytes, at::kTimeStamp);
  for (int e = 0; e < kStatusEncoderCount; ++e) {
    record.EncoderCounts[e] = Get<std::int32_t>(bytes, at::kEncoderCounts + 4 * e);
  }
  record.Fault = Get<std::uint8_t>(bytes, at::kFault);
  record.HomedAxis = Get<std::uint8_t>(bytes, at::kHomedAxis);
  record.ExecutingLine = Get<std::int32_t>(bytes, at::kExecutingLine);
  for (int i = 0; i < kStatusAnalogCount; ++i) {
    record.AnalogInputs[i] = Get<std::uint16_t>(bytes, at::kAnalogInputs + 2 * i);
  }
  record.ShuttleSpeed = Get<std::uint8_t>(bytes, at::kShuttleSpeed);
  record.BufferFill = Get<std::uint8_t>(bytes, at::kBufferFill);
  record.ThcOffset = Get<std::int32_t>(bytes, at::kThcOffset);
  record.ReceivedRecords = Get<std::uint16_t>(bytes, at::kReceivedRecords);
  return record;
}

// Reserved bytes go out as zero.
inline void EncodeStatusRecord(const StatusRecord& record, std::span<std::byte, kStatusRecordSize> bytes) {
  namespace at = status_offset;
  using wire::Put;
  std::fill(bytes.begin(), bytes.end(), std::byte{0});
  Put(bytes, at::kTag, record.Tag);
  Put(bytes, at::kMode, record.Mode);
  Put(bytes, at::kSequence, record.Sequence);
  Put(bytes, at::kFlags, record.Flags);
  Put(bytes, at::kInputPins, record.InputPins);
  Put(bytes, at::kOutputPins, record.OutputPins);
  for (int a = 0; a < kStatusAxisCount; ++a) Put(bytes, at::kStepPositions + 4 * a, record.StepPositions[a]);
  Put(bytes, at::kSpindleRate, record.SpindleRate);
  Put(bytes, at::kBufferedRecords, record.BufferedRecords);
  Put(bytes, at::kTimeStamp, record.TimeStamp);
  for (int e = 0; e < kStatusEncoderCount; ++e) Put(bytes, at::kEncoderCounts + 4 * e, record.EncoderCounts[e]);
  Put(bytes, at::kFault, record.Fault);
  Put(bytes, at::kHomedAxis, record.HomedAxis);
  Put(bytes, at::kExecutingLine, record.ExecutingLine);
  for (int i = 0; i < kStatusAnalogCount; ++i) Put(bytes, at::kAnalogInputs + 2 * i, record.AnalogInputs[i]);
  Put(bytes, at::kShuttleSpeed, record.ShuttleSpeed);
  Put(bytes, at::kBufferFill, record.BufferFill);
  Put(bytes, at::kThcOffset, record.ThcOffset);
  Put(bytes, at::kReceivedRecords, record.ReceivedRecords);
}

// Codes of Mode, Sequence and Fault that the cycle acts upon.
inline constexpr std::uint8_t kModeIdle = 0;
inline constexpr std::uint8_t kModeJog = 1;
inline constexpr std::uint8_t kModeSegment = 2;
inline constexpr std::uint8_t kModeHold = 3;
inline constexpr std::uint8_t kModeEStop = 4;
inline constexpr std::uint8_t kModeSafe = 5;

inline constexpr std::uint8_t kSequenceNone = 0;
inline constexpr std::uint8_t kSequenceHomeFirst = 1;  // HOME0
inline constexpr std::uint8_t kSequenceHomeLast = 7;
inline constexpr std::uint8_t kSequenceProbeMove = 8;
inline constexpr std::uint8_t kSequenceProbeContact = 9;
inline constexpr std::uint8_t kSequenceMpg = 10;
inline constexpr std::uint8_t kSequenceRigidTap1 = 11;
inline constexpr std::uint8_t kSequenceRigidTap2 = 12;
inline constexpr std::uint8_t kSequenceThreading = 13;

inline constexpr std::uint8_t kFaultLimitSwitch = 2;
inline constexpr std::uint8_t kFaultSoftLimit = 3;

inline constexpr std::array<std::string_view, 7> kModeNames{"IDLE", "JOG", "SEGM", "HOLD", "ESTOP", "SAFE", "RDOWN"};
inline constexpr std::array<std::string_view, 14> kSequenceNames{"NONE",  "HOME0", "HOME1", "HOME2",  "HOME3",
                                                                 "HOME4", "HOME5", "HOME6", "PROBE1", "PROBE2",
                                                                 "MPG",   "RTAP1", "RTAP2", "THREAD"};
inline constexpr std::array<std::string_view, 7> kFaultNames{"NONE",  "UNKNOWN", "LIMITSW", "SOFTLIMIT",
                                                             "ESTOP", "COMMERR", "FEEDHOLD"};

// A code from the network is looked up, never used as an index unchecked.
template <std::size_t N>
constexpr std::optional<std::string_view> NameOf(const std::array<std::string_view, N>& table, std::uint8_t code) {
  if (code >= N) return std::nullopt;
  return table[code];
}

constexpr std::optional<std::string_view> ModeName(std::uint8_t code) { return NameOf(kModeNames, code); }
constexpr std::optional<std::string_view> SequenceName(std::uint8_t code) { return NameOf(kSequenceNames, code); }
constexpr std::optional<std::string_view> FaultName(std::uint8_t code) { return NameOf(kFaultNames, code); }

}  // namespace veltra::cycle

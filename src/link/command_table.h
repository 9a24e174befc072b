// What travels on the two controller channels, apart from the big records
// that have headers of their own (status, motion, configuration): every
// command code with its payload size, the command frame, the identify reply
// and the debug record. The plugin's senders and the substitute controller
// both work from these declarations.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string_view>

#include "link/wire.h"

namespace veltra::link {

// X(name, code, fewest payload bytes, most payload bytes)
#define VELTRA_COMMANDS(X)             \
  X(CMD_JOG_START, 2, 6, 6)            \
  X(CMD_JOG_STOP, 3, 1, 1)             \
  X(CMD_PROBE, 4, 48, 48)              \
  X(CMD_HOME, 5, 2, 2)                 \
  X(CMD_SET_OUTPUTS, 6, 6, 6)          \
  X(CMD_SPINDLE, 7, 10, 10)            \
  X(CMD_CONFIGURE, 9, 533, 533)        \
  X(CMD_DISCARD_BUFFER, 12, 4, 4)      \
  X(CMD_END_PROBE, 13, 0, 0)           \
  X(CMD_STOP, 14, 0, 1)                \
  X(CMD_SET_INPUT_OVERRIDES, 15, 4, 4) \
  X(CMD_START_THREADING, 16, 29, 29)   \
  X(CMD_SET_MPG, 17, 21, 21)           \
  X(CMD_HOME_VERIFY, 18, 2, 2)         \
  X(CMD_SET_THC, 19, 52, 52)           \
  X(CMD_HOST_REQUEST, 20, 0, 0)        \
  X(CMD_START_RIGID_TAP, 21, 14, 14)   \
  X(CMD_KEEPALIVE, 22, 0, 0)           \
  X(CMD_SET_THC_PID, 23, 16, 16)       \
  X(CMD_SET_PWM_DUTY, 24, 4, 4)        \
  X(CMD_SET_POSITION, 25, 25, 25)      \
  X(CMD_SET_JOYSTICK, 26, 34, 34)      \
  X(CMD_ACCEPT_REQUEST, 27, 1, 1)      \
  X(CMD_IDENTIFY, 240, 0, 0)           \
  X(CMD_BOOT_ENTER, 241, 0, 0)         \
  X(CMD_BOOT_ERASE, 242, 0, 0)         \
  X(CMD_BOOT_WRITE, 243, 2, 2 + 1024)  \
  X(CMD_BOOT_FINISH, 244, 0, 0)        \
  X(CMD_BOOT_START, 245, 0, 0)

#define VELTRA_DECLARE_COMMAND_CODE(name, code, fewest, most) inline constexpr std::uint8_t name = code;
VELTRA_COMMANDS(VELTRA_DECLARE_COMMAND_CODE)
#undef VELTRA_DECLARE_COMMAND_CODE

struct CommandSpec {
  std::uint8_t code;
  std::string_view name;
  std::uint16_t fewestPayloadBytes;
  std::uint16_t mostPayloadBytes;

  constexpr bool Allows(std::size_t payloadBytes) const {
    return payloadBytes >= fewestPayloadBytes && payloadBytes <= mostPayloadBytes;
  }
};

#define VELTRA_DESCRIBE_COMMAND(name, code, fewest, most) CommandSpec{code, #name, fewest, most},
inline constexpr CommandSpec kCommandTable[] = {VELTRA_COMMANDS(VELTRA_DESCRIBE_COMMAND)};
#undef VELTRA_DESCRIBE_COMMAND

// The entry of a code the plugin sends; nothing for any other code.
constexpr const CommandSpec* FindCommand(std::uint8_t code) {
  for (const CommandSpec& spec : kCommandTable) {
    if (spec.code == code) return &spec;
  }
  return nullptr;
}

// The payload size of a command whose payload has one size.
constexpr std::size_t PayloadSize(std::uint8_t code) {
  const CommandSpec* spec = FindCommand(code);
  return spec ? spec->mostPayloadBytes : 0;
}

// The one-byte payload of CMD_STOP; without a payload it is a plain stop.
namespace stop_mode {
inline constexpr std::uint8_t kEmergency = 1;
inline constexpr std::uint8_t kShutDown = 3;
}  // namespace stop_mode

// A firmware chunk of CMD_BOOT_WRITE: u16 k, then k image bytes.
inline constexpr std::size_t kBootChunkMaxBytes = 1024;

// Command frame: u8 code, u8 code XOR 255, u16 payload length, payload.
// Frames are built in a buffer of kFrameBufferSize bytes.
namespace frame {
inline constexpr std::size_t kCode = 0;
inline constexpr std::size_t kComplement = 1;
inline constexpr std::size_t kPayloadLength = 2;
inline constexpr std::size_t kHeaderSize = 4;
inline constexpr std::size_t kBufferSize = 10000;
inline constexpr std::size_t kMostPayloadBytes = kBufferSize - kHeaderSize;
}  // namespace frame

// Writes the frame into out; returns its size, or 0 when it does not fit.
inline std::size_t EncodeCommandFrame(std::uint8_t code, std::span<const std::byte> payload, std::span<std::byte> out) {
  const std::size_t size = frame::kHeaderSize + payload.size();
  if (payload.size() > frame::kMostPayloadBytes || size > out.size()) return 0;
  wire::Put<std::uint8_t>(out, frame::kCode, code);
  wire::Put<std::uint8_t>(out, frame::kComplement, static_cast<std::uint8_t>(code ^ 0xFF));
  wire::Put<std::uint16_t>(out, frame::kPayloadLength, static_cast<std::uint16_t>(payload.size()));
  if (!payload.empty()) std::memcpy(out.data() + frame::kHeaderSize, payload.data(), payload.size());
  return size;
}

struct FrameHeader {
  std::uint8_t code = 0;
  std::uint8_t complement = 0;
  std::uint16_t payloadLength = 0;

  bool ComplementMatches() const { return static_cast<std::uint8_t>(code ^ 0xFF) == complement; }
};

// The header of the frame at the start of bytes, once all four bytes are there.
inline std::optional<FrameHeader> DecodeFrameHeader(std::span<const std::byte> bytes) {
  if (bytes.size() < frame::kHeaderSize) return std::nullopt;
  return FrameHeader{wire::Get<std::uint8_t>(bytes, frame::kCode), wire::Get<std::uint8_t>(bytes, frame::kComplement),
                     wire::Get<std::uint16_t>(bytes, frame::kPayloadLength)};
}

// The controller's answer to CMD_IDENTIFY on the bulk channel.
namespace identify_reply {
inline constexpr std::size_t kBootloaderActive = 0;
inline constexpr std::size_t kFirmwareVersion = 1;
inline constexpr std::size_t kFirmwareVersionSize = 6;  // five characters and a zero byte
inline constexpr std::size_t kSize = 7;
}  // namespace identify_reply

// A debug record the controller sends on the bulk channel.
struct DebugRecord {
  std::int32_t first = 0;
  double real = 0.0;
  std::int32_t second = 0;
};

namespace debug_record {
inline constexpr std::size_t kFirst = 0;
inline constexpr std::size_t kReal = 4;  // not aligned
inline constexpr std::size_t kSecond = 12;
inline constexpr std::size_t kSize = 16;
}  // namespace debug_record

inline DebugRecord DecodeDebugRecord(std::span<const std::byte, debug_record::kSize> bytes) {
  return DebugRecord{wire::Get<std::int32_t>(bytes, debug_record::kFirst),
                     wire::Get<double>(bytes, debug_record::kReal),
                     wire::Get<std::int32_t>(bytes, debug_record::kSecond)};
}

inline void EncodeDebugRecord(const DebugRecord& record, std::span<std::byte, debug_record::kSize> bytes) {
  wire::Put(bytes, debug_record::kFirst, record.first);
  wire::Put(bytes, debug_record::kReal, record.real);
  wire::Put(bytes, debug_record::kSecond, record.second);
}

}  // namespace veltra::link

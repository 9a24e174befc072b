// The payloads of the commands the cycle sends, as the controller reads
// them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace veltra::cycle {

// The payload of CMD_SET_OUTPUTS: u32 output pin mask, u16 control flags.
namespace outputs_payload {
inline constexpr std::size_t kPinMask = 0;
inline constexpr std::size_t kControlFlags = 4;
inline constexpr std::size_t kSize = 6;
}  // namespace outputs_payload
using OutputsPayload = std::array<std::byte, outputs_payload::kSize>;

// Bits of the control flags word.
namespace control_flag {
inline constexpr std::uint16_t kSoftLimits = 1u << 0;
inline constexpr std::uint16_t kShuttleMode = 1u << 1;
inline constexpr std::uint16_t kHostFlag2 = 1u << 2;
inline constexpr std::uint16_t kPlasmaMode = 1u << 3;
inline constexpr std::uint16_t kCompareBelowLimit = 1u << 5;
inline constexpr std::uint16_t kHardwareFeedhold = 1u << 6;
}  // namespace control_flag

// The payload of CMD_SET_POSITION: six i32 step positions, then the u8 mask
// of the axes whose slot counts.
namespace set_position_payload {
inline constexpr std::size_t kPositions = 0;
inline constexpr std::size_t kAxisMask = 24;
inline constexpr std::size_t kSize = 25;
}  // namespace set_position_payload

}  // namespace veltra::cycle

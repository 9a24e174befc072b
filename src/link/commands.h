// The ways to talk to the controller: one command frame at a time on the
// command channel, and motion batches on the bulk channel.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace veltra::link {

inline constexpr std::size_t kBulkStagingSize = 10000;

// True when the command channel took the whole frame. False without a
// word while the channel is not connected; a short write takes the link
// down with "Error writing to device!". A payload longer than a frame can
// carry is refused before anything is written.
bool SendCommand(std::uint8_t code, std::span<const std::byte> payload = {});

// A batch is assembled in the staging buffer and written in one piece.
void BulkBegin();
// False, with nothing added, when the batch would outgrow the staging buffer.
bool BulkAppend(std::span<const std::byte> bytes);
// True when the bulk channel took the whole batch; failures show nothing,
// the cycle's watchdog handles a dead link.
bool BulkSend();

}  // namespace veltra::link

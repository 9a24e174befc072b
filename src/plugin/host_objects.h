// The two host objects the plugin reaches through the blocks. Their layout is
// the host's; this is the one place that knows it, and the host stand-ins
// build their objects from these constants.
//
// Status line (PlannerBlock.StatusMessage, 4 bytes): the byte offset, from
// the start of the planner block, of a text record the host owns:
//   u32 capacity (bytes for the text, terminator included)
//   u32 length   (of the current text)
//   u32 serial   (incremented by every assignment, so the host sees repeats)
//   char text[capacity], zero-terminated
// An offset of 0 means the host keeps no status line.
//
// Main window object (ViewBlock.MainFrame points to it): its first
// pointer-sized field is the platform window handle of the host's main
// window, which owns the menu bar and receives command messages.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/messages.h"

namespace veltra::host {

inline constexpr std::uint32_t kStatusTextCapacityOffset = 0;
inline constexpr std::uint32_t kStatusTextLengthOffset = 4;
inline constexpr std::uint32_t kStatusTextSerialOffset = 8;
inline constexpr std::uint32_t kStatusTextTextOffset = 12;

void AssignStatusText(std::string_view text);
std::string ReadStatusText();

platform::Window MainWindow();

}  // namespace veltra::host

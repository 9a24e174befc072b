#include "plugin/host_objects.h"

#include <algorithm>
#include <cstring>

#include "plugin/host_blocks.h"

namespace veltra::host {
namespace {

std::uint32_t ReadU32(const std::byte* at) {
  std::uint32_t value = 0;
  std::memcpy(&value, at, sizeof value);
  return value;
}

void WriteU32(std::byte* at, std::uint32_t value) { std::memcpy(at, &value, sizeof value); }

std::byte* StatusRecord() {
  std::byte* planner = BlockBase(Block::Planner);
  const std::uint32_t offset = PlannerBlock::StatusMessage.Get();
  return planner && offset != 0 ? planner + offset : nullptr;
}

}  // namespace

void AssignStatusText(std::string_view text) {
  std::byte* record = StatusRecord();
  if (!record) return;
  const std::uint32_t capacity = ReadU32(record + kStatusTextCapacityOffset);
  if (capacity == 0) return;
  const auto length = static_cast<std::uint32_t>(std::min<std::size_t>(text.size(), capacity - 1));
  std::memcpy(record + kStatusTextTextOffset, text.data(), length);
  record[kStatusTextTextOffset + length] = std::byte{0};
  WriteU32(record + kStatusTextLengthOffset, length);
  WriteU32(record + kStatusTextSerialOffset, ReadU32(record + kStatusTextSerialOffset) + 1);
}

std::string ReadStatusText() {
  const std::byte* record = StatusRecord();
  if (!record) return {};
  const std::uint32_t capacity = ReadU32(record + kStatusTextCapacityOffset);
  const std::uint32_t length = std::min(ReadU32(record + kStatusTextLengthOffset), capacity);
  return std::string(reinterpret_cast<const char*>(record + kStatusTextTextOffset), length);
}

platform::Window MainWindow() {
  const std::uintptr_t object = ViewBlock::MainFrame.Get();
  if (object == 0) return nullptr;
  platform::Window window = nullptr;
  std::memcpy(&window, reinterpret_cast<const void*>(object), sizeof window);
  return window;
}

}  // namespace veltra::host

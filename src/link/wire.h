// Little-endian fields at byte offsets of a wire record (command payloads,
// the status, motion and configuration records). Every record is encoded and
// decoded through these, never by laying a struct over the bytes.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <type_traits>

namespace veltra::wire {

static_assert(std::endian::native == std::endian::little, "the records are little-endian, as are both targets");

template <typename T>
concept WireValue = std::is_arithmetic_v<T>;

// The caller guarantees offset + sizeof(T) <= bytes.size(); the records have
// fixed sizes and fixed offsets.
template <WireValue T>
void Put(std::span<std::byte> bytes, std::size_t offset, T value) {
  std::memcpy(bytes.data() + offset, &value, sizeof value);
}

template <WireValue T>
T Get(std::span<const std::byte> bytes, std::size_t offset) {
  T value{};
  std::memcpy(&value, bytes.data() + offset, sizeof value);
  return value;
}

}  // namespace veltra::wire

// A command payload as the substitute controller receives it: the bytes of
// an encoded record.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace veltra::emu {

template <std::size_t N>
std::vector<std::uint8_t> BytesOf(const std::array<std::byte, N>& payload) {
  std::vector<std::uint8_t> bytes(N);
  std::memcpy(bytes.data(), payload.data(), N);
  return bytes;
}

}  // namespace veltra::emu

// Commands that carry configuration go out only when their payload changed:
// the sender keeps the last payload it took and compares every byte. Reset
// re-arms all of them at once, so each such command goes out again on the
// next tick whatever its payload.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "link/commands.h"

namespace veltra::cycle {

namespace detail {
// Counts the re-armings; a payload taken before the latest one counts as
// never sent.
inline std::uint32_t rearmings = 0;
}  // namespace detail

// Every kept payload counts as never sent (the next Take of each reports a
// change).
inline void RearmChangeDetection() { ++detail::rearmings; }

template <std::size_t N>
class ChangeDetectedPayload {
 public:
  using Bytes = std::array<std::byte, N>;

  // True when the payload differs from the kept one in any byte, or nothing
  // was taken since the last re-arming; the payload is kept either way.
  bool Take(const Bytes& payload) {
    const bool changed = !taken_ || takenAt_ != detail::rearmings || payload != kept_;
    kept_ = payload;
    taken_ = true;
    takenAt_ = detail::rearmings;
    return changed;
  }

  // The payload taken last; zero bytes before the first.
  const Bytes& Kept() const { return kept_; }

 private:
  Bytes kept_{};
  bool taken_ = false;
  std::uint32_t takenAt_ = 0;
};

// The usual sender: the command goes out when its payload changed. False
// when nothing was sent or the send failed.
template <std::size_t N>
bool SendWhenChanged(std::uint8_t code, ChangeDetectedPayload<N>& last,
                     const typename ChangeDetectedPayload<N>::Bytes& payload) {
  if (!last.Take(payload)) return false;
  return link::SendCommand(code, payload);
}

}  // namespace veltra::cycle

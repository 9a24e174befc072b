// The controller's reading of the command channel: the byte stream cut into
// command frames, each checked against the command table before it counts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace veltra::emu {

struct ReceivedCommand {
  std::uint8_t code = 0;
  std::vector<std::uint8_t> payload;
  bool operator==(const ReceivedCommand&) const = default;

  // The payload as a record of N bytes; none when fewer arrived (the parser
  // lets no such frame through, a test calling the machine directly may).
  template <std::size_t N>
  std::optional<std::span<const std::byte, N>> Record() const {
    if (payload.size() < N) return std::nullopt;
    return std::span<const std::byte, N>(std::as_bytes(std::span<const std::uint8_t>(payload)).data(), N);
  }
};

class FrameParser {
 public:
  using FrameHandler = std::function<void(const ReceivedCommand& command)>;
  using RejectHandler = std::function<void(const std::string& reason)>;

  // Takes the bytes as they arrived and reports every whole frame, valid or
  // rejected, in stream order. A frame whose header does not hold together
  // (complement byte, length) gives one reject, then the parser looks for
  // the next plausible header byte by byte.
  void Feed(std::span<const std::uint8_t> bytes, const FrameHandler& onFrame, const RejectHandler& onReject);
  // Forgets a partial frame, as a new connection starts afresh.
  void Reset();

 private:
  std::vector<std::uint8_t> pending_;
  bool hunting_ = false;
};

}  // namespace veltra::emu

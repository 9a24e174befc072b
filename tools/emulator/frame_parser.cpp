#include "frame_parser.h"

#include <cstdio>

#include "link/command_table.h"

namespace veltra::emu {
namespace {

std::string Describe(const char* format, unsigned a, unsigned b = 0, unsigned c = 0, unsigned d = 0) {
  char text[160];
  std::snprintf(text, sizeof text, format, a, b, c, d);
  return text;
}

// What a frame that holds together still needs to be accepted; empty when
// it is valid.
std::string CheckPayload(std::uint8_t code, std::span<const std::uint8_t> payload) {
  const link::CommandSpec* spec = link::FindCommand(code);
  if (spec == nullptr) return Describe("unknown command code %u (%u payload bytes)", code, unsigned(payload.size()));
  if (!spec->Allows(payload.size())) {
    return std::string(spec->name) + Describe(" with %u payload bytes, expected %u to %u", unsigned(payload.size()),
                                              spec->fewestPayloadBytes, spec->mostPayloadBytes);
  }
  if (code == link::CMD_BOOT_WRITE) {
    const unsigned chunk = payload[0] | payload[1] << 8;
    if (chunk > link::kBootChunkMaxBytes || chunk + 2 != payload.size()) {
      return Describe("CMD_BOOT_WRITE announcing %u image bytes in a payload of %u", chunk, unsigned(payload.size()));
    }
  }
  return {};
}

}  // namespace

void FrameParser::Feed(std::span<const std::uint8_t> bytes, const FrameHandler& onFrame,
                       const RejectHandler& onReject) {
  pending_.insert(pending_.end(), bytes.begin(), bytes.end());
  std::size_t start = 0;
  while (pending_.size() - start >= link::frame::kHeaderSize) {
    const auto header = *link::DecodeFrameHeader(std::as_bytes(std::span<const std::uint8_t>(pending_).subspan(start)));
    if (!header.ComplementMatches() || header.payloadLength > link::frame::kMostPayloadBytes) {
      if (!hunting_) {
        onReject(header.ComplementMatches()
                     ? Describe("payload length %u is longer than a frame can carry", header.payloadLength)
                     : Describe("complement byte %u does not match code %u", header.complement, header.code));
      }
      hunting_ = true;
      ++start;
      continue;
    }
    hunting_ = false;
    const std::size_t size = link::frame::kHeaderSize + header.payloadLength;
    if (pending_.size() - start < size) break;
    const auto payload =
        std::span<const std::uint8_t>(pending_).subspan(start + link::frame::kHeaderSize, header.payloadLength);
    const std::string problem = CheckPayload(header.code, payload);
    if (problem.empty()) {
      onFrame(ReceivedCommand{header.code, std::vector<std::uint8_t>(payload.begin(), payload.end())});
    } else {
      onReject(problem);
    }
    start += size;
  }
  pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(start));
}

void FrameParser::Reset() {
  pending_.clear();
  hunting_ = false;
}

}  // namespace veltra::emu

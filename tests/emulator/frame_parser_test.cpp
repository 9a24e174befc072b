#include "frame_parser.h"

#include <gtest/gtest.h>

#include <vector>

namespace veltra::emu {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

Bytes BootWrite(unsigned announced, std::size_t imageBytes) {
  const std::size_t payload = 2 + imageBytes;
  Bytes frame{243,
              12,
              static_cast<std::uint8_t>(payload),
              static_cast<std::uint8_t>(payload >> 8),
              static_cast<std::uint8_t>(announced),
              static_cast<std::uint8_t>(announced >> 8)};
  frame.resize(4 + payload, 0xAB);
  return frame;
}

const Bytes kIdentify{240, 15, 0, 0};
const Bytes kJogStop2{3, 252, 1, 0, 2};

struct ParseCase {
  const char* name;
  Bytes stream;
  std::vector<ReceivedCommand> frames;
  std::size_t rejects;
};

class Parsing : public ::testing::TestWithParam<ParseCase> {
 protected:
  void Feed(const Bytes& bytes) {
    parser.Feed(
        bytes, [&](const ReceivedCommand& c) { frames.push_back(c); },
        [&](const std::string& reason) { rejects.push_back(reason); });
  }
  FrameParser parser;
  std::vector<ReceivedCommand> frames;
  std::vector<std::string> rejects;
};

TEST_P(Parsing, ChecksEveryFrameAgainstTheCommandTableHoweverTheBytesArrive) {
  const ParseCase& c = GetParam();
  Feed(c.stream);
  EXPECT_EQ(frames, c.frames);
  EXPECT_EQ(rejects.size(), c.rejects);

  FrameParser byteByByte;
  std::vector<ReceivedCommand> framesSlowly;
  std::size_t rejectsSlowly = 0;
  for (std::uint8_t byte : c.stream) {
    byteByByte.Feed(
        Bytes{byte}, [&](const ReceivedCommand& f) { framesSlowly.push_back(f); },
        [&](const std::string&) { ++rejectsSlowly; });
  }
  EXPECT_EQ(framesSlowly, c.frames);
  EXPECT_EQ(rejectsSlowly, c.rejects);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Parsing,
    ::testing::Values(
        ParseCase{"BackToBack", Concat({kIdentify, kJogStop2}), {{240, {}}, {3, {2}}}, 0},
        ParseCase{"StopWithAndWithoutMode", Concat({{14, 241, 0, 0}, {14, 241, 1, 0, 3}}), {{14, {}}, {14, {3}}}, 0},
        ParseCase{"StopWithTwoBytes", Concat({{14, 241, 2, 0, 3, 3}, kIdentify}), {{240, {}}}, 1},
        ParseCase{"WrongComplementThenAFrame", Concat({{3, 250, 1, 0, 2}, kJogStop2}), {{3, {2}}}, 1},
        ParseCase{"GarbageCountsOnce", Concat({{1, 2, 3, 4, 5, 6, 7}, kIdentify}), {{240, {}}}, 1},
        ParseCase{"UnknownCode", Concat({{8, 247, 2, 0, 9, 9}, kIdentify}), {{240, {}}}, 1},
        ParseCase{"WrongPayloadSize", Concat({{3, 252, 2, 0, 2, 2}, kJogStop2}), {{3, {2}}}, 1},
        ParseCase{"LengthBeyondAnyFrame", Concat({{22, 233, 0x10, 0x27}, kIdentify}), {{240, {}}}, 1},
        ParseCase{"WholeFirmwareChunk",
                  BootWrite(1024, 1024),
                  {{243,
                    [] {
                      Bytes payload{0x00, 0x04};
                      payload.resize(1026, 0xAB);
                      return payload;
                    }()}},
                  0},
        ParseCase{"ChunkLongerThanAnnounced", Concat({BootWrite(10, 12), kIdentify}), {{240, {}}}, 1},
        ParseCase{"ChunkAbove1024", Concat({BootWrite(1025, 1025), kIdentify}), {{240, {}}}, 1}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace veltra::emu

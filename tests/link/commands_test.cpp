#include "link/commands.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vector>

#include "controller_fixture.h"
#include "link/command_table.h"
#include "link/controller_socket.h"
#include "loopback.h"

namespace veltra::link {
namespace {

using ::testing::ElementsAreArray;
using ::testing::IsEmpty;
using veltra::testing::ControllerTest;
using veltra::testing::PumpUntil;

std::vector<std::byte> AsBytes(const std::vector<std::uint8_t>& values) {
  std::vector<std::byte> bytes(values.size());
  for (std::size_t i = 0; i < values.size(); ++i) bytes[i] = static_cast<std::byte>(values[i]);
  return bytes;
}

std::vector<std::uint8_t> FirmwareChunk() {
  std::vector<std::uint8_t> payload{0x00, 0x04};  // k = 1024
  for (int i = 0; i < 1024; ++i) payload.push_back(static_cast<std::uint8_t>(i * 7));
  return payload;
}

struct WireCase {
  const char* name;
  std::uint8_t code;
  std::vector<std::uint8_t> payload;
  std::vector<std::uint8_t> header;  // the frame's first bytes
  std::size_t frameSize;
};

const WireCase kWireCases[] = {
    {"Identify", CMD_IDENTIFY, {}, {240, 15, 0, 0}, 4},
    {"JogStopAxis2", CMD_JOG_STOP, {2}, {3, 252, 1, 0, 2}, 5},
    {"Stop", CMD_STOP, {}, {14, 241, 0, 0}, 4},
    {"ShutDown", CMD_STOP, {3}, {14, 241, 1, 0, 3}, 5},
    {"FirmwareChunk", CMD_BOOT_WRITE, FirmwareChunk(), {243, 12, 0x02, 0x04, 0x00, 0x04}, 1030},
};

TEST_F(ControllerTest, FramesGoOnTheWireByteForByte) {
  ConnectToController();
  controller->ClearRecords();
  std::vector<std::uint8_t> expected;
  std::vector<emu::ReceivedCommand> expectedCommands;
  for (const WireCase& c : kWireCases) {
    ASSERT_TRUE(SendCommand(c.code, AsBytes(c.payload))) << c.name;
    std::vector<std::uint8_t> frame = c.header;
    frame.resize(4);
    frame.insert(frame.end(), c.payload.begin(), c.payload.end());
    ASSERT_EQ(frame.size(), c.frameSize) << c.name;
    ASSERT_TRUE(std::equal(c.header.begin(), c.header.end(), frame.begin())) << c.name;
    expected.insert(expected.end(), frame.begin(), frame.end());
    expectedCommands.push_back({c.code, c.payload});
  }
  ASSERT_TRUE(PumpUntil([&] { return controller->CommandChannelBytes().size() >= expected.size(); }));
  EXPECT_THAT(controller->CommandChannelBytes(), ElementsAreArray(expected));
  EXPECT_EQ(controller->Commands(), expectedCommands);
  EXPECT_THAT(controller->Rejects(), IsEmpty());
  EXPECT_THAT(boxes.Texts(), IsEmpty());
}

TEST_F(ControllerTest, APayloadLongerThanAFrameIsRefusedAndTheLinkStays) {
  ConnectToController();
  Link().ControllerOnline = true;
  const std::vector<std::byte> tooLong(frame::kMostPayloadBytes + 1);
  EXPECT_FALSE(SendCommand(CMD_CONFIGURE, tooLong));
  EXPECT_TRUE(Link().ControllerOnline);
  EXPECT_EQ(CommandChannel().Connected, 1);
  EXPECT_THAT(boxes.Texts(), IsEmpty());
  ASSERT_TRUE(SendCommand(CMD_KEEPALIVE));
  ASSERT_TRUE(PumpUntil([&] { return controller->Commands().size() == 2; }));
  EXPECT_EQ(controller->Commands().back().code, CMD_KEEPALIVE);
}

TEST_F(ControllerTest, ABulkBatchGoesOutWholeAndCanNeverOutgrowItsBuffer) {
  ConnectToController();
  std::vector<std::byte> records(150 * 54);
  for (std::size_t i = 0; i < records.size(); ++i) records[i] = static_cast<std::byte>(i % 251);
  const std::vector<std::byte> rest(kBulkStagingSize - records.size(), std::byte{0xEE});

  BulkBegin();
  EXPECT_TRUE(BulkAppend(records));
  EXPECT_TRUE(BulkAppend(rest));
  EXPECT_FALSE(BulkAppend(std::vector<std::byte>(1, std::byte{0x11})));
  ASSERT_TRUE(BulkSend());

  std::vector<std::uint8_t> expected;
  for (std::byte b : records) expected.push_back(std::to_integer<std::uint8_t>(b));
  expected.insert(expected.end(), rest.size(), 0xEE);
  ASSERT_TRUE(PumpUntil([&] { return controller->BulkChannelBytes().size() >= expected.size(); }));
  EXPECT_THAT(controller->BulkChannelBytes(), ElementsAreArray(expected));

  // A new batch starts empty.
  BulkBegin();
  EXPECT_TRUE(BulkAppend(std::vector<std::byte>(54, std::byte{1})));
  ASSERT_TRUE(BulkSend());
  EXPECT_TRUE(PumpUntil([&] { return controller->BulkChannelBytes().size() == expected.size() + 54; }));
}

}  // namespace
}  // namespace veltra::link

// The substitute controller as the plugin's link sees it.
#include "emulator.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "controller_fixture.h"
#include "cycle/motion_commands.h"
#include "cycle/status_record.h"
#include "link/command_table.h"
#include "link/commands.h"
#include "link/controller_socket.h"
#include "loopback.h"
#include "ops/operation_commands.h"

namespace veltra::emu {
namespace {

using ::testing::ElementsAre;
using veltra::testing::ControllerTest;
using veltra::testing::PumpFor;
using veltra::testing::PumpUntil;
using Frame = std::array<std::byte, cycle::kStatusRecordSize>;

// The next whole frame on the command channel, waiting for it if need be.
bool NextFrame(Frame& frame) {
  return PumpUntil([&] { return link::ReadReply(frame); });
}

std::vector<std::uint8_t> NextTags(int count) {
  std::vector<std::uint8_t> tags;
  Frame frame{};
  while (static_cast<int>(tags.size()) < count && NextFrame(frame)) {
    tags.push_back(std::to_integer<std::uint8_t>(frame[cycle::status_offset::kTag]));
  }
  return tags;
}

TEST_F(ControllerTest, StatusFramesComeOnlyWhileBothChannelsAreConnected) {
  StartController();
  link::ControllerSocket commandOnly;
  ASSERT_TRUE(commandOnly.Create());
  ASSERT_TRUE(commandOnly.ConnectTo(address, link::kCommandPort, false));
  PumpFor(60);
  std::array<std::byte, 1> peek{};
  EXPECT_EQ(commandOnly.Receive(peek, true), -1);
  EXPECT_EQ(controller->StatusFramesSent(), 0);
  commandOnly.Close();

  ASSERT_TRUE(link::Connect(false));
  cycle::StatusRecord wanted;
  wanted.Mode = cycle::kModeSegment;
  wanted.Sequence = 12;
  wanted.Flags = cycle::status_flag::kArcOk | cycle::status_flag::kHostLed1500;
  wanted.InputPins = 0x00010010;
  wanted.OutputPins = 0x3;
  wanted.StepPositions = {100, -200, 300, -400, 500, -600};
  wanted.SpindleRate = 1500.5f;
  wanted.BufferedRecords = 321;
  wanted.EncoderCounts = {1, 2, 3, 4, -5, -6, -7};
  wanted.Fault = 2;
  wanted.HomedAxis = 4;
  wanted.ExecutingLine = 17;
  wanted.AnalogInputs = {10, 20, 30, 65535};
  wanted.ShuttleSpeed = 64;
  wanted.BufferFill = 50;
  wanted.ThcOffset = -12;
  wanted.ReceivedRecords = 1000;
  controller->UpdateStatus([&](cycle::StatusRecord& status) {
    const std::uint32_t running = status.TimeStamp;
    status = wanted;
    status.TimeStamp = running;
  });

  Frame frame{};
  cycle::StatusRecord got;
  std::uint32_t previousStamp = 0;
  for (int frames = 0; frames < 100 && NextFrame(frame); ++frames) {
    got = cycle::DecodeStatusRecord(frame);
    if (got.Mode == wanted.Mode) break;
    previousStamp = got.TimeStamp;
  }
  EXPECT_GT(got.TimeStamp, previousStamp);  // the controller's clock runs
  wanted.TimeStamp = got.TimeStamp;
  EXPECT_EQ(got, wanted);
}

TEST_F(ControllerTest, ExtraFramesWithOtherTagsFollowTheStatusFrames) {
  EmulatorOptions options;
  options.faults.unknownTagEvery = 1;
  options.faults.requestEvery = 1;
  ConnectToController(options);
  EXPECT_THAT(NextTags(6), ElementsAre(106, 99, 14, 106, 99, 14));

  controller->UpdateFaults([](Faults& f) {
    f = Faults{};
    f.stopStatus = true;
  });
  Frame frame{};
  while (link::ReadReply(frame)) {
  }
  controller->UpdateStatus([](cycle::StatusRecord& status) { status.Mode = cycle::kModeHold; });
  controller->SendFrameWithTag(cycle::kRequestTag);
  ASSERT_TRUE(NextFrame(frame));
  EXPECT_EQ(cycle::DecodeStatusRecord(frame).Tag, cycle::kRequestTag);
  EXPECT_EQ(cycle::DecodeStatusRecord(frame).Mode, cycle::kModeHold);
}

TEST_F(ControllerTest, DebugRecordsComeOnTheBulkChannel) {
  ConnectToController();
  // The injected record first: a periodic one due in the same turn as the
  // fault would otherwise come before it.
  controller->SendDebugRecord({-5, 2.25, 77});
  controller->UpdateFaults([](Faults& f) { f.debugEvery = 3; });
  std::array<std::byte, link::debug_record::kSize> record{};
  ASSERT_TRUE(PumpUntil([&] { return link::BulkChannel().Receive(record, false) == 16; }));
  const link::DebugRecord injected = link::DecodeDebugRecord(record);
  EXPECT_EQ(injected.first, -5);
  EXPECT_EQ(injected.real, 2.25);
  EXPECT_EQ(injected.second, 77);

  ASSERT_TRUE(PumpUntil([&] { return link::BulkChannel().Receive(record, false) == 16; }));
  const link::DebugRecord periodic = link::DecodeDebugRecord(record);
  EXPECT_EQ(periodic.first % 3, 0);
  EXPECT_EQ(periodic.real, periodic.first * 0.5);
  EXPECT_EQ(periodic.second, -periodic.first);
}

TEST_F(ControllerTest, APartialFrameWaitsUntilTheFaultIsCleared) {
  Faults faults;
  faults.partialFrameBytes = 50;
  EmulatorOptions options;
  options.faults = faults;
  ConnectToController(options);
  ASSERT_TRUE(PumpUntil([&] { return Waiting(true) == 50; }));
  PumpFor(50);
  EXPECT_EQ(Waiting(true), 50);
  Frame frame{};
  EXPECT_FALSE(link::ReadReply(frame));

  controller->UpdateFaults([](Faults& f) { f.partialFrameBytes = 0; });
  ASSERT_TRUE(NextFrame(frame));
  EXPECT_EQ(cycle::DecodeStatusRecord(frame).Tag, cycle::kStatusTag);
  EXPECT_TRUE(NextFrame(frame));
}

TEST_F(ControllerTest, StoppedStatusLeavesTheChannelQuiet) {
  ConnectToController();
  Frame frame{};
  ASSERT_TRUE(NextFrame(frame));
  controller->UpdateFaults([](Faults& f) { f.stopStatus = true; });
  while (link::ReadReply(frame)) {
  }
  const int sent = controller->StatusFramesSent();
  PumpFor(50);
  EXPECT_EQ(controller->StatusFramesSent(), sent);
  EXPECT_EQ(Waiting(true), 0);
}

TEST_F(ControllerTest, TheControllerClosesAfterSoManyFrames) {
  EmulatorOptions options;
  options.faults.closeAfterFrames = 2;  // the identify is the first
  ConnectToController(options);
  ASSERT_TRUE(link::SendCommand(link::CMD_KEEPALIVE));
  EXPECT_TRUE(PumpUntil([] { return link::CommandChannel().Connected == 0 && link::BulkChannel().Connected == 0; }));
  EXPECT_EQ(controller->Commands().size(), 2u);
}

TEST_F(ControllerTest, RejectedFramesAreCountedAndTheStreamGoesOn) {
  ConnectToController();
  const std::byte broken[] = {std::byte{3}, std::byte{250}, std::byte{1}, std::byte{0}, std::byte{2}};
  ASSERT_EQ(link::CommandChannel().Write(broken), 5);
  ASSERT_TRUE(link::SendCommand(link::CMD_END_PROBE));
  ASSERT_TRUE(PumpUntil([&] { return controller->Commands().size() == 2; }));
  EXPECT_EQ(controller->Commands().back().code, link::CMD_END_PROBE);
  EXPECT_THAT(controller->Rejects(), ElementsAre("complement byte 250 does not match code 3"));
}

TEST_F(ControllerTest, ASilentCommandChannelPutsTheControllerIntoEStop) {
  EmulatorOptions options;
  options.commandTimeoutMs = 150;
  ConnectToController(options);
  for (int i = 0; i < 8; ++i) {
    ASSERT_TRUE(link::SendCommand(link::CMD_KEEPALIVE));
    PumpFor(50);
  }
  EXPECT_EQ(controller->MachineStatus().Mode, cycle::kModeIdle);
  ASSERT_TRUE(PumpUntil([&] { return controller->MachineStatus().Mode == cycle::kModeEStop; }));
  EXPECT_EQ(controller->MachineStatus().Fault, kFaultCommunication);

  // A configuration brings it back.
  const std::vector<std::byte> record(config::kConfigRecordSize);
  ASSERT_TRUE(link::SendCommand(link::CMD_CONFIGURE, record));
  ASSERT_TRUE(PumpUntil([&] { return controller->Configuration().has_value(); }));
  EXPECT_EQ(controller->MachineStatus().Mode, cycle::kModeIdle);
}

TEST_F(ControllerTest, AnEStopWithAFaultOfTheTestsChoiceIsReported) {
  ConnectToController();
  controller->EnterEStop(cycle::kFaultSoftLimit);
  Frame frame{};
  cycle::StatusRecord got;
  for (int frames = 0; frames < 100 && NextFrame(frame); ++frames) {
    got = cycle::DecodeStatusRecord(frame);
    if (got.Mode == cycle::kModeEStop) break;
  }
  EXPECT_EQ(got.Mode, cycle::kModeEStop);
  EXPECT_EQ(got.Fault, cycle::kFaultSoftLimit);
}

TEST_F(ControllerTest, MotionRecordsSplitAcrossWritesAreExecutedAndReported) {
  EmulatorOptions options;
  options.timeScale = 5.0;
  ConnectToController(options);
  constexpr int kRecords = 300;
  std::vector<std::byte> batch;
  for (int i = 0; i < kRecords; ++i) {
    cycle::MotionRecord record;
    record.Position = {i + 0.0001, -2.0 * i + 0.0001, 0.0, 0.0, 0.0, 0.0};
    record.Line = 40 + i / 100;
    const cycle::MotionRecordBytes bytes = cycle::EncodeMotionRecord(record);
    batch.insert(batch.end(), bytes.begin(), bytes.end());
  }
  // Three writes, as the plugin's batches fit its staging buffer; the first
  // ends inside a record, and the controller has read it before the rest
  // goes out.
  constexpr std::size_t kRecordSize = cycle::motion_record::kSize;
  const std::size_t ends[] = {100 * kRecordSize + 20, 200 * kRecordSize, batch.size()};
  std::size_t from = 0;
  for (std::size_t end : ends) {
    link::BulkBegin();
    ASSERT_TRUE(link::BulkAppend(std::span(batch).subspan(from, end - from)));
    ASSERT_TRUE(link::BulkSend());
    ASSERT_TRUE(PumpUntil([&] { return controller->BulkChannelBytes().size() == end; }));
    from = end;
  }

  Frame frame{};
  cycle::StatusRecord got;
  bool sawSegment = false;
  for (int frames = 0; frames < 200 && NextFrame(frame); ++frames) {
    got = cycle::DecodeStatusRecord(frame);
    sawSegment = sawSegment || (got.Mode == cycle::kModeSegment && got.ExecutingLine >= 40);
    if (got.ReceivedRecords == kRecords && got.Mode == cycle::kModeIdle) break;
  }
  EXPECT_TRUE(sawSegment);
  EXPECT_EQ(got.Mode, cycle::kModeIdle);
  EXPECT_EQ(got.ReceivedRecords, kRecords);
  EXPECT_EQ(got.BufferedRecords, 0);
  EXPECT_EQ(got.StepPositions, (StepArray{kRecords - 1, -2 * (kRecords - 1), 0, 0, 0, 0}));
  const MotionStats motion = controller->Motion();
  EXPECT_EQ(motion.recordsExecuted, static_cast<std::uint64_t>(kRecords));
  EXPECT_EQ(motion.overruns, 0);
  EXPECT_EQ(motion.stepPositions, got.StepPositions);
  EXPECT_THAT(controller->Rejects(), ::testing::IsEmpty());
}

TEST_F(ControllerTest, AJogAndAHomeShowInTheFramesAndHome6InOneFrameOnly) {
  EmulatorOptions options;
  options.timeScale = 10.0;
  ConnectToController(options);
  ASSERT_TRUE(link::SendCommand(link::CMD_JOG_START, ops::EncodeJogStart({0, 1, 20000})));
  Frame frame{};
  bool sawJog = false;
  for (int frames = 0; frames < 100 && !sawJog && NextFrame(frame); ++frames) {
    const cycle::StatusRecord s = cycle::DecodeStatusRecord(frame);
    sawJog = s.Mode == cycle::kModeJog && s.StepPositions[0] > 0;
  }
  EXPECT_TRUE(sawJog);
  ASSERT_TRUE(link::SendCommand(link::CMD_JOG_STOP, std::vector<std::byte>{std::byte{0}}));
  ASSERT_TRUE(PumpUntil([&] { return controller->MachineStatus().Mode == cycle::kModeIdle; }));
  EXPECT_GT(controller->Motion().stepPositions[0], 0);

  const std::vector<std::byte> axis0(ops::home_payload::kSize);
  ASSERT_TRUE(link::SendCommand(link::CMD_HOME, axis0));
  int home6Frames = 0;
  cycle::StatusRecord s;
  bool homing = true;
  for (int frames = 0; frames < 300 && homing && NextFrame(frame); ++frames) {
    s = cycle::DecodeStatusRecord(frame);
    if (s.Sequence == cycle::kSequenceHomeLast) ++home6Frames;
    homing = home6Frames == 0 || s.Sequence != cycle::kSequenceNone;
  }
  EXPECT_EQ(home6Frames, 1);
  EXPECT_EQ(s.Mode, cycle::kModeIdle);
  EXPECT_EQ(s.StepPositions[0], 0);
}

}  // namespace
}  // namespace veltra::emu

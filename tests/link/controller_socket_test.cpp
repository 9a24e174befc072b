#include "link/controller_socket.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <functional>
#include <numeric>
#include <vector>

#include "controller_fixture.h"
#include "link/command_table.h"
#include "link/commands.h"
#include "link/host_address.h"
#include "loopback.h"
#include "platform/clock.h"
#include "platform/messages.h"

namespace veltra::link {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using veltra::testing::ControllerTest;
using veltra::testing::MessageBoxRecorder;
using veltra::testing::PumpUntil;

std::vector<std::byte> Bytes(std::initializer_list<int> values) {
  std::vector<std::byte> bytes;
  for (int v : values) bytes.push_back(static_cast<std::byte>(v));
  return bytes;
}

TEST_F(ControllerTest, ConnectOpensBothChannelsAndReadsTheIdentity) {
  StartController();
  controller->SetIdentity(1, "02.17");
  ASSERT_TRUE(Connect(false));
  EXPECT_EQ(CommandChannel().Connected, 1);
  EXPECT_EQ(BulkChannel().Connected, 1);
  EXPECT_EQ(Link().PeerAddress, address);
  EXPECT_EQ(Link().BootloaderActive, 1);
  EXPECT_EQ(FirmwareVersionText(), "02.17");
  EXPECT_THAT(controller->CommandChannelBytes(), ElementsAre(240, 15, 0, 0));
  EXPECT_THAT(boxes.Texts(), IsEmpty());
}

TEST_F(ControllerTest, AVersionWithoutItsZeroByteIsReadNoFurtherThanSixBytes) {
  StartController();
  controller->SetIdentity(0, "01.099");
  ASSERT_TRUE(Connect(false));
  EXPECT_EQ(FirmwareVersionText(), "01.099");
}

struct FailedConnectCase {
  const char* name;
  bool refusingController;  // else an alias nobody resolves
  bool quiet;
  std::vector<std::string> boxes;
};

class FailedConnect : public ControllerTest, public ::testing::WithParamInterface<FailedConnectCase> {};

TEST_P(FailedConnect, ShowsTheErrorUnlessQuiet) {
  const FailedConnectCase& c = GetParam();
  emu::EmulatorOptions options;
  options.faults.refuseConnections = c.refusingController;
  StartController(options);
  if (!c.refusingController) SetHostAddressFromName("VELTRA-000000.invalid");
  EXPECT_FALSE(Connect(c.quiet));
  EXPECT_EQ(boxes.Texts(), c.boxes);
  EXPECT_FALSE(CommandChannel().IsOpen());
  EXPECT_FALSE(BulkChannel().IsOpen());
  EXPECT_EQ(Link().PeerAddress, "");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FailedConnect,
    ::testing::Values(FailedConnectCase{"UnknownAlias", false, false, {"Cannot connect to socket! Error=10022"}},
                      FailedConnectCase{"UnknownAliasQuiet", false, true, {}},
                      FailedConnectCase{"NothingListening", true, false, {"Cannot connect to socket! Error=10061"}},
                      FailedConnectCase{"NothingListeningQuiet", true, true, {}}),
    [](const auto& info) { return std::string(info.param.name); });

// Leaves exactly so many descriptors free in this process while it lives.
class DescriptorShortage {
 public:
  explicit DescriptorShortage(int free) {
    getrlimit(RLIMIT_NOFILE, &saved_);
    int highest = 0;
    for (int fd = 0; fd < 4096; ++fd) {
      if (fcntl(fd, F_GETFD) != -1) highest = fd;
    }
    rlimit lowered = saved_;
    lowered.rlim_cur = static_cast<rlim_t>(highest + 1);
    setrlimit(RLIMIT_NOFILE, &lowered);
    for (int fd; (fd = open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;) fillers_.push_back(fd);
    for (int i = 0; i < free && !fillers_.empty(); ++i) {
      close(fillers_.back());
      fillers_.pop_back();
    }
  }
  ~DescriptorShortage() {
    for (int fd : fillers_) close(fd);
    setrlimit(RLIMIT_NOFILE, &saved_);
  }

 private:
  rlimit saved_{};
  std::vector<int> fillers_;
};

struct CreateFailureCase {
  const char* name;
  int freeDescriptors;
  std::string box;
};

class SocketCreation : public ::testing::TestWithParam<CreateFailureCase> {
 protected:
  MessageBoxRecorder boxes;
};

TEST_P(SocketCreation, AFailureIsShownWithItsNumberAndBothChannelsAreClosed) {
  // The thread's queue holds a descriptor of its own, and the sanitizers
  // check an unknown object type through a pipe: both are had beforehand.
  ControllerSocket warmUp;
  ASSERT_TRUE(warmUp.Create());
  warmUp.Close();
  SetHostAddressFromName("127.0.0.1");
  {
    DescriptorShortage shortage(GetParam().freeDescriptors);
    EXPECT_FALSE(Connect(false));
  }
  EXPECT_EQ(boxes.Texts(), std::vector<std::string>{GetParam().box});
  EXPECT_FALSE(CommandChannel().IsOpen());
  EXPECT_FALSE(BulkChannel().IsOpen());
}

INSTANTIATE_TEST_SUITE_P(Cases, SocketCreation,
                         ::testing::Values(CreateFailureCase{"Command", 0, "Cannot create cmd socket! Error=10024"},
                                           CreateFailureCase{"Bulk", 1, "Cannot create bulk socket! Error=10024"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ConnectTo, ASilentAddressGivesUpAfterTwentyPassesAndClosesTheSocket) {
  MessageBoxRecorder boxes;
  veltra::testing::LoopbackPeer silent;
  const std::string address = veltra::testing::BindOnFreeLoopback(
      [&](const std::string& candidate) { return silent.ListenWithoutRoom(candidate, kCommandPort); });
  ASSERT_FALSE(address.empty());
  platform::ManualClock clock;
  platform::SetClock(&clock);
  ControllerSocket socket;
  ASSERT_TRUE(socket.Create());
  const std::uint32_t start = clock.TickCount();
  EXPECT_FALSE(socket.ConnectTo(address, kCommandPort, false));
  EXPECT_EQ(clock.TickCount() - start, 2000u);
  EXPECT_FALSE(socket.IsOpen());
  EXPECT_EQ(socket.Connected, 0);
  EXPECT_EQ(socket.ConnectError, 0);
  EXPECT_THAT(boxes.Texts(), IsEmpty());
  platform::SetClock(nullptr);
}

struct IdentifyFaultCase {
  const char* name;
  std::function<void(emu::Faults&)> fault;
  int bytesLeft;
};

class MissingIdentify : public ControllerTest, public ::testing::WithParamInterface<IdentifyFaultCase> {};

TEST_P(MissingIdentify, FailsAfterAHundredLooksAndTheNextConnectStartsClean) {
  emu::EmulatorOptions options;
  GetParam().fault(options.faults);
  StartController(options);
  {
    veltra::testing::RecordingSystemClock clock;
    EXPECT_FALSE(Connect(false));
    EXPECT_EQ(clock.SleepsOf(10), 100);
  }
  EXPECT_THAT(boxes.Texts(), IsEmpty());
  // The channels stay open with what arrived of the reply.
  EXPECT_TRUE(PumpUntil([&] { return Waiting(false) == GetParam().bytesLeft; }));
  EXPECT_EQ(BulkChannel().Connected, 1);

  controller->UpdateFaults([](emu::Faults& f) { f = emu::Faults{}; });
  ASSERT_TRUE(Connect(false));
  EXPECT_EQ(FirmwareVersionText(), "01.09");
  EXPECT_EQ(Waiting(false), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MissingIdentify,
    ::testing::Values(IdentifyFaultCase{"Short", [](emu::Faults& f) { f.shortIdentify = true; }, 5},
                      IdentifyFaultCase{"Silent", [](emu::Faults& f) { f.silentIdentify = true; }, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ControllerTest, ReadReplyTakesAReplyOnlyOnceAllOfItWaits) {
  emu::EmulatorOptions options;
  options.faults.stopStatus = true;
  ConnectToController(options);
  std::vector<std::uint8_t> frame(106);
  std::iota(frame.begin(), frame.end(), std::uint8_t{0});

  controller->SendOnCommandChannel({frame.begin(), frame.end() - 1});
  ASSERT_TRUE(PumpUntil([&] { return Waiting(true) == 105; }));
  std::vector<std::byte> reply(106);
  EXPECT_FALSE(ReadReply(reply));
  EXPECT_EQ(Waiting(true), 105);

  controller->SendOnCommandChannel({frame.back()});
  ASSERT_TRUE(PumpUntil([&] { return ReadReply(reply); }));
  for (std::size_t i = 0; i < frame.size(); ++i) ASSERT_EQ(std::to_integer<int>(reply[i]), frame[i]) << i;
  EXPECT_EQ(Waiting(true), 0);
}

TEST(WaitReply, GivesUpAfterFiveHundredTriesFiveMillisecondsApart) {
  platform::ManualClock clock;
  platform::SetClock(&clock);
  CommandChannel().Connected = 1;  // nothing will ever arrive
  std::vector<std::byte> reply(1);
  const std::uint32_t start = clock.TickCount();
  EXPECT_FALSE(WaitReply(reply));
  EXPECT_EQ(clock.TickCount() - start, 499u * 5u);
  platform::SetClock(nullptr);
}

TEST_F(ControllerTest, AWriteWhileBytesWaitGoesBehindThem) {
  emu::EmulatorOptions options;
  options.faults.stopStatus = true;
  ConnectToController(options);
  controller->UpdateFaults([](emu::Faults& f) { f.stallReading = true; });
  ControllerSocket& command = CommandChannel();

  // Chunks numbered in their first image bytes, until the stack refuses
  // and the rest of a frame waits in the outgoing storage.
  std::vector<std::byte> chunk(2 + kBootChunkMaxBytes);
  chunk[1] = std::byte{kBootChunkMaxBytes >> 8};
  std::uint16_t chunks = 0;
  while (command.WritePos == command.ReadPos && chunks < 60000) {
    std::memcpy(chunk.data() + 2, &chunks, sizeof chunks);
    ASSERT_TRUE(SendCommand(CMD_BOOT_WRITE, chunk));
    ++chunks;
  }
  ASSERT_NE(command.WritePos, command.ReadPos);
  const std::int32_t before = command.WritePos;
  ASSERT_TRUE(SendCommand(CMD_JOG_STOP, Bytes({2})));
  EXPECT_EQ(command.WritePos, before + 5);

  controller->UpdateFaults([](emu::Faults& f) { f.stallReading = false; });
  ASSERT_TRUE(PumpUntil([&] { return controller->Commands().size() == 1u + chunks + 1u; }, 10000));
  EXPECT_EQ(command.WritePos, 0);
  EXPECT_EQ(command.ReadPos, 0);
  const std::vector<emu::ReceivedCommand> received = controller->Commands();
  for (std::uint16_t i = 0; i < chunks; ++i) {
    const emu::ReceivedCommand& got = received[1 + i];
    ASSERT_EQ(got.code, CMD_BOOT_WRITE);
    ASSERT_EQ(got.payload[2] | got.payload[3] << 8, i);
  }
  EXPECT_EQ(received.back(), (emu::ReceivedCommand{CMD_JOG_STOP, {2}}));
  EXPECT_THAT(controller->Rejects(), IsEmpty());
  EXPECT_THAT(boxes.Texts(), IsEmpty());
}

// The outgoing storage as the write path sees it: earlier bytes still wait
// from readPos to writePos.
struct AppendCase {
  const char* name;
  std::int32_t readPos;
  std::int32_t writePos;
  std::size_t count;
  bool accepted;
  std::int32_t writePosAfter;
};

class OutgoingStorage : public ::testing::TestWithParam<AppendCase> {
 protected:
  MessageBoxRecorder boxes;
};

TEST_P(OutgoingStorage, AppendsInOnePieceAndNeverOverUnsentBytes) {
  const AppendCase& c = GetParam();
  ControllerSocket socket;
  socket.ReadPos = c.readPos;
  socket.WritePos = c.writePos;
  const std::vector<std::byte> bytes(c.count, std::byte{7});
  EXPECT_EQ(socket.Write(bytes), c.accepted ? static_cast<std::int32_t>(c.count) : 0);
  EXPECT_EQ(socket.WritePos, c.writePosAfter);
  EXPECT_EQ(socket.ReadPos, c.readPos);
  EXPECT_EQ(boxes.Texts(), c.accepted ? std::vector<std::string>{} : std::vector<std::string>{"Error buffer is full!"});
}

INSTANTIATE_TEST_SUITE_P(Cases, OutgoingStorage,
                         ::testing::Values(AppendCase{"PastTheEndEvenWithEarlierBytesSent", 65000, 65530, 10, false,
                                                      65530},
                                           AppendCase{"UpToTheEndWrapsToTheStart", 65000, 65530, 5, true, 0},
                                           AppendCase{"BehindWaitingBytes", 10, 20, 30, true, 50},
                                           AppendCase{"WrappedUpToJustBeforeTheUnsentBytes", 100, 50, 49, true, 99},
                                           AppendCase{"WrappedOntoTheUnsentBytes", 100, 50, 50, false, 50},
                                           AppendCase{"FillingItExactlyWouldLookEmpty", 0, 65530, 5, false, 65530}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SendCommand, AFullStorageTakesTheLinkDownWithBothMessages) {
  MessageBoxRecorder boxes;
  ControllerSocket& command = CommandChannel();
  command.Connected = 1;
  command.ReadPos = 65000;
  command.WritePos = 65530;
  Link().ControllerOnline = true;
  const std::vector<std::byte> outputs(PayloadSize(CMD_SET_OUTPUTS));  // a 10-byte frame
  EXPECT_FALSE(SendCommand(CMD_SET_OUTPUTS, outputs));
  EXPECT_EQ(boxes.Texts(), (std::vector<std::string>{"Error buffer is full!", "Error writing to device!"}));
  EXPECT_FALSE(Link().ControllerOnline);
  // Further sends fail at once, silently.
  EXPECT_FALSE(SendCommand(CMD_KEEPALIVE));
  EXPECT_EQ(boxes.Texts().size(), 2u);
}

TEST_F(ControllerTest, AChannelClosedByTheControllerFailsSilentlyAndLeavesTheLinkFlag) {
  ConnectToController();
  Link().ControllerOnline = true;
  controller->CloseConnections();
  ASSERT_TRUE(PumpUntil([] { return CommandChannel().Connected == 0; }));
  EXPECT_FALSE(SendCommand(CMD_KEEPALIVE));
  std::vector<std::byte> reply(106);
  EXPECT_FALSE(ReadReply(reply));
  EXPECT_TRUE(Link().ControllerOnline);
  EXPECT_THAT(boxes.Texts(), IsEmpty());
}

struct NotificationCase {
  const char* name;
  platform::SocketEvent event;
  int error;
  std::int32_t quiet;
  std::vector<std::string> boxes;
  std::int32_t connected;
  std::int32_t connectError;
};

class Notifications : public ::testing::TestWithParam<NotificationCase> {
 protected:
  MessageBoxRecorder boxes;
};

TEST_P(Notifications, UpdateTheChannelAndReportErrors) {
  const NotificationCase& c = GetParam();
  ControllerSocket socket;
  socket.Connected = 1;
  socket.ConnectError = 0;
  socket.Quiet = c.quiet;
  socket.ReadPos = 10;
  socket.WritePos = 20;
  socket.OnNotification(c.event, c.error);
  EXPECT_EQ(boxes.Texts(), c.boxes);
  EXPECT_EQ(socket.Connected, c.connected);
  EXPECT_EQ(socket.ConnectError, c.connectError);
  if (c.event != platform::SocketEvent::ConnectFinished) {
    EXPECT_EQ(socket.WritePos, 20);  // buffered bytes stay
  }
}

using platform::SocketEvent;
INSTANTIATE_TEST_SUITE_P(
    Cases, Notifications,
    ::testing::Values(
        NotificationCase{"ConnectFailed",
                         SocketEvent::ConnectFinished,
                         10061,
                         0,
                         {"Cannot connect to socket! Error=10061"},
                         1,
                         10061},
        NotificationCase{"ConnectFailedQuietly", SocketEvent::ConnectFinished, 10060, 1, {}, 1, 10060},
        NotificationCase{
            "ReadError", SocketEvent::DataArrived, 10050, 0, {"Cannot read from socket! Error=10050"}, 1, 0},
        NotificationCase{
            "WriteError", SocketEvent::ReadyToSend, 10050, 0, {"Cannot write to socket! Error=10050"}, 1, 0},
        NotificationCase{"ClosedByThePeer", SocketEvent::Closed, 10054, 0, {}, 0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace veltra::link

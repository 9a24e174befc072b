#include "platform/socket.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "loopback.h"
#include "platform/messages.h"

namespace {

using platform::SocketEvent;
using veltra::testing::LoopbackPeer;
using veltra::testing::PumpFor;
using veltra::testing::PumpUntil;
namespace socket_error = platform::socket_error;

constexpr std::uint16_t kPort = 32000;

struct Notification {
  SocketEvent event;
  int error;
  bool operator==(const Notification&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Notification& n) {
  static const char* names[] = {"ConnectFinished", "ReadyToSend", "DataArrived", "Closed"};
  return out << names[static_cast<int>(n.event)] << "(" << n.error << ")";
}

// A socket whose notifications are recorded in arrival order.
class RecordedSocket {
 public:
  RecordedSocket() {
    socket = platform::CreateTcpSocket([this](SocketEvent event, int error) { seen.push_back({event, error}); });
  }
  ~RecordedSocket() { platform::CloseSocket(socket); }

  int Count(SocketEvent event) const {
    return static_cast<int>(
        std::count_if(seen.begin(), seen.end(), [&](const Notification& n) { return n.event == event; }));
  }
  bool ConnectTo(const std::string& address) {
    const bool connected = platform::ConnectSocket(socket, address, kPort);
    return !connected && platform::LastSocketError() == socket_error::kWouldBlock &&
           PumpUntil([&] { return Count(SocketEvent::ConnectFinished) == 1; });
  }
  int Receive(std::size_t count, bool peek) {
    std::vector<std::byte> buffer(count);
    return platform::ReceiveFromSocket(socket, buffer, peek);
  }

  platform::Socket socket = nullptr;
  std::vector<Notification> seen;
};

class SocketTest : public ::testing::Test {
 protected:
  void SetUp() override {
    address = veltra::testing::BindOnFreeLoopback([&](const std::string& a) { return peer.Listen(a, kPort); });
    ASSERT_FALSE(address.empty());
  }
  // Connected, with the peer's end accepted and the first two
  // notifications already checked.
  void Connect() {
    ASSERT_TRUE(client.ConnectTo(address));
    ASSERT_TRUE(peer.Accept());
    PumpFor(20);
    ASSERT_EQ(client.seen,
              (std::vector<Notification>{{SocketEvent::ConnectFinished, 0}, {SocketEvent::ReadyToSend, 0}}));
    client.seen.clear();
  }

  LoopbackPeer peer;
  std::string address;
  RecordedSocket client;
};

TEST_F(SocketTest, AConnectFinishesThroughTheQueueAndIsReadyToSend) {
  Connect();
  std::string peerAddress;
  ASSERT_TRUE(platform::SocketPeerAddress(client.socket, peerAddress));
  EXPECT_EQ(peerAddress, address);
  EXPECT_TRUE(platform::SetSocketKeepAlive(client.socket, true));
  const std::byte hello[] = {std::byte{1}, std::byte{2}, std::byte{3}};
  EXPECT_EQ(platform::SendOnSocket(client.socket, hello), 3);
  EXPECT_EQ(peer.Receive(3), (std::vector<std::uint8_t>{1, 2, 3}));
}

TEST(Sockets, FailedConnectsCarryTheirWinsockNumbers) {
  // Nothing listens on this test's own address.
  RecordedSocket refused;
  ASSERT_TRUE(refused.ConnectTo(veltra::testing::TestLoopbackAddress()));
  PumpFor(20);
  EXPECT_EQ(refused.seen,
            (std::vector<Notification>{{SocketEvent::ConnectFinished, socket_error::kConnectionRefused}}));

  for (const char* unknown : {"VELTRA-000000.invalid", ""}) {
    RecordedSocket unresolved;
    EXPECT_FALSE(platform::ConnectSocket(unresolved.socket, unknown, kPort));
    EXPECT_EQ(platform::LastSocketError(), socket_error::kInvalidArgument) << unknown;
    PumpFor(20);
    EXPECT_TRUE(unresolved.seen.empty()) << unknown;
  }
}

TEST(Sockets, AClosedHandleIsNoSocket) {
  RecordedSocket closed;
  platform::CloseSocket(closed.socket);
  std::byte byte{};
  std::string text;
  EXPECT_EQ(platform::SendOnSocket(closed.socket, {&byte, 1}), -1);
  EXPECT_EQ(platform::LastSocketError(), socket_error::kNotSocket);
  EXPECT_EQ(platform::ReceiveFromSocket(closed.socket, {&byte, 1}, true), -1);
  EXPECT_FALSE(platform::SocketPeerAddress(closed.socket, text));
  EXPECT_FALSE(platform::ConnectSocket(closed.socket, "127.0.0.1", kPort));
  EXPECT_EQ(platform::LastSocketError(), socket_error::kNotSocket);
  closed.socket = nullptr;
}

TEST_F(SocketTest, DataArrivedComesAgainOnlyAfterTheApplicationRead) {
  Connect();
  ASSERT_TRUE(peer.Send({1, 2, 3}));
  ASSERT_TRUE(PumpUntil([&] { return client.Count(SocketEvent::DataArrived) == 1; }));
  ASSERT_TRUE(peer.Send({4, 5, 6}));
  PumpFor(50);
  EXPECT_EQ(client.Count(SocketEvent::DataArrived), 1);

  // A peek takes nothing, and since bytes are left it re-arms at once.
  EXPECT_EQ(client.Receive(10, true), 6);
  EXPECT_TRUE(PumpUntil([&] { return client.Count(SocketEvent::DataArrived) == 2; }));
  EXPECT_EQ(client.Receive(10, false), 6);
  PumpFor(50);
  EXPECT_EQ(client.Count(SocketEvent::DataArrived), 2);
  EXPECT_EQ(client.Receive(10, true), -1);
  EXPECT_EQ(platform::LastSocketError(), socket_error::kWouldBlock);

  ASSERT_TRUE(peer.Send({7}));
  EXPECT_TRUE(PumpUntil([&] { return client.Count(SocketEvent::DataArrived) == 3; }));
  EXPECT_EQ(client.seen.size(), 3u);
}

TEST_F(SocketTest, ReadyToSendFollowsARefusedSendOnceTheStackTakesBytesAgain) {
  Connect();
  const std::vector<std::byte> chunk(65536, std::byte{0x5A});
  std::size_t sent = 0;
  for (int tries = 0; tries < 10000; ++tries) {
    const int taken = platform::SendOnSocket(client.socket, chunk);
    if (taken < 0) break;
    sent += static_cast<std::size_t>(taken);
  }
  ASSERT_EQ(platform::LastSocketError(), socket_error::kWouldBlock);
  PumpFor(20);
  EXPECT_EQ(client.Count(SocketEvent::ReadyToSend), 0);

  EXPECT_EQ(peer.Receive(sent, 5000).size(), sent);
  EXPECT_TRUE(PumpUntil([&] { return client.Count(SocketEvent::ReadyToSend) == 1; }));
  PumpFor(20);
  EXPECT_EQ(client.Count(SocketEvent::ReadyToSend), 1);
}

TEST_F(SocketTest, APeerCloseIsReportedAfterTheDataAndLeavesTheDataReadable) {
  Connect();
  ASSERT_TRUE(peer.Send({9, 8}));
  peer.Close();
#if defined(_WIN32)
  // Wine's Winsock posts the close only once the data has been read.
  ASSERT_TRUE(PumpUntil([&] { return client.Count(SocketEvent::DataArrived) == 1; }));
  EXPECT_EQ(client.Receive(10, true), 2);
  EXPECT_EQ(client.Receive(10, false), 2);
  ASSERT_TRUE(PumpUntil([&] { return client.Count(SocketEvent::Closed) == 1; }));
  EXPECT_EQ(client.Receive(10, false), 0);
  return;
#endif
  ASSERT_TRUE(PumpUntil([&] { return client.Count(SocketEvent::Closed) == 1; }));
  EXPECT_EQ(client.seen, (std::vector<Notification>{{SocketEvent::DataArrived, 0}, {SocketEvent::Closed, 0}}));
  EXPECT_EQ(client.Receive(10, false), 2);
  EXPECT_EQ(client.Receive(10, false), 0);
  PumpFor(20);
  EXPECT_EQ(client.seen.size(), 2u);
}

TEST_F(SocketTest, APeerResetIsAClosedWithTheResetNumber) {
  Connect();
  peer.Reset();
  ASSERT_TRUE(PumpUntil([&] { return client.Count(SocketEvent::Closed) == 1; }));
#if defined(_WIN32)
  // Wine's Winsock reports a reset as a plain close.
  EXPECT_EQ(client.seen, (std::vector<Notification>{{SocketEvent::Closed, 0}}));
#else
  EXPECT_EQ(client.seen, (std::vector<Notification>{{SocketEvent::Closed, socket_error::kConnectionReset}}));
#endif
}

TEST_F(SocketTest, AHandlerThatClosesItsSocketHearsNothingMore) {
  platform::Socket socket = nullptr;
  std::vector<Notification> seen;
  socket = platform::CreateTcpSocket([&](SocketEvent event, int error) {
    seen.push_back({event, error});
    platform::CloseSocket(socket);
  });
  platform::ConnectSocket(socket, address, kPort);
  ASSERT_TRUE(peer.Accept());
  ASSERT_TRUE(peer.Send({1}));
  PumpFor(50);
  EXPECT_EQ(seen, (std::vector<Notification>{{SocketEvent::ConnectFinished, 0}}));
}

TEST_F(SocketTest, NotificationsRunOnTheThreadThatCreatedTheSocket) {
  std::atomic<platform::ThreadId> ranOn{0};
  std::atomic<bool> connected{false};
  platform::ThreadId creator = 0;
  std::thread owner([&] {
    creator = platform::CurrentThreadId();
    platform::Socket socket = platform::CreateTcpSocket([&](SocketEvent event, int) {
      ranOn = platform::CurrentThreadId();
      if (event == SocketEvent::ConnectFinished) connected = true;
    });
    platform::ConnectSocket(socket, address, kPort);
    PumpUntil([&] { return connected.load(); });
    platform::CloseSocket(socket);
  });
  // This thread's loop never sees them.
  PumpUntil([&] { return connected.load(); });
  owner.join();
  EXPECT_TRUE(connected);
  EXPECT_EQ(ranOn.load(), creator);
}

}  // namespace

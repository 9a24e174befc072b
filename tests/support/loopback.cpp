#include "loopback.h"

#include <gtest/gtest.h>

#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <chrono>
#include <thread>

#include "platform/messages.h"

namespace veltra::testing {
namespace {

using RealClock = std::chrono::steady_clock;

// The peer speaks plain BSD sockets; these are the few places where
// Winsock names them differently.
#if defined(_WIN32)
constexpr int kCloseOnExec = 0;
constexpr int kNoSignal = 0;
int CloseSocket(LoopbackPeer::Native s) { return closesocket(s); }
int Poll(pollfd* fds, int count, int timeout) { return WSAPoll(fds, static_cast<ULONG>(count), timeout); }
LoopbackPeer::Native AcceptOne(LoopbackPeer::Native s) { return accept(s, nullptr, nullptr); }
const bool winsockStarted = [] {
  WSADATA data;
  return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}();
#else
constexpr int kCloseOnExec = SOCK_CLOEXEC;
constexpr int kNoSignal = MSG_NOSIGNAL;
int CloseSocket(LoopbackPeer::Native s) { return close(s); }
int Poll(pollfd* fds, int count, int timeout) { return poll(fds, static_cast<nfds_t>(count), timeout); }
LoopbackPeer::Native AcceptOne(LoopbackPeer::Native s) { return accept4(s, nullptr, nullptr, SOCK_CLOEXEC); }
#endif

int RemainingMs(RealClock::time_point end) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - RealClock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

bool FillAddress(const std::string& address, std::uint16_t port, sockaddr_in& out) {
  out = sockaddr_in{};
  out.sin_family = AF_INET;
  out.sin_port = htons(port);
  return inet_pton(AF_INET, address.c_str(), &out.sin_addr) == 1;
}

}  // namespace

std::string TestLoopbackAddress(int attempt) {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = info ? std::string(info->test_suite_name()) + "." + info->name() : "no-test";
  name += "#" + std::to_string(attempt);
  // FNV-1a, folded into 127.1-254.1-254.1-254 (127.0.0.x stays free for
  // programs run by hand).
  std::uint32_t hash = 2166136261u;
  for (unsigned char c : name) hash = (hash ^ c) * 16777619u;
  const unsigned a = 1 + hash % 254, b = 1 + (hash >> 8) % 254, c = 1 + (hash >> 16) % 254;
  return "127." + std::to_string(a) + "." + std::to_string(b) + "." + std::to_string(c);
}

std::string BindOnFreeLoopback(const std::function<bool(const std::string& address)>& bind) {
  for (int attempt = 0; attempt < 16; ++attempt) {
    const std::string address = TestLoopbackAddress(attempt);
    if (bind(address)) return address;
  }
  return {};
}

bool PumpUntil(const std::function<bool()>& done, std::uint32_t timeoutMilliseconds) {
  const auto end = RealClock::now() + std::chrono::milliseconds(timeoutMilliseconds);
  for (;;) {
    platform::DispatchWaitingMessages();
    if (done()) return true;
    if (RealClock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

void PumpFor(std::uint32_t milliseconds) {
  PumpUntil([] { return false; }, milliseconds);
}

RecordingSystemClock::RecordingSystemClock() { platform::SetClock(this); }
RecordingSystemClock::~RecordingSystemClock() { platform::SetClock(nullptr); }

std::uint32_t RecordingSystemClock::TickCount() {
  return static_cast<std::uint32_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(RealClock::now().time_since_epoch()).count());
}

void RecordingSystemClock::Sleep(std::uint32_t milliseconds) {
  sleeps_.push_back(milliseconds);
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

int RecordingSystemClock::SleepsOf(std::uint32_t milliseconds) const {
  return static_cast<int>(std::count(sleeps_.begin(), sleeps_.end(), milliseconds));
}

LoopbackPeer::~LoopbackPeer() {
  Close();
  if (queueFiller_ != kNone) CloseSocket(queueFiller_);
  if (listener_ != kNone) CloseSocket(listener_);
}

bool LoopbackPeer::Listen(const std::string& address, std::uint16_t port) { return Listen(address, port, 4); }

// With a backlog of 0 the queue holds one connection; once it is taken by a
// client of our own, new connection requests are dropped unanswered.
bool LoopbackPeer::ListenWithoutRoom(const std::string& address, std::uint16_t port) {
  if (!Listen(address, port, 0)) return false;
  sockaddr_in where{};
  FillAddress(address, port_, where);
  queueFiller_ = socket(AF_INET, SOCK_STREAM | kCloseOnExec, 0);
  return connect(queueFiller_, reinterpret_cast<const sockaddr*>(&where), sizeof where) == 0;
}

bool LoopbackPeer::Listen(const std::string& address, std::uint16_t port, int backlog) {
  sockaddr_in where{};
  if (!FillAddress(address, port, where)) return false;
  listener_ = socket(AF_INET, SOCK_STREAM | kCloseOnExec, 0);
  const int one = 1;
  setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&one), sizeof one);
  if (bind(listener_, reinterpret_cast<const sockaddr*>(&where), sizeof where) != 0 ||
      listen(listener_, backlog) != 0) {
    CloseSocket(listener_);
    listener_ = kNone;
    return false;
  }
  socklen_t length = sizeof where;
  getsockname(listener_, reinterpret_cast<sockaddr*>(&where), &length);
  port_ = ntohs(where.sin_port);
  return true;
}

bool LoopbackPeer::Accept(std::uint32_t timeoutMilliseconds) {
  pollfd wait{listener_, POLLIN, 0};
  if (Poll(&wait, 1, static_cast<int>(timeoutMilliseconds)) != 1) return false;
  connection_ = AcceptOne(listener_);
  return connection_ != kNone;
}

bool LoopbackPeer::Send(const std::vector<std::uint8_t>& bytes) {
  return send(connection_, reinterpret_cast<const char*>(bytes.data()), static_cast<int>(bytes.size()), kNoSignal) ==
         static_cast<int>(bytes.size());
}

std::vector<std::uint8_t> LoopbackPeer::Receive(std::size_t count, std::uint32_t timeoutMilliseconds) {
  std::vector<std::uint8_t> bytes;
  const auto end = RealClock::now() + std::chrono::milliseconds(timeoutMilliseconds);
  while (bytes.size() < count) {
    pollfd wait{connection_, POLLIN, 0};
    if (Poll(&wait, 1, RemainingMs(end)) != 1) break;
    std::uint8_t chunk[4096];
    const int got = static_cast<int>(recv(connection_, reinterpret_cast<char*>(chunk),
                                          static_cast<int>(std::min(sizeof chunk, count - bytes.size())), 0));
    if (got <= 0) break;
    bytes.insert(bytes.end(), chunk, chunk + got);
  }
  return bytes;
}

void LoopbackPeer::Close() {
  if (connection_ != kNone) CloseSocket(connection_);
  connection_ = kNone;
}

void LoopbackPeer::Reset() {
  if (connection_ == kNone) return;
  const linger abort{1, 0};  // close with RST instead of FIN
  setsockopt(connection_, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abort), sizeof abort);
  Close();
}

}  // namespace veltra::testing

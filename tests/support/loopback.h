// Loopback networking for tests that run in parallel processes: every test
// gets 127.0.0.0/8 addresses of its own, derived from its name, and a small
// peer to talk to on them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/clock.h"

namespace veltra::testing {

// An address 127.a.b.c derived from the running test's full name; attempt
// 1, 2, ... give further addresses for a retry after a bind failure.
std::string TestLoopbackAddress(int attempt = 0);

// Calls bind with the test's addresses until one succeeds; returns that
// address, or an empty text when none did.
std::string BindOnFreeLoopback(const std::function<bool(const std::string& address)>& bind);

// Dispatches the calling thread's messages, with short real pauses, until
// done holds or the real time is up, whatever clock the platform uses.
bool PumpUntil(const std::function<bool()>& done, std::uint32_t timeoutMilliseconds = 2000);
// Dispatches for that long of real time.
void PumpFor(std::uint32_t milliseconds);

// The real clock, keeping a record of every sleep asked of it: a bounded
// wait over the network is checked by how often it paused, not how long
// it took.
class RecordingSystemClock final : public platform::Clock {
 public:
  RecordingSystemClock();
  ~RecordingSystemClock() override;
  std::uint32_t TickCount() override;
  void Sleep(std::uint32_t milliseconds) override;
  int SleepsOf(std::uint32_t milliseconds) const;

 private:
  std::vector<std::uint32_t> sleeps_;
};

// A TCP peer for socket tests: it listens on one address and port and
// plays the far end of one accepted connection.
class LoopbackPeer {
 public:
  // A socket of the system's own kind: a SOCKET on Windows, an int elsewhere.
#if defined(_WIN32)
  using Native = std::uintptr_t;
  static constexpr Native kNone = ~Native{0};
#else
  using Native = int;
  static constexpr Native kNone = -1;
#endif

  LoopbackPeer() = default;
  ~LoopbackPeer();
  LoopbackPeer(const LoopbackPeer&) = delete;
  LoopbackPeer& operator=(const LoopbackPeer&) = delete;

  bool Listen(const std::string& address, std::uint16_t port);
  // A listener that never accepts, its queue already full: a connect to it
  // gets no answer at all, like one to a silent address.
  bool ListenWithoutRoom(const std::string& address, std::uint16_t port);
  // Waits up to the time for a connection and takes it.
  bool Accept(std::uint32_t timeoutMilliseconds = 2000);
  bool Send(const std::vector<std::uint8_t>& bytes);
  // Whatever arrived within the time, up to the count.
  std::vector<std::uint8_t> Receive(std::size_t count, std::uint32_t timeoutMilliseconds = 2000);
  // Closes the accepted connection gracefully, or with a reset.
  void Close();
  void Reset();
  std::uint16_t Port() const { return port_; }

 private:
  bool Listen(const std::string& address, std::uint16_t port, int backlog);

  Native listener_ = kNone;
  Native connection_ = kNone;
  Native queueFiller_ = kNone;
  std::uint16_t port_ = 0;
};

}  // namespace veltra::testing

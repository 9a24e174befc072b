// The two TCP channels to the controller: the socket class both use, opening
// and identifying the link, the non-blocking write path with its outgoing
// storage, the polled read path, and the link's state.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "platform/socket.h"

namespace veltra::link {

inline constexpr std::uint16_t kCommandPort = 32000;
inline constexpr std::uint16_t kBulkPort = 32001;
inline constexpr std::int32_t kOutgoingStorageSize = 65535;
inline constexpr std::size_t kReplyScratchSize = 8192;

// One channel. Its notifications arrive through the message loop of the
// thread that created the socket, the host's main thread, which is also the
// only thread that writes and reads; the fields need no lock.
class ControllerSocket {
 public:
  ControllerSocket() = default;
  ControllerSocket(const ControllerSocket&) = delete;
  ControllerSocket& operator=(const ControllerSocket&) = delete;

  // A fresh TCP socket with every notification requested; false with the
  // socket library's last error (platform::LastSocketError).
  bool Create();
  bool IsOpen() const { return socket_ != nullptr; }
  // Closing a channel that is not open does no harm. A close of our own
  // brings no close notification, so it drops Connected and the unsent
  // bytes itself: a send after it fails instead of filling the storage.
  void Close();
  void EnableKeepAlive();
  void EnableDebug();

  // One connection, bounded by 20 passes of 100 ms that pump the thread's
  // messages; closes the socket when no connect notification came.
  bool ConnectTo(std::string_view host, std::uint16_t port, bool quiet);
  // The count accepted; anything other than bytes.size() is a failure.
  std::int32_t Write(std::span<const std::byte> bytes);
  // The count received or peeked, or -1 on a socket error.
  int Receive(std::span<std::byte> buffer, bool peek);
  bool PeerAddress(std::string& address) const;

  // What the platform reports, as the notifications of this channel.
  void OnNotification(platform::SocketEvent event, int error);

  std::int32_t Connected = 0;
  std::int32_t ConnectError = 0;
  std::int32_t WritePos = 0;  // next free position in the outgoing storage
  std::int32_t ReadPos = 0;   // first unsent position
  std::int32_t Quiet = 0;

 private:
  std::int32_t Append(std::span<const std::byte> bytes);
  void Flush();

  platform::Socket socket_ = nullptr;
  std::array<std::byte, kOutgoingStorageSize> storage_{};
};

ControllerSocket& CommandChannel();
ControllerSocket& BulkChannel();

struct LinkState {
  std::string PeerAddress;  // dotted address of the connected controller
  std::uint8_t BootloaderActive = 0;
  std::array<char, 6> FirmwareVersion{'0', '0', '.', '0', '0', '\0'};
  // The link is up and the controller configured; only the reset sequence
  // sets it.
  bool ControllerOnline = false;
};

LinkState& Link();

// Commands and motion reach a configured controller.
inline bool Online() { return Link().ControllerOnline; }

// The version text up to its zero byte, never past the six bytes.
std::string_view FirmwareVersionText();

// Opens both channels and identifies the controller; true when both are up
// and a whole identify reply was read.
bool Connect(bool quiet);
void Disconnect();

// Takes exactly buffer.size() bytes from the command channel when that many
// are waiting, else nothing (at most kReplyScratchSize).
bool ReadReply(std::span<std::byte> buffer);
// ReadReply tried up to 500 times, 5 ms apart.
bool WaitReply(std::span<std::byte> buffer);

}  // namespace veltra::link

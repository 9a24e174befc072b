#include "link/controller_socket.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>

#include "link/command_table.h"
#include "link/commands.h"
#include "link/host_address.h"
#include "platform/clock.h"
#include "platform/message_box.h"
#include "platform/messages.h"

namespace veltra::link {
namespace {

constexpr int kConnectPasses = 20;
constexpr std::uint32_t kConnectPassMs = 100;
constexpr int kIdentifyLooks = 100;
constexpr std::uint32_t kIdentifyLookMs = 10;
constexpr std::uint32_t kIdentifySettleMs = 100;
constexpr int kReplyTries = 500;
constexpr std::uint32_t kReplyPauseMs = 5;

// Shown both when a connect cannot start and when it finishes with an error.
constexpr const char* kCannotConnectText = "Cannot connect to socket! Error=%d";

void ShowErrorNumber(const char* format, int error) {
  char text[80];
  std::snprintf(text, sizeof text, format, error);
  platform::ShowMessageBox(text);
}

std::int32_t UnsentCount(std::int32_t readPos, std::int32_t writePos) {
  return (writePos - readPos + kOutgoingStorageSize) % kOutgoingStorageSize;
}

}  // namespace

bool ControllerSocket::Create() {
  Close();
  socket_ = platform::CreateTcpSocket([this](platform::SocketEvent event, int error) { OnNotification(event, error); });
  return socket_ != nullptr;
}

void ControllerSocket::Close() {
  platform::CloseSocket(socket_);
  socket_ = nullptr;
  Connected = 0;
  WritePos = ReadPos = 0;
}

void ControllerSocket::EnableKeepAlive() { platform::SetSocketKeepAlive(socket_, true); }
void ControllerSocket::EnableDebug() { platform::SetSocketDebug(socket_, true); }

bool ControllerSocket::ConnectTo(std::string_view host, std::uint16_t port, bool quiet) {
  Connected = 0;
  ConnectError = 0;
  Quiet = quiet ? 1 : 0;
  if (!platform::ConnectSocket(socket_, host, port)) {
    const int error = platform::LastSocketError();
    if (error != platform::socket_error::kWouldBlock) {
      if (!quiet) ShowErrorNumber(kCannotConnectText, error);
      return false;
    }
  }
  for (int pass = 0; pass < kConnectPasses; ++pass) {
    platform::DispatchWaitingMessages();
    if (Connected == 1) return true;
    if (ConnectError != 0) return false;
    platform::Sleep(kConnectPassMs);
  }
  Close();
  return false;
}

void ControllerSocket::OnNotification(platform::SocketEvent event, int error) {
  switch (event) {
    case platform::SocketEvent::ConnectFinished:
      WritePos = ReadPos = 0;
      if (error == 0) {
        Connected = 1;
        Quiet = 0;
      } else {
        ConnectError = error;
        if (!Quiet) ShowErrorNumber(kCannotConnectText, error);
      }
      break;
    case platform::SocketEvent::Closed:
      Connected = 0;
      ConnectError = 0;
      break;
    case platform::SocketEvent::DataArrived:
      // Readers poll; the bytes stay where they are.
      if (error != 0) ShowErrorNumber("Cannot read from socket! Error=%d", error);
      break;
    case platform::SocketEvent::ReadyToSend:
      if (error != 0) {
        ShowErrorNumber("Cannot write to socket! Error=%d", error);
        break;
      }
      Flush();
      break;
  }
}

void ControllerSocket::Flush() {
  while (ReadPos != WritePos) {
    const std::int32_t runEnd = WritePos > ReadPos ? WritePos : kOutgoingStorageSize;
    const int taken = platform::SendOnSocket(
        socket_, std::span<const std::byte>(storage_.data() + ReadPos, static_cast<std::size_t>(runEnd - ReadPos)));
    if (taken <= 0) break;  // the next ready-to-send notification carries on
    ReadPos += taken;
    if (ReadPos >= kOutgoingStorageSize) ReadPos -= kOutgoingStorageSize;
  }
  if (ReadPos == WritePos) WritePos = ReadPos = 0;
}

std::int32_t ControllerSocket::Write(std::span<const std::byte> bytes) {
  if (ConnectError != 0) return 0;
  if (bytes.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) return 0;
  const auto n = static_cast<std::int32_t>(bytes.size());
  // Behind bytes that still wait, never ahead of them.
  if (WritePos != ReadPos) return Append(bytes);
  if (n == 0) return 0;
  std::size_t done = 0;
  while (done < bytes.size()) {
    const int taken = platform::SendOnSocket(socket_, bytes.subspan(done));
    if (taken < 0) {
      if (platform::LastSocketError() != platform::socket_error::kWouldBlock) return 0;
      const std::span<const std::byte> rest = bytes.subspan(done);
      return Append(rest) == static_cast<std::int32_t>(rest.size()) ? n : 0;
    }
    done += static_cast<std::size_t>(taken);
  }
  return n;
}

// Bytes are stored in one piece before the end of the storage. They also
// must not reach the unsent bytes of a wrapped storage: that would overwrite
// them, and filling it exactly would make it look empty.
std::int32_t ControllerSocket::Append(std::span<const std::byte> bytes) {
  const auto n = static_cast<std::int64_t>(bytes.size());
  const std::int32_t room = kOutgoingStorageSize - 1 - UnsentCount(ReadPos, WritePos);
  if (WritePos + n > kOutgoingStorageSize || n > room) {
    platform::ShowMessageBox("Error buffer is full!");
    return 0;
  }
  if (n > 0) std::memcpy(storage_.data() + WritePos, bytes.data(), bytes.size());
  WritePos += static_cast<std::int32_t>(n);
  if (WritePos >= kOutgoingStorageSize) WritePos = 0;
  return static_cast<std::int32_t>(n);
}

int ControllerSocket::Receive(std::span<std::byte> buffer, bool peek) {
  return platform::ReceiveFromSocket(socket_, buffer, peek);
}

bool ControllerSocket::PeerAddress(std::string& address) const { return platform::SocketPeerAddress(socket_, address); }

ControllerSocket& CommandChannel() {
  static ControllerSocket channel;
  return channel;
}

ControllerSocket& BulkChannel() {
  static ControllerSocket channel;
  return channel;
}

LinkState& Link() {
  static LinkState state;
  return state;
}

std::string_view FirmwareVersionText() {
  const std::array<char, 6>& version = Link().FirmwareVersion;
  const auto end = std::find(version.begin(), version.end(), '\0');
  return std::string_view(version.data(), static_cast<std::size_t>(end - version.begin()));
}

bool Connect(bool quiet) {
  LinkState& link = Link();
  ControllerSocket& command = CommandChannel();
  ControllerSocket& bulk = BulkChannel();
  link.PeerAddress.clear();
  Disconnect();
  if (!command.Create()) {
    ShowErrorNumber("Cannot create cmd socket! Error=%d", platform::LastSocketError());
    Disconnect();
    return false;
  }
  if (!bulk.Create()) {
    ShowErrorNumber("Cannot create bulk socket! Error=%d", platform::LastSocketError());
    Disconnect();
    return false;
  }
  command.EnableKeepAlive();
  bulk.EnableKeepAlive();
  command.EnableDebug();

  // A copy: each connect pumps the host's messages, which may change it.
  const std::string host = HostAddress();
  if (!command.ConnectTo(host, kCommandPort, quiet) || !bulk.ConnectTo(host, kBulkPort, quiet)) {
    Disconnect();
    return false;
  }
  command.PeerAddress(link.PeerAddress);
  // A failed send has taken the link down already; no reply can come.
  if (!SendCommand(CMD_IDENTIFY)) return false;

  // The channels stay open when no reply comes; the next Connect closes
  // them, and whatever partial reply they hold goes with them.
  std::array<std::byte, identify_reply::kSize> reply{};
  for (int look = 0; look < kIdentifyLooks; ++look) {
    if (bulk.Receive(reply, true) == static_cast<int>(reply.size())) {
      platform::Sleep(kIdentifySettleMs);
      if (bulk.Receive(reply, false) != static_cast<int>(reply.size())) return false;
      link.BootloaderActive = std::to_integer<std::uint8_t>(reply[identify_reply::kBootloaderActive]);
      std::memcpy(link.FirmwareVersion.data(), reply.data() + identify_reply::kFirmwareVersion,
                  identify_reply::kFirmwareVersionSize);
      return true;
    }
    platform::Sleep(kIdentifyLookMs);
  }
  return false;
}

void Disconnect() {
  CommandChannel().Close();
  BulkChannel().Close();
}

bool ReadReply(std::span<std::byte> buffer) {
  ControllerSocket& command = CommandChannel();
  if (command.Connected == 0 || buffer.size() > kReplyScratchSize) return false;
  static std::array<std::byte, kReplyScratchSize> scratch;
  const int waiting = command.Receive(std::span<std::byte>(scratch.data(), buffer.size()), true);
  if (waiting < 0 || static_cast<std::size_t>(waiting) < buffer.size()) return false;
  return command.Receive(buffer, false) == static_cast<int>(buffer.size());
}

bool WaitReply(std::span<std::byte> buffer) {
  for (int attempt = 1; attempt <= kReplyTries; ++attempt) {
    if (ReadReply(buffer)) return true;
    if (attempt < kReplyTries) platform::Sleep(kReplyPauseMs);
  }
  return false;
}

}  // namespace veltra::link

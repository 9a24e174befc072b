#include "link/commands.h"

#include <array>
#include <cstring>

#include "link/command_table.h"
#include "link/controller_socket.h"
#include "platform/message_box.h"

namespace veltra::link {
namespace {

struct BulkStaging {
  std::array<std::byte, kBulkStagingSize> bytes{};
  std::size_t length = 0;
};

BulkStaging& Staging() {
  static BulkStaging staging;
  return staging;
}

}  // namespace

bool SendCommand(std::uint8_t code, std::span<const std::byte> payload) {
  ControllerSocket& command = CommandChannel();
  if (command.Connected == 0) return false;
  static std::array<std::byte, frame::kBufferSize> frameBuffer;
  const std::size_t size = EncodeCommandFrame(code, payload, frameBuffer);
  if (size == 0) return false;
  if (command.Write(std::span<const std::byte>(frameBuffer.data(), size)) != static_cast<std::int32_t>(size)) {
    Link().ControllerOnline = false;
    Disconnect();
    platform::ShowMessageBox("Error writing to device!");
    return false;
  }
  return true;
}

void BulkBegin() { Staging().length = 0; }

bool BulkAppend(std::span<const std::byte> bytes) {
  BulkStaging& staging = Staging();
  if (bytes.size() > staging.bytes.size() - staging.length) return false;
  if (!bytes.empty()) std::memcpy(staging.bytes.data() + staging.length, bytes.data(), bytes.size());
  staging.length += bytes.size();
  return true;
}

bool BulkSend() {
  const BulkStaging& staging = Staging();
  return BulkChannel().Write(std::span<const std::byte>(staging.bytes.data(), staging.length)) ==
         static_cast<std::int32_t>(staging.length);
}

}  // namespace veltra::link

#include "controller_fixture.h"

#include <vector>

#include "link/controller_socket.h"
#include "link/host_address.h"
#include "loopback.h"

namespace veltra::testing {

ControllerTest::~ControllerTest() {
  link::Disconnect();
  if (controller) controller->Stop();
}

void ControllerTest::StartController(emu::EmulatorOptions options) {
  address = BindOnFreeLoopback([&](const std::string& candidate) {
    options.address = candidate;
    controller = std::make_unique<emu::Emulator>(options);
    return controller->Start();
  });
  ASSERT_FALSE(address.empty()) << "no loopback address to listen on";
  link::SetHostAddressFromName(address);
}

void ControllerTest::ConnectToController(emu::EmulatorOptions options) {
  ASSERT_NO_FATAL_FAILURE(StartController(std::move(options)));
  ASSERT_TRUE(link::Connect(false));
}

int ControllerTest::Waiting(bool commandChannel) {
  std::vector<std::byte> scratch(link::kOutgoingStorageSize);
  link::ControllerSocket& channel = commandChannel ? link::CommandChannel() : link::BulkChannel();
  const int count = channel.Receive(scratch, true);
  return count < 0 ? 0 : count;
}

}  // namespace veltra::testing

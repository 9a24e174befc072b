#include "controller_fixture.h"

#include <algorithm>
#include <vector>

#include "cycle/cycle.h"
#include "link/command_table.h"
#include "link/commands.h"
#include "link/controller_socket.h"
#include "link/host_address.h"
#include "loopback.h"
#include "platform/clock.h"

namespace veltra::testing {

std::string StartSubstituteController(std::unique_ptr<emu::Emulator>& controller, emu::EmulatorOptions options) {
  const std::string address = BindOnFreeLoopback([&](const std::string& candidate) {
    options.address = candidate;
    controller = std::make_unique<emu::Emulator>(options);
    return controller->Start();
  });
  if (!address.empty()) link::SetHostAddressFromName(address);
  return address;
}

int WaitingBytes(bool commandChannel) {
  std::vector<std::byte> scratch(link::kOutgoingStorageSize);
  link::ControllerSocket& channel = commandChannel ? link::CommandChannel() : link::BulkChannel();
  const int count = channel.Receive(scratch, true);
  return count < 0 ? 0 : count;
}

ControllerTest::~ControllerTest() {
  link::Disconnect();
  if (controller) controller->Stop();
}

void ControllerTest::StartController(emu::EmulatorOptions options) {
  address = StartSubstituteController(controller, std::move(options));
  ASSERT_FALSE(address.empty()) << "no loopback address to listen on";
}

void ControllerTest::ConnectToController(emu::EmulatorOptions options) {
  ASSERT_NO_FATAL_FAILURE(StartController(std::move(options)));
  ASSERT_TRUE(link::Connect(false));
}

OnlinePluginTest::~OnlinePluginTest() {
  link::Link().ControllerOnline = false;
  link::Disconnect();
  if (controller) controller->Stop();
}

void OnlinePluginTest::StartController(emu::EmulatorOptions options) {
  address = StartSubstituteController(controller, std::move(options));
  ASSERT_FALSE(address.empty()) << "no loopback address to listen on";
}

void OnlinePluginTest::GoOnline(emu::EmulatorOptions options) {
  options.faults.stopStatus = true;
  options.machineMoves = false;
  ASSERT_NO_FATAL_FAILURE(StartController(std::move(options)));
  ASSERT_TRUE(link::Connect(false));
  link::Link().ControllerOnline = true;
  cycle::Cycle().LastStatusTick = platform::TickCount();
  Received();
}

void OnlinePluginTest::SendFrame(const std::function<void(cycle::StatusRecord&)>& change, std::uint8_t tag) {
  if (change) controller->UpdateStatus(change);
  const int before = WaitingBytes(true);
  controller->SendFrameWithTag(tag);
  ASSERT_TRUE(PumpUntil([&] { return WaitingBytes(true) >= before + static_cast<int>(cycle::kStatusRecordSize); }));
}

std::vector<emu::ReceivedCommand> OnlinePluginTest::Received() {
  // Whatever the plugin sent before the marker has arrived once the marker has.
  if (link::CommandChannel().Connected != 0 && link::SendCommand(link::CMD_HOST_REQUEST)) {
    EXPECT_TRUE(PumpUntil([&] {
      const auto commands = controller->Commands();
      return !commands.empty() && commands.back().code == link::CMD_HOST_REQUEST;
    }));
  }
  std::vector<emu::ReceivedCommand> commands = controller->Commands();
  controller->ClearRecords();
  if (!commands.empty() && commands.back().code == link::CMD_HOST_REQUEST) commands.pop_back();
  return commands;
}

std::vector<emu::ReceivedCommand> OnlinePluginTest::Received(std::uint8_t code) {
  std::vector<emu::ReceivedCommand> commands = Received();
  std::erase_if(commands, [code](const emu::ReceivedCommand& command) { return command.code != code; });
  return commands;
}

}  // namespace veltra::testing

// Tests of the plugin's link against a substitute controller of their own,
// on a free loopback address that the plugin's host address points to.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cycle/status_record.h"
#include "emulator.h"
#include "plugin_fixture.h"

namespace veltra::testing {

// Starts the controller on the first of the test's addresses it can bind and
// points the plugin's host address at it; the address, empty when none.
std::string StartSubstituteController(std::unique_ptr<emu::Emulator>& controller, emu::EmulatorOptions options);

// Bytes waiting on a channel, left where they are.
int WaitingBytes(bool commandChannel);

class ControllerTest : public ::testing::Test {
 protected:
  ~ControllerTest() override;
  void StartController(emu::EmulatorOptions options = {});
  // StartController, then Connect, asserting success.
  void ConnectToController(emu::EmulatorOptions options = {});
  static int Waiting(bool commandChannel) { return WaitingBytes(commandChannel); }

  std::unique_ptr<emu::Emulator> controller;
  std::string address;
  MessageBoxRecorder boxes;
};

// The plugin in its host stand-in with a substitute controller of the
// test's own. Once online, the controller reports a status frame only when
// the test sends one and its machine does not move, so every frame the
// cycle sees is the test's.
class OnlinePluginTest : public PluginTest {
 protected:
  ~OnlinePluginTest() override;
  void StartController(emu::EmulatorOptions options = {});
  // Connects the link and raises ControllerOnline, as the reset sequence
  // does once the configuration went out.
  void GoOnline(emu::EmulatorOptions options = {});
  // One frame of the controller's status after the change, with the tag;
  // whole on the command channel when this returns.
  void SendFrame(const std::function<void(cycle::StatusRecord&)>& change = nullptr,
                 std::uint8_t tag = cycle::kStatusTag);
  // The commands the controller received since the last call, once
  // everything the plugin has sent so far has arrived (a CMD_HOST_REQUEST
  // sent after it marks the end, so a test of that command reads the
  // controller's record itself).
  std::vector<emu::ReceivedCommand> Received();
  // The same, only those with the code.
  std::vector<emu::ReceivedCommand> Received(std::uint8_t code);

  std::unique_ptr<emu::Emulator> controller;
  std::string address;
};

}  // namespace veltra::testing

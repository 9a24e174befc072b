// Tests of the plugin's link against a substitute controller of their own,
// on a free loopback address that the plugin's host address points to.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "emulator.h"
#include "plugin_fixture.h"

namespace veltra::testing {

class ControllerTest : public ::testing::Test {
 protected:
  ~ControllerTest() override;
  // Starts the controller on the first of the test's addresses it can bind.
  void StartController(emu::EmulatorOptions options = {});
  // StartController, then Connect, asserting success.
  void ConnectToController(emu::EmulatorOptions options = {});
  // Bytes waiting on a channel, left where they are.
  static int Waiting(bool commandChannel);

  std::unique_ptr<emu::Emulator> controller;
  std::string address;
  MessageBoxRecorder boxes;
};

}  // namespace veltra::testing

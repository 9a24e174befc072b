// A host stand-in driving the plugin that is linked into the test, with
// every message box recorded and answered from a script of answers.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "host_stand_in.h"
#include "platform/message_box.h"

namespace veltra::testing {

// The 21 entry points of the plugin linked into this test program.
hoststub::PluginExports LinkedPlugin();

class MessageBoxRecorder {
 public:
  MessageBoxRecorder();
  ~MessageBoxRecorder();
  // Answers for the coming boxes, in order; the default button after them.
  void Answer(platform::MessageBoxAnswer answer) { answers_.push_back(answer); }
  const std::vector<platform::MessageBoxRequest>& Shown() const { return shown_; }
  std::vector<std::string> Texts() const;

 private:
  std::vector<platform::MessageBoxRequest> shown_;
  std::deque<platform::MessageBoxAnswer> answers_;
};

class PluginTest : public ::testing::Test {
 protected:
  // The plugin's typed accessors reach this host's blocks from the start, so
  // a test can prepare host fields before the start-up order runs.
  PluginTest();
  ~PluginTest() override;
  // The host's start-up order with a profile file of this test's own.
  void StartPlugin();
  std::string ProfilePath() const;

  hoststub::HostStandIn host;
  MessageBoxRecorder boxes;
};

}  // namespace veltra::testing

// A host stand-in driving the plugin that is linked into the test, with
// every message box recorded and answered from a script of answers.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <string>
#include <string_view>
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
  // The profile file lives in a directory of this test process's own, removed
  // with the fixture, so runs of the tests never see each other's profiles.
  std::string ProfilePath() const;
  void WriteProfile(std::string_view contents) const;
  std::string ReadProfile() const;

  hoststub::HostStandIn host;
  MessageBoxRecorder boxes;

 private:
  std::filesystem::path profileDirectory_;
};

}  // namespace veltra::testing

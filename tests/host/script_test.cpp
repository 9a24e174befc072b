#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "platform/clock.h"
#include "platform/keyboard.h"
#include "plugin/host_blocks.h"
#include "plugin_fixture.h"
#include "script.h"

namespace veltra {
namespace {

class HostScript : public testing::PluginTest {
 protected:
  bool Run(const std::vector<std::string>& lines) {
    error.clear();
    return script.RunLines(lines, error);
  }
  std::ostringstream out;
  hoststub::Script script{host, out, ProfilePath()};
  std::string error;
};

TEST_F(HostScript, ReadsAndWritesFieldsDrosAndLedsByName) {
  ASSERT_TRUE(Run({"start", "# a comment", "", "set Engine.EStop 1", "get EngineBlock.EStop",
                   "set Planner.TrajectoryPosition[3][2] -2.5", "get Planner.TrajectoryPosition[3][2]",
                   "get Planner.MaxPulseRate[6]", "dro 1501 120.5", "dro 1501", "led 106 1", "led 106",
                   "expect dro 1501 120.5", "expect status \"Ethernet controller plugin initialized.\"", "stop"}))
      << error;
  EXPECT_EQ(out.str(),
            "EngineBlock.EStop = 1\n"
            "Planner.TrajectoryPosition[3][2] = -2.5\n"
            "Planner.MaxPulseRate[6] = 5000000\n"
            "DRO 1501 = 120.5\n"
            "LED 106 = 1\n");
}

TEST_F(HostScript, SetsTheKeyboardStateThePluginReads) {
  ASSERT_TRUE(Run({"key numlock 1", "key numpad9 1"})) << error;
  EXPECT_TRUE(platform::NumLockOn());
  EXPECT_TRUE(platform::KeyHeld(platform::Key::Numpad9));
  EXPECT_FALSE(platform::KeyHeld(platform::Key::Numpad3));
  ASSERT_TRUE(Run({"key numlock 0", "key numpad9 0"})) << error;
  EXPECT_FALSE(platform::NumLockOn());
  EXPECT_FALSE(Run({"key capslock 1"}));
  EXPECT_EQ(error, "line 1: usage: key numlock|numpad9|numpad3 0|1");
}

TEST_F(HostScript, MistakesStopTheScriptNamingTheLine) {
  const struct {
    std::vector<std::string> lines;
    std::string error;
  } cases[] = {
      {{"start", "frobnicate 3"}, "line 2: unknown command 'frobnicate'"},
      {{"get Engine.Nothing"}, "line 1: unknown field 'Engine.Nothing'"},
      {{"get Engine.AxisPosition[6]"}, "line 1: index out of range in Engine.AxisPosition[6]"},
      {{"set Engine.EStop x"}, "line 1: not a number: x"},
      {{"start", "expect Engine.EStop 1"}, "line 2: expected Engine.EStop to be 1, it is 0"},
      {{"call Frob"}, "line 1: no export 'Frob' to call (the Set* exports are called by start)"},
      {{"call Home"}, "line 1: Home takes 1 argument(s)"},
      {{"menu \"No Such Entry\""}, "line 1: no menu entry \"No Such Entry\""},
      {{"run"}, "line 1: usage: run <file> [progress]"},
      {{"run /nonexistent/a.ngc"}, "line 1: cannot open the program /nonexistent/a.ngc"},
      {{"jog W + 100"}, "line 1: usage: jog <axis> <+|-> <ms> [speed]"},
      {{"jog X up 100"}, "line 1: usage: jog <axis> <+|-> <ms> [speed]"},
      {{"home"}, "line 1: usage: home <axis...>"},
      {{"home X 7"}, "line 1: not an axis: 7"},
      {{"probe 0 0 -5"}, "line 1: usage: probe <x> <y> <z> <a> [feed]"},
      {{"probe 0 0 -5 0"},
       "line 1: no probe feed: give one (units per minute) or set Planner.FeedRate and Planner.FeedPercent"},
  };
  for (const auto& c : cases) {
    EXPECT_FALSE(Run(c.lines));
    EXPECT_EQ(error, c.error);
  }
}

TEST_F(HostScript, AProgramWithAMistakeStopsNamingTheFileAndItsLine) {
  const std::string program = ProfilePath() + ".ngc";
  std::ofstream(program) << "G21 G90\nG1 X1 Q2 F100\n";
  EXPECT_FALSE(Run({"set Planner.AxisStepsPerUnit[0] 1000", "run " + program}));
  EXPECT_EQ(error, "line 2: " + program + ", line 2: unknown word 'Q2'");
  EXPECT_EQ(EngineBlock::TrajectoryHead.Get(), 0);
}

TEST_F(HostScript, WaitForGivesUpAfterItsBound) {
  platform::ManualClock clock;
  platform::SetClock(&clock);
  EXPECT_FALSE(Run({"waitfor Engine.EStop 1 300"}));
  EXPECT_EQ(error, "line 1: Engine.EStop did not become 1 within 300 ms");
  EXPECT_TRUE(Run({"set Engine.EStop 1", "waitfor Engine.EStop 1"}));
  platform::SetClock(nullptr);
}

TEST_F(HostScript, MenuEntriesAreChosenByTextAndBoxesAreAnsweredAsScripted) {
  ASSERT_TRUE(Run({"start", "menu \"General Config...\""})) << error;
  EXPECT_EQ(host.GeneralConfigRuns(), 1);
  ASSERT_TRUE(Run({"answer no"}));
  EXPECT_EQ(platform::ShowMessageBox("Update?", platform::MessageBoxButtons::YesNo), platform::MessageBoxAnswer::No);
  EXPECT_NE(out.str().find("message box [VELTRA] (Yes/No): Update?\nanswered No\n"), std::string::npos);
}

std::vector<int> eStopAtReset;

TEST_F(HostScript, TheResetButtonTogglesTheEStopThenCallsReset) {
  hoststub::PluginExports exports = testing::LinkedPlugin();
  exports.Reset = [] { eStopAtReset.push_back(EngineBlock::EStop.Get()); };
  host.UsePlugin(exports);
  ASSERT_TRUE(Run({"set Engine.EStop 1", "reset", "expect Engine.EStop 0", "reset", "expect Engine.EStop 1"}))
      << error;
  EXPECT_EQ(eStopAtReset, (std::vector<int>{0, 1}));
}

}  // namespace
}  // namespace veltra

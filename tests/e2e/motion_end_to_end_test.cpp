// The whole road of programmed motion: the host stand-in plans a program
// into its trajectory ring, the plugin streams it, the substitute controller
// executes it at one record per millisecond, and its positions come back to
// the host.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "controller_fixture.h"
#include "cycle/cycle_commands.h"
#include "cycle/status_record.h"
#include "ops/events.h"
#include "plugin/host_blocks.h"
#include "program_run.h"
#include "script.h"

namespace veltra {
namespace {

class MotionEndToEnd : public testing::PluginTest {
 protected:
  void SetUp() override {
    for (std::uint32_t a = 0; a < 3; ++a) {
      host.Write(host::PlannerBlock::AxisStepsPerUnit, a, 1000.0);
      host.Write(host::PlannerBlock::AxisMaxVelocity, a, 50.0);
      host.Write(host::PlannerBlock::AxisAcceleration, a, 500.0);
    }
    StartPlugin();
    host.Write(host::PlannerBlock::HardwareFeedhold, 1);
    ASSERT_FALSE(testing::StartSubstituteController(controller, {}).empty()) << "no loopback address to listen on";
    host.Write(host::EngineBlock::EStop, 1);
    host.PressReset();
    ASSERT_EQ(host.StatusLine(), "Ethernet controller connected.");
    host.StartUpdates();
    ASSERT_TRUE(host.RunUntil([] { return PlannerBlock::MotionIdle.Get() != 0; }, 2000));
  }
  void TearDown() override {
    host.StopPlugin();
    controller->Stop();
  }

  hoststub::Program Plan(const std::vector<std::string>& lines) {
    hoststub::Program program;
    std::string error;
    EXPECT_TRUE(hoststub::PlanOnHost(host, lines, program, error)) << error;
    return program;
  }
  void ExpectBothEndsAt(const std::array<std::int32_t, 3>& steps) {
    const emu::MotionStats motion = controller->Motion();
    for (std::uint32_t a = 0; a < 3; ++a) {
      EXPECT_EQ(motion.stepPositions[a], steps[a]) << "controller, axis " << a;
      EXPECT_EQ(host.Read(host::EngineBlock::AxisPosition, a), steps[a]) << "host, axis " << a;
    }
  }

  std::unique_ptr<emu::Emulator> controller;
};

TEST_F(MotionEndToEnd, AProgramEndsWithTheSamePositionsAtBothEndsAndNoUnderrun) {
  hoststub::Program program = Plan({"G21 G90", "G1 X4 Y2 F1200", "G2 X8 Y2 I2 J0", "G0 Z-1.5 X1"});
  const std::size_t samples = program.samples;
  ASSERT_GT(samples, 500u);
  hoststub::ProgramRun run(host, std::move(program));
  ASSERT_TRUE(host.RunUntil([&] { return run.Advance(); }, 10000));
  EXPECT_FALSE(run.Failed()) << run.Error();

  ExpectBothEndsAt({1000, 2000, -1500});
  const emu::MotionStats motion = controller->Motion();
  EXPECT_EQ(motion.recordsExecuted, samples);
  EXPECT_EQ(motion.underruns, 0);
  EXPECT_EQ(motion.overruns, 0);
}

TEST_F(MotionEndToEnd, AFeedholdInTheMiddleHoldsTheMachineAndTheResumeFinishesTheProgram) {
  hoststub::ProgramRun run(host, Plan({"G21 G90", "G1 X20 F1200"}));
  ASSERT_TRUE(host.RunUntil(
      [&] {
        run.Advance();
        return controller->Motion().recordsExecuted > 300;
      },
      5000));

  host.Plugin().Notify(ops::host_event::kFeedhold);
  EXPECT_EQ(PlannerBlock::FeedholdRequest.Get(), 1);
  ASSERT_TRUE(host.RunUntil(
      [&] {
        run.Advance();
        return (controller->ControlFlags() & cycle::control_flag::kHardwareFeedhold) != 0 &&
               controller->MachineStatus().Mode == cycle::kModeHold;
      },
      2000));
  // Held: nothing moves at either end while the host keeps feeding the ring.
  ASSERT_TRUE(host.RunUntil(
      [&] {
        run.Advance();
        return EngineBlock::AxisPosition.Get(0) == controller->Motion().stepPositions[0];
      },
      1000));
  const std::int32_t heldAt = controller->Motion().stepPositions[0];
  EXPECT_GT(heldAt, 0);
  EXPECT_LT(heldAt, 20000);
  host.RunUntil([&] { return run.Advance(); }, 300);
  EXPECT_EQ(controller->Motion().stepPositions[0], heldAt);
  EXPECT_EQ(EngineBlock::AxisPosition.Get(0), heldAt);

  host.Plugin().Notify(ops::host_event::kResume);
  ASSERT_TRUE(host.RunUntil([&] { return run.Advance(); }, 10000));
  EXPECT_FALSE(run.Failed()) << run.Error();
  EXPECT_EQ(controller->ControlFlags() & cycle::control_flag::kHardwareFeedhold, 0);
  ExpectBothEndsAt({20000, 0, 0});
  EXPECT_EQ(controller->Motion().underruns, 0);
}

TEST_F(MotionEndToEnd, TheScriptHomesJogsRunsAProgramAndProbesAsTheHostWould) {
  controller->SetProbeSurface(emu::ProbeSurface{2, -2000, -1});
  const std::string program = ProfilePath() + ".ngc";
  std::ofstream(program) << "G21 G90\nG0 X2 Y1\nG4 P0.1\nG1 Z-1 F1200\nM30\n";
  std::ostringstream out;
  hoststub::Script script(host, out, ProfilePath());
  std::string error;
  ASSERT_TRUE(
      script.RunLines({"jog X + 200 10", "jog Y - 100 10", "home X Y", "expect Engine.AxisPosition[0] 0",
                       "expect Engine.AxisPosition[1] 0", "run " + program, "expect Engine.AxisPosition[0] 2000",
                       "expect Engine.AxisPosition[1] 1000", "expect Engine.AxisPosition[2] -1000",
                       "probe 2 1 -5 0 300", "expect Setup.UserVariable[2002] -2"},
                      error))
      << error << "\n"
      << out.str();
  ExpectBothEndsAt({2000, 1000, -2000});
  EXPECT_NE(out.str().find("probe contact at 2.0000 1.0000 -2.0000"), std::string::npos) << out.str();

  // Without a surface below, the probe ends without contact.
  controller->SetProbeSurface(std::nullopt);
  EXPECT_FALSE(script.RunLines({"probe 2 1 -3 0 300"}, error));
  EXPECT_EQ(error, "line 1: the probe found no contact: Probe move finished with NO hit!");
}

}  // namespace
}  // namespace veltra

#include "program_run.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/clock.h"
#include "plugin/host_blocks.h"
#include "plugin_fixture.h"

namespace veltra {
namespace {

using hoststub::AxisValues;
using hoststub::kTrajectoryEntries;

std::vector<std::string> calls;

// The host stand-in runs programs against stand-ins for the plugin's
// exports; this test plays the plugin's part of the ring itself.
class ProgramRunTest : public testing::PluginTest {
 protected:
  ProgramRunTest() {
    calls.clear();
    hoststub::PluginExports exports = testing::LinkedPlugin();
    exports.DoDwell = [](double time) {
      calls.push_back("DoDwell " + std::to_string(time));
      EngineBlock::DwellBusy.Set(1);
    };
    exports.Notify = [](std::int32_t event) {
      calls.push_back("Notify " + std::to_string(event) + " direction " +
                      std::to_string(PlannerBlock::SpindleDirection.Get()));
      if (event == 3) EngineBlock::DwellBusy.Set(plasmaArcWait ? 1 : 0);
    };
    host.UsePlugin(exports);
    for (std::uint32_t a = 0; a < 3; ++a) {
      host.Write(host::PlannerBlock::AxisStepsPerUnit, a, 1000.0);
      host.Write(host::PlannerBlock::AxisMaxVelocity, a, 50.0);
      host.Write(host::PlannerBlock::AxisAcceleration, a, 500.0);
    }
    host.Write(host::PlannerBlock::MotionIdle, 1);
  }

  hoststub::Program Plan(const std::vector<std::string>& lines) {
    hoststub::Program program;
    std::string error;
    EXPECT_TRUE(hoststub::PlanOnHost(host, lines, program, error)) << error;
    return program;
  }
  std::int32_t Queued() {
    return (EngineBlock::TrajectoryHead.Get() - EngineBlock::TrajectoryTail.Get() + kTrajectoryEntries) %
           kTrajectoryEntries;
  }
  // Takes up to n entries from the tail, as the plugin's streaming does.
  void Consume(std::int32_t n, std::vector<AxisValues>* taken = nullptr, std::vector<int>* lines = nullptr) {
    for (; n > 0 && Queued() > 0; --n) {
      const std::int32_t tail = EngineBlock::TrajectoryTail.Get();
      AxisValues entry{};
      for (int a = 0; a < 6; ++a) entry[a] = PlannerBlock::TrajectoryPosition.Get(tail, a);
      if (taken) taken->push_back(entry);
      if (lines) lines->push_back(EngineBlock::TrajectoryLine.Get(tail));
      EngineBlock::TrajectoryTail.Set((tail + 1) % kTrajectoryEntries);
    }
  }
  // The controller runs what it was sent and comes to rest.
  void ComeToRest(hoststub::ProgramRun& run) {
    host.Write(host::PlannerBlock::MotionIdle, 0);
    run.Advance();
    host.Write(host::PlannerBlock::MotionIdle, 1);
  }

  static inline bool plasmaArcWait = false;
};

TEST_F(ProgramRunTest, FillsTheRingAsFarAsItHasRoomAndNeverOverTheUnconsumedEntries) {
  // From near the ring's end, so that it wraps.
  EngineBlock::TrajectoryHead.Set(4000);
  EngineBlock::TrajectoryTail.Set(4000);
  const std::vector<std::string> lines = {"G0 Y1", "G1 X100 F600"};
  hoststub::Program program = Plan(lines);
  std::vector<AxisValues> expected;
  for (const auto& step : program.steps) {
    hoststub::MoveSampler sampler(std::get<hoststub::Move>(step), hoststub::HostMotorTuning(host).stepsPerUnit);
    for (AxisValues steps{}; sampler.Next(steps);) expected.push_back(steps);
  }
  ASSERT_GT(expected.size(), 2u * kTrajectoryEntries);

  hoststub::ProgramRun run(host, std::move(program));
  std::vector<AxisValues> taken;
  std::vector<int> lineOfEntry;
  EXPECT_FALSE(run.Advance());
  EXPECT_EQ(Queued(), kTrajectoryEntries - 1);
  EXPECT_EQ(EngineBlock::RunState.Get(), 1);
  Consume(100, &taken, &lineOfEntry);
  EXPECT_FALSE(run.Advance());
  EXPECT_EQ(Queued(), kTrajectoryEntries - 1);
  EXPECT_EQ(run.SamplesConsumed(), 100u);
  while (!run.Advance()) {
    Consume(700, &taken, &lineOfEntry);
    if (Queued() == 0 && taken.size() == expected.size()) ComeToRest(run);
  }
  EXPECT_FALSE(run.Failed()) << run.Error();
  EXPECT_EQ(taken, expected);
  EXPECT_EQ(lineOfEntry.front(), 1);
  EXPECT_EQ(lineOfEntry.back(), 2);
  EXPECT_EQ(taken.back()[0], 100000.0);
  EXPECT_EQ(EngineBlock::RunState.Get(), 0);
}

TEST_F(ProgramRunTest, ADwellWaitsForTheMotionToRestAndHoldsTheProgramWhileBusy) {
  hoststub::ProgramRun run(host, Plan({"G1 X1 F600", "G4 P0.25", "G1 X2"}));
  EXPECT_FALSE(run.Advance());
  const std::int32_t firstMove = Queued();
  ASSERT_GT(firstMove, 0);
  Consume(firstMove);
  // Taken up, but the idle is the one from before: still no dwell.
  EXPECT_FALSE(run.Advance());
  EXPECT_TRUE(calls.empty());
  ComeToRest(run);
  EXPECT_FALSE(run.Advance());
  EXPECT_EQ(calls, (std::vector<std::string>{"DoDwell 0.250000"}));
  EXPECT_FALSE(run.Advance());
  EXPECT_EQ(Queued(), 0);
  EngineBlock::DwellBusy.Set(0);
  EXPECT_FALSE(run.Advance());
  EXPECT_GT(Queued(), 0);
  Consume(Queued());
  ComeToRest(run);
  EXPECT_TRUE(run.Advance());
  EXPECT_FALSE(run.Failed()) << run.Error();
}

TEST_F(ProgramRunTest, SpindleWordsBecomeTheHostsSpindleEventsAndATorchStartHoldsTheMotion) {
  platform::ManualClock clock;
  platform::SetClock(&clock);
  host.Write(host::PlannerBlock::PulleyMaxSpeed, 0, 2000);
  plasmaArcWait = true;
  hoststub::ProgramRun run(host, Plan({"S1000 M3", "G1 X1 F600", "M4", "M5"}));
  EXPECT_FALSE(run.Advance());
  EXPECT_EQ(PlannerBlock::SpindleSpeed.Get(), 1000.0);
  EXPECT_EQ(PlannerBlock::SpindleRatio.Get(), 0.5);
  // Held by the arc, then by the spindle's delay.
  clock.Advance(hoststub::kSpindleDelayMs);
  EXPECT_FALSE(run.Advance());
  EXPECT_EQ(Queued(), 0);
  plasmaArcWait = false;
  EngineBlock::DwellBusy.Set(0);
  EXPECT_FALSE(run.Advance());
  EXPECT_GT(Queued(), 0);
  Consume(Queued());
  ComeToRest(run);
  EXPECT_FALSE(run.Advance());
  EXPECT_EQ(calls.size(), 3u);
  clock.Advance(hoststub::kSpindleDelayMs - 1);
  EXPECT_FALSE(run.Advance());
  EXPECT_EQ(calls.size(), 3u);
  clock.Advance(1);
  EXPECT_FALSE(run.Advance());
  clock.Advance(hoststub::kSpindleDelayMs);
  EXPECT_TRUE(run.Advance());
  platform::SetClock(nullptr);
  EXPECT_EQ(calls, (std::vector<std::string>{"Notify 5 direction 0", "Notify 3 direction 0", "Notify 3 direction 1",
                                             "Notify 4 direction 1"}));
}

TEST_F(ProgramRunTest, AnEStopAbandonsTheProgramAndWhatIsStillQueued) {
  hoststub::ProgramRun run(host, Plan({"G0 Z1", "G1 X100 F600"}));
  EXPECT_FALSE(run.Advance());
  EngineBlock::EStop.Set(1);
  EXPECT_TRUE(run.Advance());
  EXPECT_EQ(run.Error(), "e-stop: the program stopped at line 2");
  EXPECT_EQ(Queued(), 0);
  EXPECT_EQ(EngineBlock::RunState.Get(), 0);
}

}  // namespace
}  // namespace veltra

#include "plugin/update.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "config/config_record.h"
#include "controller_fixture.h"
#include "cycle/cycle.h"
#include "cycle/thc.h"
#include "link/command_table.h"
#include "link/controller_socket.h"
#include "loopback.h"
#include "platform/keyboard.h"
#include "platform/messages.h"
#include "plugin/host_blocks.h"
#include "plugin_fixture.h"
#include "settings/process_settings.h"
#include "ui/config_dialog.h"
#include "ui/window_handles.h"

namespace veltra::plugin {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr int kOemInputRecord = 28;  // OEM input n is record 28 + n

class PeriodicUpdate : public testing::PluginTest {
 protected:
  void SetUp() override {
    StartPlugin();
    pendant().EnablePendant = 1;
    for (auto& row : pendant().axisRows) row.enabled = 0;
    for (auto& row : pendant().stepRows) row.enabled = 0;
    config::Uploaded().EncoderWired[4] = true;  // an MPG, for the MPG jog mode
  }
  static settings::PendantSettings& pendant() { return settings::Process().pendant; }
  static void SetOemInput(int oem, bool active) {
    EngineBlock::InputSignalActive.Set(kOemInputRecord + oem, active ? 1 : 0);
  }
  static void SetWheel(std::int32_t count) { cycle::Cycle().Status.EncoderCounts[4] = count; }
  // Each axis row n is wired to OEM input n + 1.
  void UseAxisRow(int row, std::int32_t function, bool active) {
    auto& r = pendant().axisRows[row];
    r.enabled = 1;
    r.oem = row + 1;
    r.function = function;
    SetOemInput(row + 1, active);
  }
};

struct WheelCase {
  const char* name;
  std::vector<std::pair<int, std::int32_t>> activeRows;  // row, function
  double scale;
  std::int32_t counts;
  std::int32_t dro;
  double start;
  double expected;
  std::int32_t selectedAxis;  // 5 when no row selects an axis
};

TEST_F(PeriodicUpdate, TheWheelAdjustsWhatTheSelectorChoseWithinItsBounds) {
  const WheelCase cases[] = {
      {"RowsZeroAndThreeTogether", {{0, 0}, {3, 2}}, 1.0, 10, 821, 100.0, 110.0, 0},
      {"FeedOverrideFourCountsPerUnit", {{3, 2}}, 4.0, 10, 821, 100.0, 102.5, 5},
      {"SpindleOverride", {{5, 3}}, 1.0, -7, 74, 100.0, 93.0, 5},
      {"NominalVoltageFourCountsPerUnit", {{3, 4}}, 4.0, 10, 1501, 150.0, 150.25, 5},
      {"VoltageOverride", {{4, 5}}, 1.0, 10, 1502, 100.0, 101.0, 5},
      {"FeedOverrideUpperBound", {{3, 2}}, 1.0, 5, 821, 249.0, 250.0, 5},
      {"FeedOverrideLowerBound", {{3, 2}}, 1.0, -5, 821, 1.0, 0.0, 5},
      {"NominalVoltageLowerBound", {{3, 4}}, 1.0, -100, 1501, 52.0, 50.0, 5},
      {"VoltageOverrideUpperBound", {{4, 5}}, 1.0, 300, 1502, 110.0, 120.0, 5},
      {"NoScaleCountsAsOne", {{3, 2}}, 0.0, 3, 821, 100.0, 103.0, 5},
      {"AxisSelectionLeavesTheOverrides", {{1, 0}}, 1.0, 10, 821, 100.0, 100.0, 1},
      {"AFunctionThatDoesNotExistSelectsNothing", {{3, 2}, {4, 9}}, 1.0, 10, 821, 100.0, 110.0, 5},
  };
  for (const WheelCase& c : cases) {
    for (int row = 0; row < 6; ++row) UseAxisRow(row, 0, false);
    SetWheel(1000);
    Update();
    PlannerBlock::SelectedAxis.Set(5);
    PlannerBlock::EncoderScale.Set(4, c.scale);
    host.SetDroValue(c.dro, c.start);
    for (const auto& [row, function] : c.activeRows) UseAxisRow(row, function, true);
    SetWheel(1000 + c.counts);
    Update();
    EXPECT_DOUBLE_EQ(host.Dro(c.dro), c.expected) << c.name;
    EXPECT_EQ(PlannerBlock::SelectedAxis.Get(), c.selectedAxis) << c.name;
  }
}

TEST_F(PeriodicUpdate, TheSelectorPicksTheAxisTheStepTheLedAndTheJogMode) {
  pendant().stepRows[1] = {1, 1, 8, 0.1};
  pendant().stepRows[2] = {2, 1, 9, 0.01};
  pendant().led = {0, 1, 3};  // output record 9
  EngineBlock::OutputSignalEnabled.Set(9, 1);
  SetOemInput(8, true);
  SetOemInput(9, true);

  UseAxisRow(2, 0, true);
  Update();
  EXPECT_EQ(PlannerBlock::SelectedAxis.Get(), 2);
  EXPECT_EQ(PlannerBlock::JogIncrement.Get(), 0.01) << "the last active step row wins";
  EXPECT_EQ(EngineBlock::OutputSignalState.Get(9), 1);
  EXPECT_EQ(PlannerBlock::JogMode.Get(), 2);

  // In e-stop an axis selection counts as none.
  EngineBlock::EStop.Set(1);
  Update();
  EXPECT_EQ(Updates().PendantSelection, 0);
  EXPECT_EQ(EngineBlock::OutputSignalState.Get(9), 0);
  EXPECT_EQ(PlannerBlock::JogMode.Get(), 0);
  EngineBlock::EStop.Set(0);

  // No selection: the step stays, the MPG jog mode ends.
  UseAxisRow(2, 0, false);
  PlannerBlock::JogIncrement.Set(1.0);
  PlannerBlock::JogMode.Set(2);
  Update();
  EXPECT_EQ(PlannerBlock::JogIncrement.Get(), 1.0);
  EXPECT_EQ(PlannerBlock::JogMode.Get(), 0);
  EXPECT_EQ(EngineBlock::OutputSignalState.Get(9), 0);

  // A disabled output record is left alone.
  EngineBlock::OutputSignalEnabled.Set(9, 0);
  EngineBlock::OutputSignalState.Set(9, 7);
  UseAxisRow(2, 0, true);
  Update();
  EXPECT_EQ(EngineBlock::OutputSignalState.Get(9), 7);
}

TEST_F(PeriodicUpdate, ShuttleModeFollowsARowSetToShuttle) {
  UseAxisRow(4, 1, true);
  Update();
  EXPECT_THAT(host.ButtonPresses(), ElementsAre(284));
  EXPECT_TRUE(host.Led(106));
  EXPECT_EQ(Updates().ShuttleMode, 1);
  Update();
  EXPECT_THAT(host.ButtonPresses(), ElementsAre(284)) << "already in shuttle mode";

  // An axis selected while shuttle mode is on.
  UseAxisRow(4, 1, false);
  UseAxisRow(0, 0, true);
  Update();
  EXPECT_THAT(host.ButtonPresses(), ElementsAre(284, 284));
  EXPECT_EQ(host.StatusLine(), "End shuttle mode first!") << "the previous update still saw shuttle mode";
  EXPECT_FALSE(host.Led(106));
  Update();
  EXPECT_EQ(PlannerBlock::JogMode.Get(), 2);
}

TEST_F(PeriodicUpdate, TheEStopButtonStopsTheHost) {
  pendant().button = {0, 1, 12};
  EngineBlock::EStopCause.Set(8);
  Update();
  EXPECT_EQ(EngineBlock::EStop.Get(), 0);
  SetOemInput(12, true);
  Update();
  EXPECT_EQ(EngineBlock::EStop.Get(), 1);
  EXPECT_EQ(EngineBlock::EStopCause.Get(), 0);
}

TEST_F(PeriodicUpdate, OemNumbersThatNameNoHostRecordDriveNothing) {
  for (std::int32_t oem : {-29, 25, 1000, INT_MAX, INT_MIN}) {
    for (int record = 0; record < 53; ++record) EngineBlock::InputSignalActive.Set(record, 1);
    auto& row = pendant().axisRows[1];
    row = {1, 1, oem, 0};
    pendant().button = {0, 1, oem};
    pendant().led = {0, 1, oem};
    PlannerBlock::SelectedAxis.Set(5);
    Update();
    EXPECT_EQ(PlannerBlock::SelectedAxis.Get(), 5) << oem;
    EXPECT_EQ(EngineBlock::EStop.Get(), 0) << oem;
  }
  // The highest OEM output that is a host record, and the first one past them.
  for (int record = 0; record < 30; ++record) EngineBlock::OutputSignalEnabled.Set(record, 1);
  const std::vector<std::byte> outputsBefore(host.Block(host::Block::Engine) + EngineBlock::OutputSignalEnabled.offset,
                                             host.Block(host::Block::Engine) + EngineBlock::OutputSignalEnabled.offset +
                                                 30 * 5 + 16);
  pendant().axisRows[1] = {1, 1, 2, 0};
  SetOemInput(2, true);
  pendant().led = {0, 1, 24};
  Update();
  EXPECT_TRUE(std::equal(outputsBefore.begin(), outputsBefore.end(),
                         host.Block(host::Block::Engine) + EngineBlock::OutputSignalEnabled.offset));
  pendant().led = {0, 1, 23};
  Update();
  EXPECT_EQ(EngineBlock::OutputSignalState.Get(29), 1);
}

TEST_F(PeriodicUpdate, EncodersFollowTheControllerAndKeepTheHostsZero) {
  pendant().EnablePendant = 0;
  auto& wired = config::Uploaded().EncoderWired;
  wired = {true, false, false, false, true, false, false};
  auto& counts = cycle::Cycle().Status.EncoderCounts;
  EngineBlock::EncoderCount.Set(1, 77);
  counts = {500, 600, 0, 0, 40, 0, 0};
  Update();
  EXPECT_EQ(EngineBlock::EncoderCount.Get(0), 500);
  EXPECT_EQ(EngineBlock::EncoderCount.Get(1), 77) << "not wired to the controller";
  EXPECT_EQ(EngineBlock::EncoderCount.Get(4), 40);

  EngineBlock::EncoderCount.Set(0, 0);  // the user zeroes the DRO
  Update();
  EXPECT_EQ(EngineBlock::EncoderCount.Get(0), 0);
  counts[0] = 800;
  counts[4] = 45;
  Update();
  EXPECT_EQ(EngineBlock::EncoderCount.Get(0), 300);
  EXPECT_EQ(EngineBlock::EncoderCount.Get(4), 45);

  // With the hardware MPG the host's MPG counts are the host's.
  ui::TheConfigDialog().general.HwMPG = 1;
  counts[4] = 50;
  Update();
  EXPECT_EQ(EngineBlock::EncoderCount.Get(4), 45);

  // In shuttle mode nothing is mirrored; a counter as shuttle source means MPG jogging.
  host.SetLedValue(106, true);
  config::TheConfigRecord().Set(config::ConfigField::ShuttleSource, std::uint8_t{5});
  counts[0] = 900;
  Update();
  EXPECT_EQ(EngineBlock::EncoderCount.Get(0), 300);
  EXPECT_EQ(PlannerBlock::JogMode.Get(), 2);
  config::TheConfigRecord().Set(config::ConfigField::ShuttleSource, std::uint8_t{2});
  PlannerBlock::JogMode.Set(1);
  Update();
  EXPECT_EQ(PlannerBlock::JogMode.Get(), 1);
}

TEST_F(PeriodicUpdate, MpgJogModeNeedsAnMpg) {
  pendant().EnablePendant = 0;
  auto& wired = config::Uploaded().EncoderWired;
  wired = {true, true, true, true, false, false, false};
  PlannerBlock::JogMode.Set(2);
  Update();
  EXPECT_EQ(PlannerBlock::JogMode.Get(), 0);
  wired[6] = true;
  PlannerBlock::JogMode.Set(2);
  Update();
  EXPECT_EQ(PlannerBlock::JogMode.Get(), 2);
}

TEST_F(PeriodicUpdate, AProbeHitPulsesTheHostsProbeInput) {
  cycle::CycleState& cycle = cycle::Cycle();
  const auto probe = [] { return EngineBlock::InputSignalActive.Get(22); };
  cycle.ProbeHitFlag = true;
  Update();
  EXPECT_EQ(probe(), 1);
  Update();
  EXPECT_EQ(probe(), 1);
  cycle.ProbeEndFlag = true;
  Update();
  EXPECT_EQ(probe(), 1);
  EXPECT_FALSE(cycle.ProbeHitFlag);
  EXPECT_FALSE(cycle.ProbeEndFlag);
  Update();
  EXPECT_EQ(probe(), 0);

  // Hit and end seen in the same update: raised now, lowered at the next.
  cycle.ProbeHitFlag = cycle.ProbeEndFlag = true;
  Update();
  EXPECT_EQ(probe(), 1);
  Update();
  EXPECT_EQ(probe(), 0);

  // An input already active from its pin is not lowered by the pulse.
  EngineBlock::InputSignalActive.Set(22, 1);
  cycle.ProbeHitFlag = cycle.ProbeEndFlag = true;
  Update();
  Update();
  EXPECT_EQ(probe(), 1);
}

TEST_F(PeriodicUpdate, TheVerifyButtonIsPressedOncePerRequest) {
  PlannerBlock::VerifyActive.Set(1);
  Update();
  Update();
  PlannerBlock::VerifyActive.Set(0);
  Update();
  PlannerBlock::VerifyActive.Set(1);
  Update();
  EXPECT_THAT(host.ButtonPresses(), ElementsAre(105, 105));
}

TEST_F(PeriodicUpdate, ManualThcNeedsTheSettingAndNumLock) {
  const struct {
    std::int32_t manualThc;
    bool numLock;
    bool led;
  } cases[] = {{1, true, true}, {1, false, false}, {0, true, false}};
  for (const auto& c : cases) {
    ui::TheConfigDialog().thcOptions.ManualTHC = c.manualThc;
    platform::SetNumLock(c.numLock);
    Update();
    EXPECT_EQ(host.Led(1501), c.led) << c.manualThc << " " << c.numLock;
  }
  platform::SetNumLock(false);
}

TEST_F(PeriodicUpdate, TheEffectiveThcVoltageAndItsOverrideLed) {
  const struct {
    const char* name;
    double nominal, override;
    bool sample, sampledValid;
    double sampled;
    double overrideAfter, effective;
    bool led;
  } cases[] = {
      {"NoOverride", 120.0, 100.0, false, false, 0.0, 100.0, 120.0, false},
      {"OnePercent", 120.0, 101.0, false, false, 0.0, 101.0, 121.2, true},
      {"BelowATenth", 120.0, 100.04, false, false, 0.0, 100.04, 120.048, false},
      {"OverrideAboveItsRange", 100.0, 130.0, false, false, 0.0, 120.0, 120.0, true},
      {"OverrideBelowItsRange", 100.0, 70.0, false, false, 0.0, 80.0, 80.0, true},
      {"SampledVoltage", 120.0, 100.0, true, true, 98.0, 100.0, 98.0, false},
      {"NothingSampledYet", 120.0, 100.0, true, false, 98.0, 100.0, 120.0, false},
  };
  for (const auto& c : cases) {
    host.SetDroValue(1501, c.nominal);
    host.SetDroValue(1502, c.override);
    ui::TheConfigDialog().thcOptions.THCVSample = c.sample ? 1 : 0;
    cycle::Thc().SampledVoltageValid = c.sampledValid;
    cycle::Thc().SampledVoltage = c.sampled;
    Update();
    EXPECT_DOUBLE_EQ(host.Dro(1502), c.overrideAfter) << c.name;
    EXPECT_DOUBLE_EQ(host.Dro(1503), c.effective) << c.name;
    EXPECT_EQ(host.Led(1502), c.led) << c.name;
  }
}

TEST_F(PeriodicUpdate, AStatusWindowStillShowingOnlineIsToldTheLinkIsDown) {
  std::vector<platform::Message> received;
  platform::Window window = platform::MakeWindow([&](const platform::Message& m) {
    received.push_back(m);
    return std::intptr_t{0};
  });
  ui::Windows().statusWindow = window;
  ui::Windows().statusWindowShowsOnline = false;
  Update();
  ui::Windows().statusWindowShowsOnline = true;
  Update();
  platform::DispatchWaitingMessages();
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0].id, ui::kMsgNewData);
  EXPECT_EQ(received[0].wparam, 0u);
  EXPECT_EQ(received[0].lparam, 0);
  platform::DestroyWindow(window);
  ui::Windows() = ui::CycleWindows{};
}

// --- With the controller: the host request and the debug records ---

class OnlineUpdate : public testing::OnlinePluginTest {
 protected:
  void SetUp() override {
    StartPlugin();
    GoOnline();
    original_ = std::filesystem::current_path();
    directory_ = std::filesystem::path(ProfilePath()).parent_path() / "cwd";
    std::filesystem::create_directories(directory_);
    std::filesystem::current_path(directory_);
  }
  void TearDown() override { std::filesystem::current_path(original_); }
  static std::string DebugFile() {
    std::ostringstream text;
    text << std::ifstream("dbg.txt").rdbuf();
    return text.str();
  }
  std::filesystem::path original_;
  std::filesystem::path directory_;
};

TEST_F(OnlineUpdate, TheHostRequestGoesOutOnlyOnline) {
  EngineBlock::HostRequest.Set(1);
  link::Link().ControllerOnline = false;
  Update();
  EXPECT_EQ(EngineBlock::HostRequest.Get(), 1);
  link::Link().ControllerOnline = true;
  Update();
  EXPECT_EQ(EngineBlock::HostRequest.Get(), 0);
  const auto hostRequests = [&] {
    const auto commands = controller->Commands();
    return std::count(commands.begin(), commands.end(), emu::ReceivedCommand{link::CMD_HOST_REQUEST, {}});
  };
  ASSERT_TRUE(testing::PumpUntil([&] { return hostRequests() > 0; }));
  Update();
  testing::PumpFor(20);
  EXPECT_EQ(hostRequests(), 1);
}

TEST_F(OnlineUpdate, WholeDebugRecordsGoToTheFileAndTheRestWaits) {
  controller->SendDebugRecord({7, 2.5, -3});
  controller->SendDebugRecord({-100, -0.125, 42});
  controller->SendOnBulkChannel({1, 2, 3, 4, 5, 6, 7, 8});
  ASSERT_TRUE(testing::PumpUntil([] { return testing::WaitingBytes(false) == 40; }));
  Update();
  EXPECT_EQ(DebugFile(), "7\t-3\t2.500000\n-100\t42\t-0.125000\n");
  EXPECT_EQ(testing::WaitingBytes(false), 8);
  EXPECT_FALSE(DebugDump()) << "fewer than 16 bytes are left";
  EXPECT_EQ(testing::WaitingBytes(false), 8);

  // Appended; records taken while the file cannot be opened are gone.
  controller->SendOnBulkChannel({9, 10, 11, 12, 13, 14, 15, 16});
  ASSERT_TRUE(testing::PumpUntil([] { return testing::WaitingBytes(false) == 16; }));
  EXPECT_TRUE(DebugDump());
  EXPECT_EQ(DebugFile(), "7\t-3\t2.500000\n-100\t42\t-0.125000\n67305985\t269422093\t0.000000\n");
  std::filesystem::remove("dbg.txt");
  std::filesystem::create_directory("dbg.txt");
  controller->SendDebugRecord({1, 1.0, 1});
  ASSERT_TRUE(testing::PumpUntil([] { return testing::WaitingBytes(false) == 16; }));
  EXPECT_FALSE(DebugDump());
  EXPECT_EQ(testing::WaitingBytes(false), 0);
}

}  // namespace
}  // namespace veltra::plugin

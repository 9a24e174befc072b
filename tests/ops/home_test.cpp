#include "ops/home.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vector>

#include "controller_fixture.h"
#include "cycle/cycle.h"
#include "cycle/status_record.h"
#include "loopback.h"
#include "plugin/host_blocks.h"
#include "plugin_fixture.h"

namespace veltra::ops {
namespace {

using ::testing::ElementsAreArray;
using ::testing::IsEmpty;
using veltra::testing::PluginTest;
using veltra::testing::PumpUntil;
using Bytes = std::vector<std::uint8_t>;

class HomeTest : public veltra::testing::OnlinePluginTest {
 protected:
  void SetUp() override {
    StartPlugin();
    GoOnline();
  }
  // Everything the controller's command port took since the last look.
  Bytes WireBytes(std::size_t expected) {
    EXPECT_TRUE(PumpUntil([&] { return controller->CommandChannelBytes().size() >= expected; }));
    Bytes bytes = controller->CommandChannelBytes();
    controller->ClearRecords();
    return bytes;
  }
};

TEST_F(HomeTest, HomingStartsTheAxisOrItsVerifyRun) {
  const struct {
    const char* name;
    std::uint8_t verify;
    Bytes frame;
  } cases[] = {
      {"Home", 0, {5, 250, 2, 0, 2, 0}},
      {"Verify", 1, {18, 237, 2, 0, 2, 0}},
  };
  for (const auto& c : cases) {
    CancelHoming();
    PlannerBlock::VerifyActive.Set(c.verify);
    host.Plugin().Home(2);
    EXPECT_THAT(WireBytes(c.frame.size()), ElementsAreArray(c.frame)) << c.name;
    EXPECT_EQ(Homing().HomesPending, 1) << c.name;
    EXPECT_EQ(EngineBlock::Homing.Get(), 1) << c.name;
    EXPECT_EQ(EngineBlock::AxisHoming.Get(2), 1) << c.name;
    EXPECT_EQ(EngineBlock::AxisHoming.Get(1), 0) << c.name;
  }
}

TEST_F(HomeTest, TwoAxesStayPendingUntilBothReportTheirLastPhase) {
  host.Plugin().Home(0);
  host.Plugin().Home(1);
  EXPECT_EQ(Homing().HomesPending, 2);
  for (std::uint8_t axis : {0, 1}) {
    SendFrame([&](cycle::StatusRecord& s) {
      s.Sequence = cycle::kSequenceHomeLast;
      s.HomedAxis = axis;
    });
    cycle::RunCycle();
    EXPECT_EQ(Homing().HomesPending, 1 - axis) << int(axis);
    EXPECT_EQ(EngineBlock::Homing.Get(), axis == 0 ? 1 : 0) << int(axis);
    EXPECT_EQ(EngineBlock::AxisReferenced.Get(axis), 1);
  }
}

TEST_F(HomeTest, AxesOutsideXToCAreIgnored) {
  for (std::int16_t axis : {-1, 6, 300}) host.Plugin().Home(axis);
  EXPECT_THAT(Received(), IsEmpty());
  EXPECT_EQ(Homing().HomesPending, 0);
  EXPECT_EQ(EngineBlock::Homing.Get(), 0);
}

TEST_F(PluginTest, OfflineHomingIsCountedAndNothingIsSaid) {
  StartPlugin();
  host.Plugin().Home(5);
  EXPECT_EQ(Homing().HomesPending, 1);
  EXPECT_EQ(EngineBlock::Homing.Get(), 1);
  EXPECT_EQ(EngineBlock::AxisHoming.Get(5), 1);
  EXPECT_THAT(boxes.Texts(), IsEmpty());
  EXPECT_EQ(host.StatusLine(), "Ethernet controller plugin initialized.");
}

}  // namespace
}  // namespace veltra::ops

#include <gtest/gtest.h>

#include <vector>

#include "link/host_address.h"
#include "platform/clock.h"
#include "platform/menu.h"
#include "platform/module.h"
#include "platform/timers.h"
#include "plugin/host_blocks.h"
#include "plugin/lifecycle.h"
#include "plugin/plugin_state.h"
#include "plugin_fixture.h"
#include "settings/process_settings.h"
#include "ui/config_dialog.h"
#include "ui/modal.h"

namespace veltra {
namespace {

using testing::PluginTest;

std::vector<std::string> ItemTexts(platform::Menu menu) {
  std::vector<std::string> texts;
  for (int i = 0; i < platform::MenuItemCount(menu); ++i) {
    char text[128] = {};
    platform::MenuItemText(menu, i, text, sizeof text);
    texts.push_back(text);
  }
  return texts;
}

const std::vector<std::string> kPluginEntries{"VELTRA config...", "VELTRA status...", "VELTRA network setup..."};

// A menu bar of top-level drop-downs with the given texts, each holding one
// item "x"; installed as the host main window's bar.
std::vector<platform::Menu> InstallBar(hoststub::HostStandIn& host, const std::vector<std::string>& tops) {
  platform::Menu bar = platform::CreateMenuBar();
  std::vector<platform::Menu> dropDowns;
  for (const std::string& top : tops) {
    platform::Menu dropDown = platform::CreatePopupMenu();
    platform::AppendMenuString(dropDown, 900, "x");
    platform::AppendMenuPopup(bar, dropDown, top);
    dropDowns.push_back(dropDown);
  }
  platform::SetWindowMenu(host.MainWindow(), bar);
  return dropDowns;
}

struct MenuCase {
  const char* description;
  std::vector<std::string> tops;
  int receiver;  // index of the drop-down that gets the entries, -1 none
};

class MenuInsertion : public PluginTest, public ::testing::WithParamInterface<MenuCase> {};

TEST_P(MenuInsertion, OnlyTheFirstExactMatchGetsTheEntries) {
  const MenuCase& c = GetParam();
  const std::vector<platform::Menu> dropDowns = InstallBar(host, c.tops);
  StartPlugin();
  for (std::size_t i = 0; i < dropDowns.size(); ++i) {
    std::vector<std::string> expected{"x"};
    if (static_cast<int>(i) == c.receiver) expected.insert(expected.end(), kPluginEntries.begin(), kPluginEntries.end());
    EXPECT_EQ(ItemTexts(dropDowns[i]), expected) << c.description << ", drop-down " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MenuInsertion,
    ::testing::Values(MenuCase{"plain", {"File", "PlugIn Control", "Help"}, 1},
                      MenuCase{"second exact match", {"PlugIn Control", "PlugIn Control"}, 0},
                      MenuCase{"letter case and prefix do not match",
                               {"Plugin Control", "PlugIn Control Extra", "PlugIn", "PlugIn Control"}, 3},
                      MenuCase{"no match", {"File", "PLUGIN CONTROL", " PlugIn Control"}, -1}));

TEST_F(PluginTest, TheEntriesCarryTheReservedIdsAndReachTheirCommands) {
  std::vector<ui::ModalDialog> dialogs;
  ui::SetModalDialogRunner([&](ui::ModalDialog dialog) {
    dialogs.push_back(dialog);
    return ui::DialogResult::Cancel;
  });
  StartPlugin();
  const std::int32_t base = host.MenuBase();
  ASSERT_EQ(base, hoststub::kFirstMenuId);
  EXPECT_EQ(plugin::State().MenuBase, base);
  EXPECT_EQ(platform::MenuItemId(host.PluginMenu(), 1), static_cast<std::uint32_t>(base));
  EXPECT_EQ(platform::MenuItemId(host.PluginMenu(), 2), static_cast<std::uint32_t>(base + 1));
  EXPECT_EQ(platform::MenuItemId(host.PluginMenu(), 3), static_cast<std::uint32_t>(base + 2));

  host.ChooseMenuItem(static_cast<std::uint32_t>(base));
  host.ChooseMenuItem(static_cast<std::uint32_t>(base + 2));
  EXPECT_EQ(dialogs, (std::vector<ui::ModalDialog>{ui::ModalDialog::Configuration, ui::ModalDialog::NetworkSetup}));
  // Both cancelled: no forced e-stop.
  EXPECT_EQ(EngineBlock::EStop.Get(), 0);

  // The host's own general configuration now arrives as base + 3 and is
  // handed back to the host as command 27837.
  platform::MenuItemInfo item;
  ASSERT_TRUE(platform::FindMenuItemById(host.MenuBar(), static_cast<std::uint32_t>(base + 3), &item));
  EXPECT_EQ(item.text, "General Config...");
  EXPECT_FALSE(platform::FindMenuItemById(host.MenuBar(), plugin::kGeneralConfigCommand, &item));
  host.ChooseMenuItem(static_cast<std::uint32_t>(base + 3));
  EXPECT_EQ(host.GeneralConfigRuns(), 1);
  EXPECT_EQ(EngineBlock::EStop.Get(), 1);
  EXPECT_EQ(EngineBlock::EStopCause.Get(), 8);
  ui::SetModalDialogRunner(nullptr);
}

TEST_F(PluginTest, NetworkSetupConfirmedForcesEStopAndRechoosesTheAddress) {
  ui::SetModalDialogRunner([](ui::ModalDialog) {
    settings::Process().network.ETH_BYIP = 0;
    settings::Process().network.ETH_NAME = "VELTRA-0A1B2C";
    return ui::DialogResult::Ok;
  });
  StartPlugin();
  host.ChooseMenuItem(static_cast<std::uint32_t>(host.MenuBase() + 2));
  EXPECT_EQ(link::HostAddress(), "VELTRA-0A1B2C");
  EXPECT_EQ(EngineBlock::EStop.Get(), 1);
  EXPECT_EQ(EngineBlock::EStopCause.Get(), 8);
  ui::SetModalDialogRunner(nullptr);
}

TEST_F(PluginTest, GeneralConfigWithADifferentTextIsNotTakenOverButItsIdStillWorks) {
  platform::Menu bar = platform::CreateMenuBar();
  platform::Menu config = platform::CreatePopupMenu();
  platform::AppendMenuString(config, plugin::kGeneralConfigCommand, "General Config");
  platform::AppendMenuPopup(bar, config, "Config");
  platform::SetWindowMenu(host.MainWindow(), bar);
  StartPlugin();
  EXPECT_EQ(platform::MenuItemId(config, 0), plugin::kGeneralConfigCommand);
  // The command arrives anyway (from a host button, say): the host still
  // runs its own configuration, and the plugin forces e-stop.
  host.Plugin().Notify(host.MenuBase() + 3);
  EXPECT_EQ(host.GeneralConfigRuns(), 1);
  EXPECT_EQ(EngineBlock::EStop.Get(), 1);
}

TEST_F(PluginTest, OtherNotifyCodesAreNotMenuCommands) {
  StartPlugin();
  host.Plugin().Notify(host.MenuBase() + 4);
  host.Plugin().Notify(host.MenuBase() - 1);
  EXPECT_EQ(host.GeneralConfigRuns(), 0);
  EXPECT_EQ(EngineBlock::EStop.Get(), 0);
}

TEST(MaxPulseRate, IsTwentyNineteenthsTruncatedAndCappedUnsigned) {
  const struct {
    std::int32_t frequency;
    double rate;
  } cases[] = {{100000, 105263},       {200000, 210526},  {4749999, 4999998},  {4750000, 5000000},
               {5000000, 5000000},     {0, 0},            {-5, 5000000},       {2147483647, 5000000}};
  for (const auto& c : cases) EXPECT_EQ(plugin::MaxPulseRateFor(c.frequency), c.rate) << c.frequency;
}

TEST_F(PluginTest, PostInitWritesTheFixedValuesAndTheStepRateLimits) {
  // Both come from the profile, which SetProName loads before PostInitControl.
  WriteProfile(
      "<profile><veltra_mach_drv><HwFeedhold>1</HwFeedhold><MaxFreq0>100000</MaxFreq0><MaxFreq1>200000</MaxFreq1>"
      "<MaxFreq2>500000</MaxFreq2><MaxFreq3>1000000</MaxFreq3><MaxFreq4>2500000</MaxFreq4><MaxFreq5>5000000</MaxFreq5>"
      "<MaxFreq6>100000</MaxFreq6></veltra_mach_drv></profile>");
  for (int i = 0; i < 6; ++i) EngineBlock::PostInitCleared.Set(i, 7);
  // InitControl clears this flag; the host may have left anything in it.
  ViewBlock::InitClearedFlag.Set(1);
  StartPlugin();
  EXPECT_EQ(ViewBlock::InitClearedFlag.Get(), 0);
  const double expected[] = {105263, 210526, 526315, 1052631, 2631578, 5000000, 105263};
  for (int n = 0; n < 7; ++n) EXPECT_EQ(PlannerBlock::MaxPulseRate.Get(n), expected[n]) << n;
  EXPECT_EQ(PlannerBlock::PostInitWordOne.Get(), 1);
  EXPECT_EQ(PlannerBlock::PostInitRealMilli.Get(), 0.001);
  EXPECT_EQ(PlannerBlock::PostInitCount350.Get(), 350);
  EXPECT_EQ(PlannerBlock::PostInitByteZero.Get(), 0);
  EXPECT_EQ(PlannerBlock::PostInitByteOne.Get(), 1);
  EXPECT_EQ(PlannerBlock::PostInitPercent.Get(), 100.0);
  EXPECT_EQ(PlannerBlock::HardwareFeedhold.Get(), 1);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(EngineBlock::PostInitCleared.Get(i), 0);
  EXPECT_TRUE(plugin::State().PostInitDone);
  EXPECT_EQ(host.StatusLine(), "Ethernet controller plugin initialized.");
}

TEST(PluginVersion, IsTheFourVersionPartsAsTwoPairs) {
  EXPECT_EQ(plugin::FormatPluginVersion(platform::ProductVersion{0, 1, 1, 4}), "01.14");
  EXPECT_EQ(plugin::FormatPluginVersion(platform::ProductVersion{1, 2, 3, 4}), "12.34");
  EXPECT_EQ(plugin::FormatPluginVersion(std::nullopt), "");
}

TEST_F(PluginTest, PostInitTakesTheVersionFromTheModule) {
  platform::RegisterModuleVersion(platform::ProductVersion{0, 1, 1, 4});
  StartPlugin();
  EXPECT_EQ(plugin::State().PluginVersion, "01.14");
}

TEST_F(PluginTest, PostInitWithoutAVersionRecordLeavesTheVersionEmpty) {
  platform::RegisterModuleVersion(std::nullopt);
  StartPlugin();
  EXPECT_EQ(plugin::State().PluginVersion, "");
}

class ConfigCommand : public PluginTest {
 protected:
  void SetUp() override {
    StartPlugin();
    host.SetDroValue(177, 1.5);
    settings::Process().THCnomvoltage = 150.0;
  }
  void TearDown() override { ui::SetModalDialogRunner(nullptr); }
};

TEST_F(ConfigCommand, OkTakesThePageValuesBackAndForcesEStop) {
  ui::ThcOptionsPage& page = ui::TheConfigDialog().thcOptions;
  page.THCSWord = 1;
  int shownPierceDelay = -1;
  float shownVoltage = -1;
  ui::SetModalDialogRunner([&](ui::ModalDialog) {
    shownPierceDelay = page.pierceDelay;
    shownVoltage = page.nominalVoltage;
    page.pierceDelay = 250;
    page.nominalVoltage = 120.0f;
    return ui::DialogResult::Ok;
  });
  host.Plugin().Config();
  EXPECT_EQ(shownPierceDelay, 1500);
  EXPECT_EQ(shownVoltage, 150.0f);
  EXPECT_DOUBLE_EQ(host.Dro(177), 0.25);
  EXPECT_EQ(settings::Process().THCnomvoltage, 120.0);
  EXPECT_EQ(host.Dro(1501), 120.0);
  EXPECT_EQ(PlannerBlock::SpindleSpeed.Get(), 120.0);
  EXPECT_EQ(EngineBlock::EStop.Get(), 1);
  EXPECT_EQ(EngineBlock::EStopCause.Get(), 8);
  EXPECT_TRUE(boxes.Shown().empty());
}

TEST_F(ConfigCommand, CancelLeavesEverythingAsItWas) {
  ui::SetModalDialogRunner([](ui::ModalDialog) {
    ui::TheConfigDialog().thcOptions.pierceDelay = 250;
    ui::TheConfigDialog().thcOptions.nominalVoltage = 120.0f;
    return ui::DialogResult::Cancel;
  });
  host.Plugin().Config();
  EXPECT_EQ(host.Dro(177), 1.5);
  EXPECT_EQ(settings::Process().THCnomvoltage, 150.0);
  EXPECT_EQ(host.Dro(1501), 0.0);
  EXPECT_EQ(EngineBlock::EStop.Get(), 0);
}

TEST_F(ConfigCommand, WarnsAboutGrayLevelEngravingWithAnAOffset) {
  ui::SetModalDialogRunner([](ui::ModalDialog) { return ui::DialogResult::Ok; });
  ui::TheConfigDialog().general.LaserGL = 1;
  host.Plugin().Config();
  EXPECT_TRUE(boxes.Shown().empty());
  SetupBlock::AxisWorkOffset.Set(3, 2.0);
  host.Plugin().Config();
  EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"WARNING: gray level laser engraving option is selected but current "
                                                    "working offset for A axis is not zero."});
}

TEST_F(PluginTest, StopPlugDisarmsTheCycleTimerBeforeTheHostUnloadsUs) {
  platform::ManualClock clock;
  platform::SetClock(&clock);
  StartPlugin();
  int ticks = 0;
  plugin::State().cycleTimer = platform::StartThreadTimer(25, [&](platform::TimerId) { ++ticks; });
  plugin::State().TimerRunning = true;
  host.Plugin().StopPlug();
  EXPECT_FALSE(plugin::State().TimerRunning);
  clock.Advance(100);
  platform::DispatchWaitingMessages();
  EXPECT_EQ(ticks, 0);
  platform::SetClock(nullptr);
}

}  // namespace
}  // namespace veltra

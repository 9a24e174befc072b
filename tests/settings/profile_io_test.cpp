#include "settings/profile_io.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <functional>
#include <pugixml.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "link/host_address.h"
#include "plugin/host_blocks.h"
#include "plugin_fixture.h"
#include "settings/process_settings.h"
#include "settings/profile_store.h"
#include "ui/config_dialog.h"

namespace veltra {
namespace {

// A host profile as the host keeps it: its own sections around the plugin's.
constexpr const char* kFixtureProfile = R"(<?xml version="1.0" encoding="UTF-8"?>
<!-- written by the host -->
<profile>
	<Preferences>
		<Steps6>2000.</Steps6>
		<Vel6>12.5</Vel6>
		<Acc6>3</Acc6>
		<SPINRATIO3>2.5</SPINRATIO3>
		<SlaveHome>1</SlaveHome>
		<Title>Mill &amp; lathe</Title>
		<Empty></Empty>
	</Preferences>
	<Motor0 units="mm">
		<Steps>2000.</Steps>
		<Vel>100</Vel>
	</Motor0>
	<veltra_mach_drv>
		<LaserComp>1</LaserComp>
		<PWMFreq>20000</PWMFreq>
		<IndexCnt>4</IndexCnt>
		<DebounceByPin>1</DebounceByPin>
		<DebPin5_ena>1</DebPin5_ena>
		<DebPin5_time>250</DebPin5_time>
		<LCurveCnt>3</LCurveCnt>
		<LCurveX0>0.</LCurveX0>
		<LCurveY0>10.</LCurveY0>
		<LCurveX1>50.</LCurveX1>
		<LCurveY1>80.</LCurveY1>
		<LCurveX2>100.</LCurveX2>
		<LCurveY2>100.</LCurveY2>
		<LMaxFeed>2500.</LMaxFeed>
		<Encoder2Fun>4</Encoder2Fun>
		<Encoder2VarID>1234</Encoder2VarID>
		<Mpg3UPThresh>4000</Mpg3UPThresh>
		<ETH_IP>10.0.0.7</ETH_IP>
		<ETH_NAME>VELTRA-0A1B2C</ETH_NAME>
		<ETH_BYIP>1</ETH_BYIP>
		<MaxFreq3>100000</MaxFreq3>
		<StepW3>200</StepW3>
		<PulseMode6>2</PulseMode6>
		<THCtype>2</THCtype>
		<THCnomvoltage>123.5</THCnomvoltage>
		<THCSWord>1</THCSWord>
		<THCAnsel>2</THCAnsel>
		<THCIgnitionCnt>77</THCIgnitionCnt>
		<Enc0cpr>4096</Enc0cpr>
		<GraphFixymax>1</GraphFixymax>
		<GraphYmax>300</GraphYmax>
		<thcI>1.e-005</thcI>
		<thcD>0.25</thcD>
		<BackOffDist>1.5</BackOffDist>
		<EncFilt6>3</EncFilt6>
		<PendAxOem2>7</PendAxOem2>
		<PendStep1>0.250000</PendStep1>
		<PendButtEna0>1</PendButtEna0>
		<JoyYNeutral1>2400</JoyYNeutral1>
		<JoyEna>1</JoyEna>
	</veltra_mach_drv>
	<Trailer>
		<Kept>yes</Kept>
	</Trailer>
</profile>
)";

// The keys of the plugin's section, in the order the profile holds them.
std::vector<std::string> ExpectedPluginKeys() {
  std::vector<std::string> keys{"LaserSync",     "LaserComp",     "LaserGL",       "PWMFreq",     "IndexCnt",
                                "LaserSyncPort", "HomeRetract",   "LimitDebounce", "HomeDebounce", "ProbeDebounce",
                                "IndexDebounce", "EncDebounce",   "OtherDebounce", "DebounceByPin"};
  const auto add = [&keys](std::initializer_list<std::string> more) { keys.insert(keys.end(), more); };
  for (int k = 0; k < 32; ++k) add({"DebPin" + std::to_string(k) + "_ena", "DebPin" + std::to_string(k) + "_time"});
  add({"LCurveCnt", "LCurveX0", "LCurveY0", "LCurveX1", "LCurveY1", "LMaxFeed"});
  for (const char* source : {"AnalogIN1", "AnalogIN2", "AnalogIN3", "AnalogIN4", "Encoder1", "Encoder2", "Encoder3",
                             "Encoder4", "Mpg1", "Mpg2", "Mpg3"}) {
    for (const char* field : {"Fun", "Type", "VarID", "ZThresh", "UPThresh"}) add({std::string(source) + field});
  }
  add({"HwMPG", "MPGfeedlimit", "ETH_IP", "ETH_NAME", "ETH_BYIP"});
  for (int n = 0; n < 7; ++n) {
    add({"MaxFreq" + std::to_string(n), "StepW" + std::to_string(n), "PulseMode" + std::to_string(n)});
  }
  add({"THCtype",       "THCnomvoltage", "THChystvoltage", "THCtorchv",      "THCanalogv", "THCarcDetect",
       "THCdetVoltage", "THCdetTime",    "THCramp",        "THCSWord",       "THCAnsel",   "KerfDetect",
       "KerfTime",      "KerfVoltage",   "THCLP",          "THCLPFreq",      "THCLock",    "THCLockMax",
       "THCLockMin",    "THCLockCmd",    "THCIgnitionCnt", "THCCutTime",     "ManualTHC",  "ManualSpeed",
       "DerefOnDisc",   "HwFeedhold",    "Enc0cpr",        "RTSIndex",       "ThrBlend",   "WaitSpindle",
       "EncForSync",    "EncRPM",        "PWMBipMode",     "GraphFixymax",   "GraphFixymin", "GraphYmax",
       "GraphYmin",     "GraphTper",     "GraphOnlylast",  "GraphAscsec",    "thcP",       "thcI",
       "thcD",          "thcIsCustom",   "thcPidPreset",   "THCVSample",     "THCVSDelta", "THCDwell",
       "PWMEFreq",      "PWME1Ena",      "PWME2Ena",       "PWMEStop",       "BackOffDist"});
  for (int e = 0; e < 7; ++e) add({"EncFilt" + std::to_string(e)});
  add({"EnablePendant"});
  for (int row = 0; row < 6; ++row) {
    const std::string n = std::to_string(row);
    add({"PendAxEna" + n, "PendAxOem" + n, "PendAxFun" + n});
  }
  for (int row = 0; row < 4; ++row) {
    const std::string n = std::to_string(row);
    add({"PendStepEna" + n, "PendStepOem" + n, "PendStep" + n});
  }
  add({"PendLEDEna0", "PendLEDOem0", "PendButtEna0", "PendButtOem0"});
  const char* letters[] = {"X", "Y", "Z"};
  for (int j = 0; j < 3; ++j) {
    for (const char* field : {"Ena", "Analog", "Neutral", "Dead", "Width", "Speed", "Reverse"}) {
      add({std::string("Joy") + letters[j] + field + std::to_string(j)});
    }
  }
  add({"JoyEna"});
  return keys;
}

// Every setting back at the value it has when the plugin is loaded.
void ResetSettings() {
  ui::TheConfigDialog() = ui::ConfigDialog{};
  settings::Process() = settings::ProcessSettings{};
}

std::string Serialized(pugi::xml_node node) {
  std::ostringstream text;
  node.print(text, "", pugi::format_raw);
  return text.str();
}

class ProfileLoadAndSave : public testing::PluginTest {
 protected:
  ProfileLoadAndSave() { ResetSettings(); }
  ~ProfileLoadAndSave() override { settings::ProfilePath().clear(); }

  // The store's own path, for the procedures run without the host.
  void UseProfile(std::string_view contents) {
    WriteProfile(contents);
    settings::ProfilePath() = ProfilePath();
  }
  void LoadPluginSection(std::string_view keys) {
    UseProfile("<profile><veltra_mach_drv>" + std::string(keys) + "</veltra_mach_drv></profile>");
    settings::LoadSettings();
  }

  pugi::xml_document Written() const {
    pugi::xml_document document;
    EXPECT_TRUE(document.load_file(ProfilePath().c_str())) << ReadProfile();
    return document;
  }
  std::string WrittenValue(const char* key) const {
    return Written().child("profile").child("veltra_mach_drv").child_value(key);
  }
  std::vector<std::string> WrittenPluginKeys() const {
    std::vector<std::string> names;
    const pugi::xml_document written = Written();
    for (pugi::xml_node key : written.child("profile").child("veltra_mach_drv").children()) {
      names.push_back(key.name());
    }
    return names;
  }

  ui::ConfigDialog& dialog = ui::TheConfigDialog();
  settings::ProcessSettings& process = settings::Process();
};

TEST_F(ProfileLoadAndSave, AHostProfileLoadsIntoTheSettings) {
  WriteProfile(kFixtureProfile);
  StartPlugin();

  const ui::GeneralPage& general = dialog.general;
  EXPECT_EQ(general.LaserComp, 1);
  EXPECT_EQ(general.PWMFreq, 20000);
  EXPECT_EQ(general.IndexCnt, 4);
  EXPECT_EQ(general.HomeRetract, 10) << "absent: its default";
  EXPECT_EQ(dialog.inputFilter.DebounceByPin, 1);
  EXPECT_EQ(dialog.inputFilter.DebPin[5].enabled, 1);
  EXPECT_EQ(dialog.inputFilter.DebPin[5].time, 250);
  EXPECT_EQ(general.curve.LCurveCnt, 3);
  EXPECT_EQ(general.curve.feed[1], 50.0);
  EXPECT_EQ(general.curve.duty[0], 10.0);
  EXPECT_EQ(general.curve.duty[2], 100.0);
  EXPECT_EQ(general.curve.LMaxFeed, 2500.0);
  EXPECT_EQ(dialog.specialFunctions.sources[5].Fun, 4);
  EXPECT_EQ(dialog.specialFunctions.sources[5].VarID, 1234);
  EXPECT_EQ(dialog.specialFunctions.sources[10].UPThresh, 4000);
  EXPECT_EQ(dialog.specialFunctions.sources[10].ZThresh, 5);
  EXPECT_EQ(process.network.ETH_IP, 0x0A000007u);
  EXPECT_EQ(process.network.ETH_NAME, "VELTRA-0A1B2C");
  EXPECT_EQ(link::HostAddress(), "10.0.0.7");
  EXPECT_EQ(dialog.pulseEngine.MaxFreq[3], 100000);
  EXPECT_EQ(dialog.pulseEngine.MaxFreq[2], 5000000);
  EXPECT_EQ(dialog.pulseEngine.StepW[3], 200);
  EXPECT_EQ(dialog.pulseEngine.PulseMode[6], 2);
  EXPECT_EQ(dialog.thcOptions.THCtype, 2);
  EXPECT_EQ(process.THCnomvoltage, 123.5);
  EXPECT_EQ(dialog.thcOptions.nominalVoltage, 123.5f);
  EXPECT_EQ(PlannerBlock::SpindleSpeed.Get(), 123.5) << "THCSWord is on";
  EXPECT_EQ(host.Dro(1501), 0.0) << "the load does not write the DRO";
  EXPECT_EQ(dialog.thcOptions.THCAnsel, 2);
  EXPECT_EQ(process.LiveAnalogIndex, 2);
  EXPECT_EQ(process.consumables.THCIgnitionCnt, 77);
  EXPECT_EQ(dialog.syncedModes.Enc0cpr, 4096);
  EXPECT_EQ(process.graph.GraphFixymax, 1);
  EXPECT_EQ(process.graph.GraphYmax, 300.0f);
  EXPECT_EQ(dialog.thcOptions.thcI, 0.00001f);
  EXPECT_EQ(dialog.thcOptions.thcD, 0.25f);
  EXPECT_EQ(dialog.thcOptions.thcP, 0.1f);
  EXPECT_EQ(general.BackOffDist, 1.5f);
  EXPECT_EQ(dialog.inputFilter.EncFilt[6], 3);
  EXPECT_EQ(process.pendant.axisRows[2].oem, 7);
  EXPECT_EQ(process.pendant.axisRows[4].oem, 9) << "absent: keeps what it held";
  EXPECT_EQ(process.pendant.stepRows[1].step, 0.25);
  EXPECT_EQ(process.pendant.button.enabled, 1);
  EXPECT_EQ(process.joystick.axes[1].Neutral, 2400);
  EXPECT_EQ(process.joystick.JoyEna, 1);

  const settings::HostPreferences& preferences = process.preferences;
  EXPECT_EQ(preferences.Steps6, 2000.0);
  EXPECT_EQ(preferences.Vel6, 12.5);
  EXPECT_EQ(preferences.Acc6, 3.0);
  EXPECT_EQ(preferences.SPINRATIO[2], 2.5);
  EXPECT_EQ(preferences.SPINRATIO[0], 1.0);
  EXPECT_EQ(preferences.SlaveHome, 1);
  EXPECT_TRUE(boxes.Shown().empty());
}

TEST_F(ProfileLoadAndSave, LoadAndSaveLeaveTheHostsSectionsAsTheyWere) {
  WriteProfile(kFixtureProfile);
  pugi::xml_document original;
  ASSERT_TRUE(original.load_string(kFixtureProfile, pugi::parse_default | pugi::parse_comments));
  StartPlugin();
  host.StopPlugin();

  pugi::xml_document written;
  ASSERT_TRUE(written.load_file(ProfilePath().c_str(), pugi::parse_default | pugi::parse_comments)) << ReadProfile();
  EXPECT_EQ(Serialized(written.first_child()), "<!-- written by the host -->");
  std::vector<std::string> sections;
  for (pugi::xml_node section : written.child("profile").children()) sections.push_back(section.name());
  EXPECT_EQ(sections, (std::vector<std::string>{"Preferences", "Motor0", "veltra_mach_drv", "Trailer"}));
  for (const char* host : {"Preferences", "Motor0", "Trailer"}) {
    EXPECT_EQ(Serialized(written.child("profile").child(host)), Serialized(original.child("profile").child(host)))
        << host;
  }
  // The keys that were there keep their places, the others follow; each
  // key once.
  std::vector<std::string> keys = WrittenPluginKeys();
  std::vector<std::string> present;
  for (pugi::xml_node key : original.child("profile").child("veltra_mach_drv").children()) {
    present.push_back(key.name());
  }
  ASSERT_GE(keys.size(), present.size());
  EXPECT_EQ(std::vector<std::string>(keys.begin(), keys.begin() + present.size()), present);
  std::vector<std::string> expected = ExpectedPluginKeys();
  expected.insert(expected.end(), {"LCurveX2", "LCurveY2"});
  std::sort(keys.begin(), keys.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(keys, expected);
}

TEST_F(ProfileLoadAndSave, AFreshProfileGetsEveryPluginKeyInOrderAndNoHostKey) {
  StartPlugin();
  ASSERT_TRUE(std::filesystem::exists(ProfilePath())) << "the load writes the file back";
  EXPECT_TRUE(Written().child("profile").children().empty());
  host.StopPlugin();

  EXPECT_EQ(WrittenPluginKeys(), ExpectedPluginKeys());
  EXPECT_FALSE(Written().child("profile").child("Preferences"));
  EXPECT_EQ(WrittenValue("LaserSyncPort"), "1");
  EXPECT_EQ(WrittenValue("ETH_IP"), "192.168.1.222");
  EXPECT_EQ(WrittenValue("THCnomvoltage"), "150.");
  EXPECT_EQ(WrittenValue("thcI"), "9.9999997e-006");
  EXPECT_EQ(WrittenValue("PendStep3"), "0.001000");
  EXPECT_EQ(WrittenValue("GraphYmax"), "250");
}

TEST_F(ProfileLoadAndSave, WhatIsSavedLoadsBackToTheSameSettings) {
  WriteProfile(kFixtureProfile);
  StartPlugin();
  host.StopPlugin();
  const std::string saved = ReadProfile();

  ResetSettings();
  settings::LoadSettings();
  settings::SaveSettings();
  EXPECT_EQ(ReadProfile(), saved);
  EXPECT_EQ(process.THCnomvoltage, 123.5);
  EXPECT_EQ(dialog.general.curve.LCurveCnt, 3);
}

TEST_F(ProfileLoadAndSave, EveryValueFormIsWrittenAndReadBack) {
  settings::ProfilePath() = ProfilePath();
  double& real = dialog.general.curve.LMaxFeed;
  const struct {
    double value;
    const char* text;
    double loaded;
  } reals[] = {
      {150.0, "150.", 150.0},
      {0.5, "0.5", 0.5},
      {0.00001, "1.e-005", 0.00001},
      {0.0, "0.", 0.0},
      {1.0, "1.", 1.0},
      {-2.25, "-2.25", -2.25},
      {1.05, "1.05", 1.05},
      {0.1, "0.1", 0.1},
      {0.123456789, "0.12345679", 0.12345679},
      {12345678.0, "12345678.", 12345678.0},
      {123456789.0, "1.2345679e+008", 123456790.0},
      {0.05, "5.e-002", 0.05},
      {9.99999996, "10.", 10.0},
      {99999999.6, "1.e+008", 1e8},
      {1e300, "1.e+300", 1e300},
      {-1.5e-300, "-1.5e-300", -1.5e-300},
  };
  for (const auto& c : reals) {
    real = c.value;
    settings::SaveSettings();
    EXPECT_EQ(WrittenValue("LMaxFeed"), c.text) << c.value;
    real = 7.0;
    settings::LoadSettings();
    EXPECT_EQ(real, c.loaded) << c.text;
  }

  const struct {
    const char* key;
    std::function<void()> set;
    const char* text;
    std::function<void()> expectLoaded;
  } forms[] = {
      {"HomeRetract", [&] { dialog.general.HomeRetract = -42; }, "-42",
       [&] { EXPECT_EQ(dialog.general.HomeRetract, -42); }},
      {"thcP", [&] { dialog.thcOptions.thcP = 0.1f; }, "0.1", [&] { EXPECT_EQ(dialog.thcOptions.thcP, 0.1f); }},
      {"thcI", [&] { dialog.thcOptions.thcI = 0.00001f; }, "9.9999997e-006",
       [&] { EXPECT_EQ(dialog.thcOptions.thcI, 0.00001f); }},
      {"PendStep0", [&] { process.pendant.stepRows[0].step = 0.5; }, "0.500000",
       [&] { EXPECT_EQ(process.pendant.stepRows[0].step, 0.5); }},
      {"PendStep2", [&] { process.pendant.stepRows[2].step = 1234.5678906; }, "1234.567891",
       [&] { EXPECT_EQ(process.pendant.stepRows[2].step, 1234.567891); }},
      {"GraphYmax", [&] { process.graph.GraphYmax = 123.7f; }, "123",
       [&] { EXPECT_EQ(process.graph.GraphYmax, 123.0f); }},
      {"GraphYmin", [&] { process.graph.GraphYmin = -0.9f; }, "0", [&] { EXPECT_EQ(process.graph.GraphYmin, 0.0f); }},
      {"ETH_IP", [&] { process.network.ETH_IP = 0x0A000007; }, "10.0.0.7",
       [&] { EXPECT_EQ(process.network.ETH_IP, 0x0A000007u); }},
      {"ETH_NAME", [&] { process.network.ETH_NAME = "VELTRA-0A1B2C"; }, "VELTRA-0A1B2C",
       [&] { EXPECT_EQ(process.network.ETH_NAME, "VELTRA-0A1B2C"); }},
  };
  for (const auto& c : forms) {
    ResetSettings();
    c.set();
    settings::SaveSettings();
    EXPECT_EQ(WrittenValue(c.key), c.text) << c.key;
    ResetSettings();
    settings::LoadSettings();
    SCOPED_TRACE(c.key);
    c.expectLoaded();
  }
}

TEST_F(ProfileLoadAndSave, TheLoadRaisesPwmFrequencyAndIndexCountComparingUnsigned) {
  const struct {
    const char* keys;
    std::int32_t pwmFrequency;
    std::int32_t indexCount;
  } cases[] = {
      {"<PWMFreq>5</PWMFreq><IndexCnt>0</IndexCnt>", 10, 1},
      {"<PWMFreq>0</PWMFreq><IndexCnt>2</IndexCnt>", 10, 2},
      {"<PWMFreq>10</PWMFreq><IndexCnt>1</IndexCnt>", 10, 1},
      {"<PWMFreq>-5</PWMFreq><IndexCnt>-3</IndexCnt>", -5, -3},
  };
  for (const auto& c : cases) {
    LoadPluginSection(c.keys);
    EXPECT_EQ(dialog.general.PWMFreq, c.pwmFrequency) << c.keys;
    EXPECT_EQ(dialog.general.IndexCnt, c.indexCount) << c.keys;
  }
  // The save writes what is held, without corrections.
  dialog.general.PWMFreq = 5;
  settings::SaveSettings();
  EXPECT_EQ(WrittenValue("PWMFreq"), "5");
}

TEST_F(ProfileLoadAndSave, TheCurveTakesAtMostItsTwentyPointsAndOnlyANonZeroCount) {
  const struct {
    const char* description;
    std::string keys;
    std::int32_t count;
    std::vector<double> feeds;  // the first points afterwards
  } cases[] = {
      {"no count: the built-in curve", "<LMaxFeed>2000</LMaxFeed>", 2, {0, 100}},
      {"count 0: the built-in curve", "<LCurveCnt>0</LCurveCnt><LCurveX0>5</LCurveX0>", 2, {0, 100}},
      {"three points", "<LCurveCnt>3</LCurveCnt><LCurveX0>0</LCurveX0><LCurveX1>40</LCurveX1><LCurveX2>100</LCurveX2>",
       3, {0, 40, 100}},
      {"a missing point reads as 0", "<LCurveCnt>3</LCurveCnt><LCurveX0>0</LCurveX0><LCurveX1>40</LCurveX1>", 3,
       {0, 40, 0}},
      {"a negative count is no curve", "<LCurveCnt>-3</LCurveCnt><LCurveX0>5</LCurveX0>", 2, {0, 100}},
  };
  for (const auto& c : cases) {
    ResetSettings();
    LoadPluginSection(c.keys);
    const settings::RampCurve& curve = dialog.general.curve;
    EXPECT_EQ(curve.LCurveCnt, c.count) << c.description;
    for (std::size_t i = 0; i < c.feeds.size(); ++i) EXPECT_EQ(curve.feed[i], c.feeds[i]) << c.description << " " << i;
  }
  EXPECT_EQ(dialog.general.curve.LMaxFeed, 1000.0);
  LoadPluginSection("<LMaxFeed>2000</LMaxFeed>");
  EXPECT_EQ(dialog.general.curve.LMaxFeed, 2000.0) << "read with or without a count";

  // More points than the record holds: the first twenty are taken.
  std::string keys = "<LCurveCnt>25</LCurveCnt>";
  for (int i = 0; i < 25; ++i) {
    keys += "<LCurveX" + std::to_string(i) + ">" + std::to_string(i * 4) + "</LCurveX" + std::to_string(i) + ">";
  }
  ResetSettings();
  LoadPluginSection(keys);
  EXPECT_EQ(dialog.general.curve.LCurveCnt, 20);
  EXPECT_EQ(dialog.general.curve.feed[19], 76.0);
  EXPECT_EQ(dialog.general.curve.LMaxFeed, 1000.0);
  settings::SaveSettings();
  EXPECT_EQ(WrittenValue("LCurveCnt"), "20");
}

TEST_F(ProfileLoadAndSave, AnEmptyKeyGivesItsDefaultAndLeavesTheFile) {
  dialog.general.PWMFreq = 777;
  LoadPluginSection("<PWMFreq></PWMFreq><ETH_NAME/><HomeRetract>25</HomeRetract>");
  EXPECT_EQ(dialog.general.PWMFreq, 10000);
  EXPECT_EQ(process.network.ETH_NAME, "VELTRA-");
  EXPECT_EQ(WrittenPluginKeys(), std::vector<std::string>{"HomeRetract"});
}

TEST_F(ProfileLoadAndSave, IntegerTextsAreReadUpToTheirFirstNonDigit) {
  LoadPluginSection("<HomeRetract>25%</HomeRetract><THCtorchv>abc</THCtorchv><THCdetTime> -12ms</THCdetTime>");
  EXPECT_EQ(dialog.general.HomeRetract, 25);
  EXPECT_EQ(dialog.thcOptions.THCtorchv, 0) << "no digits: 0, not the default";
  EXPECT_EQ(dialog.thcOptions.THCdetTime, -12);
}

TEST_F(ProfileLoadAndSave, PendantAndJoystickKeysMissingFromTheProfileKeepWhatTheyHold) {
  LoadPluginSection("<PendAxOem0>12</PendAxOem0>");
  EXPECT_EQ(process.pendant.axisRows[0].oem, 12);
  EXPECT_EQ(process.pendant.axisRows[4].oem, 9);
  EXPECT_EQ(process.pendant.stepRows[3].step, 0.001);
  EXPECT_EQ(process.joystick.axes[2].Width, 4500);

  process.pendant.axisRows[4].oem = 13;
  process.pendant.led.oem = 17;
  process.joystick.axes[2].Speed = 50;
  process.joystick.JoyEna = 1;
  // The step's own default is its text with six decimals.
  process.pendant.stepRows[3].step = 0.0000004;
  dialog.general.HomeRetract = 55;
  settings::LoadSettings();
  EXPECT_EQ(process.pendant.axisRows[4].oem, 13);
  EXPECT_EQ(process.pendant.led.oem, 17);
  EXPECT_EQ(process.joystick.axes[2].Speed, 50);
  EXPECT_EQ(process.joystick.JoyEna, 1);
  EXPECT_EQ(process.pendant.stepRows[3].step, 0.0);
  EXPECT_EQ(dialog.general.HomeRetract, 10) << "other keys take their own default";
}

TEST_F(ProfileLoadAndSave, TheNetworkSettingsChooseTheControllersAddress) {
  const struct {
    const char* keys;
    std::uint32_t address;
    const char* name;
    const char* hostAddress;
  } cases[] = {
      {"<ETH_IP>10.0.0.7</ETH_IP><ETH_BYIP>1</ETH_BYIP>", 0x0A000007, "VELTRA-", "10.0.0.7"},
      {"<ETH_IP>10.0.0.7</ETH_IP><ETH_NAME>VELTRA-0A1B2C</ETH_NAME><ETH_BYIP>0</ETH_BYIP>", 0x0A000007,
       "VELTRA-0A1B2C", "VELTRA-0A1B2C"},
      {"<ETH_IP>controller</ETH_IP>", 0xFFFFFFFF, "VELTRA-", "255.255.255.255"},
      {"<ETH_IP>10.0.0.256</ETH_IP>", 0xFFFFFFFF, "VELTRA-", "255.255.255.255"},
      {"<ETH_IP>10.0.0</ETH_IP>", 0xFFFFFFFF, "VELTRA-", "255.255.255.255"},
      {"<ETH_NAME>VELTRA-0123456789ABCDEF</ETH_NAME><ETH_BYIP>0</ETH_BYIP>", 0xC0A801DE, "VELTRA-01234567",
       "VELTRA-01234567"},
      {"", 0xC0A801DE, "VELTRA-", "192.168.1.222"},
  };
  for (const auto& c : cases) {
    LoadPluginSection(c.keys);
    EXPECT_EQ(process.network.ETH_IP, c.address) << c.keys;
    EXPECT_EQ(process.network.ETH_NAME, c.name) << c.keys;
    EXPECT_EQ(link::HostAddress(), c.hostAddress) << c.keys;
  }
}

TEST_F(ProfileLoadAndSave, TheSaveTakesTheRunningVoltageAndTheAnalogSetting) {
  LoadPluginSection("<THCnomvoltage>140</THCnomvoltage><THCAnsel>3</THCAnsel><THCSWord>0</THCSWord>");
  EXPECT_EQ(dialog.thcOptions.nominalVoltage, 140.0f);
  EXPECT_EQ(process.LiveAnalogIndex, 3);
  EXPECT_EQ(PlannerBlock::SpindleSpeed.Get(), 0.0) << "THCSWord is off";

  process.THCnomvoltage = 160.25;
  dialog.thcOptions.nominalVoltage = 99.0f;
  process.LiveAnalogIndex = 1;
  dialog.thcOptions.THCAnsel = 2;
  settings::SaveSettings();
  EXPECT_EQ(WrittenValue("THCnomvoltage"), "160.25");
  EXPECT_EQ(WrittenValue("THCAnsel"), "2");
}

TEST_F(ProfileLoadAndSave, AProfileThatCannotBeParsedIsLeftExactlyAsItWas) {
  const std::string malformed = std::string(kFixtureProfile).substr(0, 400);
  WriteProfile(malformed);
  StartPlugin();
  EXPECT_EQ(dialog.general.PWMFreq, 10000) << "the settings keep their defaults";
  EXPECT_EQ(process.preferences.Steps6, 1000.0);
  EXPECT_EQ(ReadProfile(), malformed);
  dialog.general.PWMFreq = 30000;
  host.StopPlugin();
  EXPECT_EQ(ReadProfile(), malformed);
  EXPECT_FALSE(std::filesystem::exists(settings::TemporaryProfilePath(ProfilePath())));
  EXPECT_TRUE(boxes.Shown().empty());
}

TEST_F(ProfileLoadAndSave, AWriteThatFailsPartWayLeavesTheProfileIntact) {
  WriteProfile(kFixtureProfile);
  StartPlugin();
  const std::string loaded = ReadProfile();
  dialog.general.PWMFreq = 30000;

  // A full disk, as far as this process can tell: writes beyond 1 KiB fail.
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit original{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &original), 0);
  rlimit small = original;
  small.rlim_cur = 1024;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  host.StopPlugin();
  setrlimit(RLIMIT_FSIZE, &original);

  EXPECT_EQ(ReadProfile(), loaded);
  EXPECT_FALSE(std::filesystem::exists(settings::TemporaryProfilePath(ProfilePath())));
}

}  // namespace
}  // namespace veltra

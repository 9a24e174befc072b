#include "settings/profile_io.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <utility>

#include "link/host_address.h"
#include "plugin/host_blocks.h"
#include "plugin/numeric.h"
#include "settings/process_settings.h"
#include "settings/profile_store.h"
#include "ui/config_dialog.h"

namespace veltra::settings {
namespace {

constexpr int kSignificantDigits = 8;
constexpr std::int32_t kMinPwmFrequency = 10;
constexpr std::uint32_t kNotAnAddress = 0xFFFFFFFF;

// The value a setting has before the profile is read is also its load
// default (apart from the keys that are read with their current value).
template <typename Holder>
const Holder& DefaultOf(const Holder&) {
  static const Holder defaults{};
  return defaults;
}

// The holders' fields are named by their profile keys: the key, the field
// and its default in one go.
#define VELTRA_SETTING(holder, key) #key, holder.key, DefaultOf(holder).key

std::string Key(std::string_view stem, int number) { return std::string(stem) + std::to_string(number); }

std::string Key(std::string_view stem, std::string_view suffix) { return std::string(stem) + std::string(suffix); }

void DropTrailingZeros(std::string& digits) {
  const std::size_t point = digits.find('.');
  const std::size_t last = digits.find_last_not_of('0');
  if (point != std::string::npos && last != std::string::npos && last >= point) digits.erase(last + 1);
}

template <typename... Format>
std::string ToChars(double value, Format... format) {
  // Wide enough for the fixed form of the largest double.
  std::array<char, 400> buffer;
  const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value, format...);
  return std::string(buffer.data(), result.ptr);
}

class LoadPass {
 public:
  static constexpr bool kLoading = true;

  explicit LoadPass(ProfileDocument& profile) : profile_(profile) {}

  void Int(std::string_view key, std::int32_t& value, std::int32_t fallback) {
    value = profile_.ReadInt(kPluginSection, key, fallback);
  }
  void Real(std::string_view key, double& value, double fallback) { value = ReadReal(kPluginSection, key, fallback); }
  void Real(std::string_view key, float& value, float fallback) {
    value = NarrowToFloat(ReadReal(kPluginSection, key, fallback));
  }
  void HostInt(std::string_view key, std::int32_t& value, std::int32_t fallback) {
    value = profile_.ReadInt(kHostSection, key, fallback);
  }
  void HostReal(std::string_view key, double& value, double fallback) {
    value = ReadReal(kHostSection, key, fallback);
  }
  void Text(std::string_view key, std::string& value, const std::string& fallback, std::size_t maxLength) {
    value = profile_.ReadString(kPluginSection, key, fallback).substr(0, maxLength);
  }
  // Dotted text; a text that is no address reads as the all-ones address.
  void Address(std::string_view key, std::uint32_t& value, std::uint32_t fallback) {
    const std::string text = profile_.ReadString(kPluginSection, key, link::DottedAddress(fallback));
    value = link::ParseDottedAddress(text).value_or(kNotAnAddress);
  }
  // Stored as a whole number.
  void GraphLimit(std::string_view key, float& value, float fallback) {
    value = static_cast<float>(profile_.ReadInt(kPluginSection, key, TruncateSaturating<std::int32_t>(fallback)));
  }
  // Its default is the current value in the pendant's own text form.
  void PendantStep(std::string_view key, double& value) {
    value = ParseProfileReal(profile_.ReadString(kPluginSection, key, FormatPendantStep(value)));
  }
  // A count of 0 (or none) keeps the curve as it is; the record holds at
  // most kRampCurveMaxPoints points, and a count below 0 cannot describe a
  // curve, so it is ignored as well.
  void Curve(RampCurve& curve) {
    const std::int32_t count = profile_.ReadInt(kPluginSection, "LCurveCnt", 0);
    if (count > 0) {
      curve.LCurveCnt = std::min(count, kRampCurveMaxPoints);
      for (int i = 0; i < curve.LCurveCnt; ++i) {
        curve.feed[i] = ReadReal(kPluginSection, Key("LCurveX", i), 0.0);
        curve.duty[i] = ReadReal(kPluginSection, Key("LCurveY", i), 0.0);
      }
    }
    Real(VELTRA_SETTING(curve, LMaxFeed));
  }

 private:
  double ReadReal(std::string_view section, std::string_view key, double fallback) {
    return ParseProfileReal(profile_.ReadString(section, key, FormatProfileReal(fallback)));
  }

  ProfileDocument& profile_;
};

class SavePass {
 public:
  static constexpr bool kLoading = false;

  explicit SavePass(ProfileDocument& profile) : profile_(profile) {}

  void Int(std::string_view key, std::int32_t value, std::int32_t) { profile_.WriteInt(kPluginSection, key, value); }
  void Real(std::string_view key, double value, double) { WriteText(key, FormatProfileReal(value)); }
  void Text(std::string_view key, const std::string& value, const std::string&, std::size_t) { WriteText(key, value); }
  void Address(std::string_view key, std::uint32_t value, std::uint32_t) { WriteText(key, link::DottedAddress(value)); }
  void GraphLimit(std::string_view key, float value, float) {
    profile_.WriteInt(kPluginSection, key, TruncateSaturating<std::int32_t>(value));
  }
  void PendantStep(std::string_view key, double value) { WriteText(key, FormatPendantStep(value)); }
  void Curve(const RampCurve& curve) {
    profile_.WriteInt(kPluginSection, "LCurveCnt", curve.LCurveCnt);
    for (int i = 0; i < std::min(curve.LCurveCnt, kRampCurveMaxPoints); ++i) {
      WriteText(Key("LCurveX", i), FormatProfileReal(curve.feed[i]));
      WriteText(Key("LCurveY", i), FormatProfileReal(curve.duty[i]));
    }
    Real(VELTRA_SETTING(curve, LMaxFeed));
  }

 private:
  void WriteText(std::string_view key, std::string_view text) { profile_.WriteString(kPluginSection, key, text); }

  ProfileDocument& profile_;
};

template <typename Record>
using IntField = std::pair<std::string_view, std::int32_t Record::*>;

constexpr IntField<ui::SpecialFunctionRecord> kSpecialFunctionFields[] = {
    {"Fun", &ui::SpecialFunctionRecord::Fun},
    {"Type", &ui::SpecialFunctionRecord::Type},
    {"VarID", &ui::SpecialFunctionRecord::VarID},
    {"ZThresh", &ui::SpecialFunctionRecord::ZThresh},
    {"UPThresh", &ui::SpecialFunctionRecord::UPThresh}};
constexpr IntField<PendantAxisRow> kPendantAxisFields[] = {
    {"PendAxEna", &PendantAxisRow::enabled}, {"PendAxOem", &PendantAxisRow::oem}, {"PendAxFun", &PendantAxisRow::function}};
constexpr IntField<PendantStepRow> kPendantStepFields[] = {{"PendStepEna", &PendantStepRow::enabled},
                                                           {"PendStepOem", &PendantStepRow::oem}};
constexpr IntField<PendantSignalRow> kPendantSignalFields[] = {{"Ena", &PendantSignalRow::enabled},
                                                               {"Oem", &PendantSignalRow::oem}};
constexpr IntField<JoystickAxis> kJoystickFields[] = {
    {"Ena", &JoystickAxis::Ena},     {"Analog", &JoystickAxis::Analog}, {"Neutral", &JoystickAxis::Neutral},
    {"Dead", &JoystickAxis::Dead},   {"Width", &JoystickAxis::Width},   {"Speed", &JoystickAxis::Speed},
    {"Reverse", &JoystickAxis::Reverse}};

// Every persisted setting, in the profile's order; the load and the save are
// the two passes over it, so they always agree on keys and order. The steps
// that only the load has are marked by kLoading.
template <typename Pass>
void WalkSettings(Pass& pass) {
  ui::ConfigDialog& dialog = ui::TheConfigDialog();
  ui::GeneralPage& general = dialog.general;
  ui::InputFilterPage& inputFilter = dialog.inputFilter;
  ui::PulseEnginePage& pulseEngine = dialog.pulseEngine;
  ui::SpecialFunctionsPage& specialFunctions = dialog.specialFunctions;
  ui::ThcOptionsPage& thc = dialog.thcOptions;
  ui::SyncedModesPage& synced = dialog.syncedModes;
  ProcessSettings& process = Process();
  NetworkSettings& network = process.network;
  GraphSettings& graph = process.graph;
  PendantSettings& pendant = process.pendant;
  JoystickSettings& joystick = process.joystick;
  ConsumableCounters& consumables = process.consumables;
  HostPreferences& preferences = process.preferences;

  pass.Int(VELTRA_SETTING(general, LaserSync));
  pass.Int(VELTRA_SETTING(general, LaserComp));
  pass.Int(VELTRA_SETTING(general, LaserGL));
  pass.Int(VELTRA_SETTING(general, PWMFreq));
  pass.Int(VELTRA_SETTING(general, IndexCnt));
  pass.Int(VELTRA_SETTING(general, LaserSyncPort));
  pass.Int(VELTRA_SETTING(general, HomeRetract));
  pass.Int(VELTRA_SETTING(inputFilter, LimitDebounce));
  pass.Int(VELTRA_SETTING(inputFilter, HomeDebounce));
  pass.Int(VELTRA_SETTING(inputFilter, ProbeDebounce));
  pass.Int(VELTRA_SETTING(inputFilter, IndexDebounce));
  pass.Int(VELTRA_SETTING(inputFilter, EncDebounce));
  pass.Int(VELTRA_SETTING(inputFilter, OtherDebounce));
  pass.Int(VELTRA_SETTING(inputFilter, DebounceByPin));

  if constexpr (Pass::kLoading) {
    if (general.IndexCnt == 0) general.IndexCnt = 1;
    // Compared unsigned, as the upload does: a negative frequency counts as
    // large and stays.
    if (static_cast<std::uint32_t>(general.PWMFreq) < static_cast<std::uint32_t>(kMinPwmFrequency)) {
      general.PWMFreq = kMinPwmFrequency;
    }

    pass.HostReal(VELTRA_SETTING(preferences, Steps6));
    pass.HostReal(VELTRA_SETTING(preferences, Vel6));
    pass.HostReal(VELTRA_SETTING(preferences, Acc6));
    for (int n = 0; n < kPulleyCount; ++n) {
      pass.HostReal(Key("SPINRATIO", n + 1), preferences.SPINRATIO[n], DefaultOf(preferences).SPINRATIO[n]);
    }
  }

  for (int k = 0; k < ui::kControllerInputPins; ++k) {
    ui::PinFilterRecord& pin = inputFilter.DebPin[k];
    const ui::PinFilterRecord& pinDefault = DefaultOf(inputFilter).DebPin[k];
    pass.Int(Key(Key("DebPin", k), "_ena"), pin.enabled, pinDefault.enabled);
    pass.Int(Key(Key("DebPin", k), "_time"), pin.time, pinDefault.time);
  }

  pass.Curve(general.curve);

  for (int i = 0; i < ui::kSpecialFunctionSources; ++i) {
    ui::SpecialFunctionRecord& source = specialFunctions.sources[i];
    for (const auto& [field, member] : kSpecialFunctionFields) {
      pass.Int(Key(ui::kSpecialFunctionSourceNames[i], field), source.*member, DefaultOf(source).*member);
    }
  }

  pass.Int(VELTRA_SETTING(general, HwMPG));
  pass.Int(VELTRA_SETTING(general, MPGfeedlimit));

  pass.Address(VELTRA_SETTING(network, ETH_IP));
  pass.Text(VELTRA_SETTING(network, ETH_NAME), kEthNameMaxLength);
  pass.Int(VELTRA_SETTING(network, ETH_BYIP));
  if constexpr (Pass::kLoading) link::ChooseHostAddress();

  for (int n = 0; n < ui::kStepOutputCount; ++n) {
    pass.Int(Key("MaxFreq", n), pulseEngine.MaxFreq[n], DefaultOf(pulseEngine).MaxFreq[n]);
    pass.Int(Key("StepW", n), pulseEngine.StepW[n], DefaultOf(pulseEngine).StepW[n]);
    pass.Int(Key("PulseMode", n), pulseEngine.PulseMode[n], DefaultOf(pulseEngine).PulseMode[n]);
  }

  pass.Int(VELTRA_SETTING(thc, THCtype));
  // The running value is what is saved; the page edits a copy of it.
  pass.Real(VELTRA_SETTING(process, THCnomvoltage));
  if constexpr (Pass::kLoading) thc.nominalVoltage = NarrowToFloat(process.THCnomvoltage);
  pass.Real(VELTRA_SETTING(thc, THChystvoltage));
  pass.Int(VELTRA_SETTING(thc, THCtorchv));
  pass.Int(VELTRA_SETTING(thc, THCanalogv));
  pass.Int(VELTRA_SETTING(thc, THCarcDetect));
  pass.Int(VELTRA_SETTING(thc, THCdetVoltage));
  pass.Int(VELTRA_SETTING(thc, THCdetTime));
  pass.Int(VELTRA_SETTING(thc, THCramp));
  pass.Int(VELTRA_SETTING(thc, THCSWord));
  pass.Int(VELTRA_SETTING(thc, THCAnsel));
  if constexpr (Pass::kLoading) process.LiveAnalogIndex = thc.THCAnsel;
  pass.Int(VELTRA_SETTING(thc, KerfDetect));
  pass.Int(VELTRA_SETTING(thc, KerfTime));
  pass.Int(VELTRA_SETTING(thc, KerfVoltage));
  pass.Int(VELTRA_SETTING(thc, THCLP));
  pass.Int(VELTRA_SETTING(thc, THCLPFreq));
  pass.Int(VELTRA_SETTING(thc, THCLock));
  pass.Int(VELTRA_SETTING(thc, THCLockMax));
  pass.Int(VELTRA_SETTING(thc, THCLockMin));
  pass.Int(VELTRA_SETTING(thc, THCLockCmd));
  pass.Int(VELTRA_SETTING(consumables, THCIgnitionCnt));
  pass.Int(VELTRA_SETTING(consumables, THCCutTime));
  pass.Int(VELTRA_SETTING(thc, ManualTHC));
  pass.Int(VELTRA_SETTING(thc, ManualSpeed));

  pass.Int(VELTRA_SETTING(general, DerefOnDisc));
  pass.Int(VELTRA_SETTING(general, HwFeedhold));
  pass.Int(VELTRA_SETTING(synced, Enc0cpr));
  pass.Int(VELTRA_SETTING(synced, RTSIndex));
  pass.Int(VELTRA_SETTING(synced, ThrBlend));
  pass.Int(VELTRA_SETTING(synced, WaitSpindle));
  pass.Int(VELTRA_SETTING(synced, EncForSync));
  pass.Int(VELTRA_SETTING(synced, EncRPM));
  pass.Int(VELTRA_SETTING(general, PWMBipMode));

  // Unlike setting the voltage while running, the load leaves DRO 1501 alone.
  if constexpr (Pass::kLoading) {
    if (thc.THCSWord) PlannerBlock::SpindleSpeed.Set(process.THCnomvoltage);
  }

  pass.Int(VELTRA_SETTING(graph, GraphFixymax));
  pass.Int(VELTRA_SETTING(graph, GraphFixymin));
  pass.GraphLimit(VELTRA_SETTING(graph, GraphYmax));
  pass.GraphLimit(VELTRA_SETTING(graph, GraphYmin));
  pass.Int(VELTRA_SETTING(graph, GraphTper));
  pass.Int(VELTRA_SETTING(graph, GraphOnlylast));
  pass.Int(VELTRA_SETTING(graph, GraphAscsec));

  pass.Real(VELTRA_SETTING(thc, thcP));
  pass.Real(VELTRA_SETTING(thc, thcI));
  pass.Real(VELTRA_SETTING(thc, thcD));
  pass.Int(VELTRA_SETTING(thc, thcIsCustom));
  pass.Int(VELTRA_SETTING(thc, thcPidPreset));
  pass.Int(VELTRA_SETTING(thc, THCVSample));
  pass.Real(VELTRA_SETTING(thc, THCVSDelta));
  pass.Int(VELTRA_SETTING(thc, THCDwell));

  pass.Int(VELTRA_SETTING(specialFunctions, PWMEFreq));
  pass.Int(VELTRA_SETTING(specialFunctions, PWME1Ena));
  pass.Int(VELTRA_SETTING(specialFunctions, PWME2Ena));
  pass.Int(VELTRA_SETTING(specialFunctions, PWMEStop));
  pass.Real(VELTRA_SETTING(general, BackOffDist));

  for (int e = 0; e < ui::kEncoderCount; ++e) {
    pass.Int(Key("EncFilt", e), inputFilter.EncFilt[e], DefaultOf(inputFilter).EncFilt[e]);
  }

  if constexpr (Pass::kLoading) pass.HostInt(VELTRA_SETTING(preferences, SlaveHome));

  // The pendant and the joystick keep what they hold where the profile has
  // nothing for them.
  pass.Int("EnablePendant", pendant.EnablePendant, pendant.EnablePendant);
  for (PendantAxisRow& row : pendant.axisRows) {
    for (const auto& [stem, member] : kPendantAxisFields) pass.Int(Key(stem, row.row), row.*member, row.*member);
  }
  for (PendantStepRow& row : pendant.stepRows) {
    for (const auto& [stem, member] : kPendantStepFields) pass.Int(Key(stem, row.row), row.*member, row.*member);
    pass.PendantStep(Key("PendStep", row.row), row.step);
  }
  for (const auto& [stem, row] : {std::pair<std::string_view, PendantSignalRow*>{"PendLED", &pendant.led},
                                  std::pair<std::string_view, PendantSignalRow*>{"PendButt", &pendant.button}}) {
    for (const auto& [field, member] : kPendantSignalFields) {
      pass.Int(Key(Key(stem, field), row->row), row->*member, row->*member);
    }
  }

  for (int j = 0; j < static_cast<int>(joystick.axes.size()); ++j) {
    JoystickAxis& axis = joystick.axes[j];
    const std::string stem = Key("Joy", std::string_view(&axis.letter, 1));
    for (const auto& [field, member] : kJoystickFields) pass.Int(Key(Key(stem, field), j), axis.*member, axis.*member);
  }
  pass.Int("JoyEna", joystick.JoyEna, joystick.JoyEna);
}

#undef VELTRA_SETTING

}  // namespace

std::string FormatProfileReal(double value) {
  if (!std::isfinite(value)) return ToChars(value);
  if (value == 0.0) return "0.";
  // The rounding to eight significant digits decides where the point falls
  // (9.99999996 becomes 10.).
  const std::string scientific = ToChars(value, std::chars_format::scientific, kSignificantDigits - 1);
  const std::size_t e = scientific.find('e');
  int exponent = 0;
  const char* digits = scientific.data() + e + 1;
  if (*digits == '+') ++digits;
  std::from_chars(digits, scientific.data() + scientific.size(), exponent);
  const int pointPosition = exponent + 1;
  if (pointPosition >= 0 && pointPosition <= kSignificantDigits) {
    std::string fixed = ToChars(value, std::chars_format::fixed, kSignificantDigits - pointPosition);
    if (fixed.find('.') == std::string::npos) fixed += '.';
    DropTrailingZeros(fixed);
    return fixed;
  }
  std::string mantissa = scientific.substr(0, e);
  DropTrailingZeros(mantissa);
  std::string exponentDigits = std::to_string(exponent < 0 ? -exponent : exponent);
  if (exponentDigits.size() < 3) exponentDigits.insert(0, 3 - exponentDigits.size(), '0');
  return mantissa + (exponent < 0 ? "e-" : "e+") + exponentDigits;
}

std::string FormatPendantStep(double value) { return ToChars(value, std::chars_format::fixed, 6); }

double ParseProfileReal(std::string_view text) { return std::strtod(std::string(text).c_str(), nullptr); }

bool LoadSettings() {
  ProfileDocument profile = ProfileDocument::Open();
  CurrentProfile = &profile;
  LoadPass pass(*CurrentProfile);
  WalkSettings(pass);
  CurrentProfile = nullptr;
  const bool read = profile.LoadResult() == platform::XmlLoadResult::Loaded;
  profile.Close();
  return read;
}

bool SaveSettings() {
  ProfileDocument profile = ProfileDocument::Open();
  CurrentProfile = &profile;
  SavePass pass(*CurrentProfile);
  WalkSettings(pass);
  CurrentProfile = nullptr;
  return profile.Close();
}

}  // namespace veltra::settings

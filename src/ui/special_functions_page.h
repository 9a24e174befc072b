// Special functions page: what each analog input and counter drives, and the
// extended PWM outputs. The pendant and joystick rows it also edits are
// process-wide values (settings/process_settings.h).
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace veltra::ui {

inline constexpr int kSpecialFunctionSources = 11;

// The source names, in table order; they also form the profile keys.
inline constexpr std::array<std::string_view, kSpecialFunctionSources> kSpecialFunctionSourceNames{
    "AnalogIN1", "AnalogIN2", "AnalogIN3", "AnalogIN4", "Encoder1", "Encoder2",
    "Encoder3",  "Encoder4",  "Mpg1",      "Mpg2",      "Mpg3"};

struct SpecialFunctionRecord {
  std::int32_t Fun = 0;
  std::int32_t Type = 0;
  std::int32_t VarID = 1000;
  std::int32_t ZThresh = 5;     // mV
  std::int32_t UPThresh = 5000;  // mV
  std::string_view name;
};

struct SpecialFunctionsPage {
  std::array<SpecialFunctionRecord, kSpecialFunctionSources> sources = [] {
    std::array<SpecialFunctionRecord, kSpecialFunctionSources> records{};
    for (int i = 0; i < kSpecialFunctionSources; ++i) records[i].name = kSpecialFunctionSourceNames[i];
    return records;
  }();
  std::int32_t PWMEFreq = 10000;  // Hz
  std::int32_t PWME1Ena = 0;
  std::int32_t PWME2Ena = 0;
  std::int32_t PWMEStop = 1;
};

}  // namespace veltra::ui

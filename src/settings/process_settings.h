// Settings that live beside the configuration dialog rather than in one of
// its pages: the network target, the graph scaling, the pendant, the
// joystick, the consumable counters, the running THC values and the host's
// own preferences that the plugin reads.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace veltra::settings {

struct NetworkSettings {
  std::uint32_t ETH_IP = 0xC0A801DE;  // 192.168.1.222, first octet most significant
  std::string ETH_NAME = "VELTRA-";   // at most kEthNameMaxLength characters
  std::int32_t ETH_BYIP = 1;
};
inline constexpr std::size_t kEthNameMaxLength = 15;

struct GraphSettings {
  std::int32_t GraphFixymax = 0;
  float GraphYmax = 250.0f;
  std::int32_t GraphFixymin = 0;
  float GraphYmin = 0.0f;
  std::int32_t GraphTper = 60;
  std::int32_t GraphOnlylast = 0;
  std::int32_t GraphAscsec = 5;
};

struct PendantAxisRow {
  std::int32_t row;
  std::int32_t enabled;   // PendAxEna<row>
  std::int32_t oem;       // PendAxOem<row>, OEM input 1..15
  std::int32_t function;  // PendAxFun<row>
};

struct PendantStepRow {
  std::int32_t row;
  std::int32_t enabled;  // PendStepEna<row>
  std::int32_t oem;      // PendStepOem<row>
  double step;           // PendStep<row>, machine units
};

struct PendantSignalRow {
  std::int32_t row;
  std::int32_t enabled;
  std::int32_t oem;
};

struct PendantSettings {
  std::int32_t EnablePendant = 0;
  std::array<PendantAxisRow, 6> axisRows{{
      {0, 1, 1, 0}, {1, 1, 2, 0}, {2, 1, 3, 0}, {3, 1, 4, 0}, {4, 0, 9, 0}, {5, 0, 10, 0}}};
  std::array<PendantStepRow, 4> stepRows{{{0, 1, 5, 1.0}, {1, 1, 6, 0.1}, {2, 1, 7, 0.01}, {3, 0, 11, 0.001}}};
  PendantSignalRow led{0, 0, 6};     // PendLEDEna0, PendLEDOem0: OEM output 1..20
  PendantSignalRow button{0, 0, 8};  // PendButtEna0, PendButtOem0: OEM input
};

struct JoystickAxis {
  char letter;
  std::int32_t Ena = 0;
  std::int32_t Analog = 0;
  std::int32_t Neutral = 2500;  // mV
  std::int32_t Dead = 100;      // mV
  std::int32_t Width = 4500;    // mV
  std::int32_t Speed = 100;     // percent
  std::int32_t Reverse = 0;
};

struct JoystickSettings {
  std::int32_t JoyEna = 0;
  std::array<JoystickAxis, 3> axes{{{'X'}, {'Y'}, {'Z'}}};
};

struct ConsumableCounters {
  std::int32_t THCIgnitionCnt = 0;
  std::int32_t THCCutTime = 0;  // ms
};

inline constexpr int kPulleyCount = 25;

// Read from the host's "Preferences" section, never written by the plugin.
struct HostPreferences {
  double Steps6 = 1000.0;
  double Vel6 = 1.0;
  double Acc6 = 1.0;
  std::array<double, kPulleyCount> SPINRATIO = [] {
    std::array<double, kPulleyCount> ratios{};
    ratios.fill(1.0);
    return ratios;
  }();
  std::int32_t SlaveHome = 0;
};

struct ProcessSettings {
  NetworkSettings network;
  GraphSettings graph;
  PendantSettings pendant;
  JoystickSettings joystick;
  ConsumableCounters consumables;
  HostPreferences preferences;
  // The running nominal torch voltage; the THC page edits a single-precision
  // copy of it.
  double THCnomvoltage = 150.0;
  // The analog input the torch voltage is read from: THCAnsel at load, and
  // whatever the THC page picks at once.
  std::int32_t LiveAnalogIndex = 0;
};

ProcessSettings& Process();

}  // namespace veltra::settings

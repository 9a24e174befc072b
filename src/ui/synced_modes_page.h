// Synced modes page: rigid tapping, threading and electronic gearing.
#pragma once

#include <cstdint>

namespace veltra::ui {

struct SyncedModesPage {
  std::int32_t Enc0cpr = 2000;
  std::int32_t RTSIndex = 0;
  std::int32_t WaitSpindle = 1;
  std::int32_t ThrBlend = 1;
  std::int32_t EncForSync = 0;
  std::int32_t EncRPM = 0;
  // Electronic gearing: edited here, sent with the configuration, not stored.
  std::int32_t gearEnable = 0;
  std::int32_t gearAxis = 0;
  std::int32_t gearMaster = 0;
  double gearRatio = 1.0;
  double gearOffset = 0.0;
  std::int32_t gearRelative = 0;
};

}  // namespace veltra::ui

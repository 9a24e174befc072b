// General page: spindle, homing, MPG and laser options, and the ramp curve.
#pragma once

#include <cstdint>

#include "settings/ramp_curve.h"

namespace veltra::ui {

struct GeneralPage {
  std::int32_t PWMFreq = 10000;  // Hz
  std::int32_t PWMBipMode = 0;
  std::int32_t IndexCnt = 1;
  std::int32_t HomeRetract = 10;  // percent
  float BackOffDist = 0.0f;       // machine units
  std::int32_t HwMPG = 0;
  std::int32_t MPGfeedlimit = 0;
  std::int32_t DerefOnDisc = 0;
  std::int32_t HwFeedhold = 0;
  std::int32_t LaserSync = 0;
  std::int32_t LaserSyncPort = 1;
  std::int32_t LaserComp = 0;
  std::int32_t LaserGL = 0;
  settings::RampCurve curve;
};

}  // namespace veltra::ui

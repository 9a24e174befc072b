// THC options page with its PID dialog: torch height control settings.
#pragma once

#include <cstdint>

namespace veltra::ui {

struct ThcOptionsPage {
  std::int32_t THCtype = 0;
  float nominalVoltage = 150.0f;  // the page's copy of THCnomvoltage
  float THChystvoltage = 5.0f;
  std::int32_t THCtorchv = 250;
  std::int32_t THCanalogv = 5000;  // mV
  std::int32_t THCAnsel = 0;
  std::int32_t THCarcDetect = 0;
  std::int32_t THCdetVoltage = 50;
  std::int32_t THCdetTime = 200;
  std::int32_t THCramp = 1;
  std::int32_t THCSWord = 0;
  std::int32_t THCVSample = 0;
  float THCVSDelta = 10.0f;
  std::int32_t THCDwell = 0;
  std::int32_t THCLP = 0;
  std::int32_t THCLPFreq = 50;
  std::int32_t KerfDetect = 0;
  std::int32_t KerfVoltage = 20;
  std::int32_t KerfTime = 10;
  std::int32_t THCLock = 0;
  std::int32_t THCLockMax = 150;
  std::int32_t THCLockMin = 70;
  std::int32_t THCLockCmd = 0;
  std::int32_t ManualTHC = 0;
  std::int32_t ManualSpeed = 10;
  float thcP = 0.1f;
  float thcI = 0.00001f;
  float thcD = 0.5f;
  std::int32_t thcIsCustom = 0;
  std::int32_t thcPidPreset = 2;
  // Not persisted: filled from host DRO 177 when the dialog opens.
  std::int32_t pierceDelay = 0;  // ms
  // Not persisted: the "Log to file" check box.
  std::int32_t logToFile = 0;
};

}  // namespace veltra::ui

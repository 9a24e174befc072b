// The long-lived configuration dialog. Its pages hold the settings they
// edit, so the rest of the plugin reads them here; the dialog and its pages
// exist from plugin load to unload.
#pragma once

#include "ui/about_page.h"
#include "ui/general_page.h"
#include "ui/input_filter_page.h"
#include "ui/pulse_engine_page.h"
#include "ui/special_functions_page.h"
#include "ui/synced_modes_page.h"
#include "ui/thc_options_page.h"

namespace veltra::ui {

struct ConfigDialog {
  GeneralPage general;
  PulseEnginePage pulseEngine;
  InputFilterPage inputFilter;
  SpecialFunctionsPage specialFunctions;
  ThcOptionsPage thcOptions;
  SyncedModesPage syncedModes;
  AboutPage about;
  int LastPageIndex = 0;
};

ConfigDialog& TheConfigDialog();

}  // namespace veltra::ui

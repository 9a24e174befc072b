#include "plugin/nominal_voltage.h"

#include "plugin/host_blocks.h"
#include "plugin/host_callbacks.h"
#include "settings/process_settings.h"
#include "ui/config_dialog.h"

namespace veltra::plugin {

bool NominalVoltageUpdating = false;

void SetThcNominalVoltage(double volts) {
  NominalVoltageUpdating = true;
  settings::Process().THCnomvoltage = volts;
  host::SetDro(1501, volts);
  if (ui::TheConfigDialog().thcOptions.THCSWord) PlannerBlock::SpindleSpeed.Set(volts);
  NominalVoltageUpdating = false;
}

}  // namespace veltra::plugin

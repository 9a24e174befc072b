// Setting the THC nominal voltage, the one operation every path uses (the
// configuration dialog, the S word, the pendant, the special functions).
#pragma once

namespace veltra::plugin {

// Raised while the voltage is being set, so the cycle does not take the
// half-written DRO for a user edit.
extern bool NominalVoltageUpdating;

void SetThcNominalVoltage(double volts);

}  // namespace veltra::plugin

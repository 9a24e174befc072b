// Moving every persisted setting between memory and the host profile, in
// one fixed order: the load when the host names its profile, the save when
// it stops the plugin.
#pragma once

#include <string>
#include <string_view>

namespace veltra::settings {

// Reads every setting from the profile at ProfilePath (defaults for what it
// lacks), applies the load's corrections and mirrors, and chooses the
// controller's address. The file is written back, minus the plugin's empty
// keys. True when the profile file was there and read.
bool LoadSettings();
// Writes every setting the plugin owns; the host's "Preferences" are never
// written. True when the profile file was written.
bool SaveSettings();

// The profile's text forms of real numbers.
// Eight significant digits, fixed while the point falls within them
// (150 -> "150.", 0.5 -> "0.5"), else one digit, the point and seven more
// with a signed exponent of at least three digits (0.00001 -> "1.e-005");
// zeros before the end or the exponent are dropped, the point stays. 0 is
// "0."; values that are not finite are "inf", "-inf" and "nan".
std::string FormatProfileReal(double value);
// The pendant's step sizes: six decimals (0.5 -> "0.500000").
std::string FormatPendantStep(double value);
// The C run time's reading: leading blanks, sign, digits, point, exponent;
// no number gives 0.
double ParseProfileReal(std::string_view text);

}  // namespace veltra::settings

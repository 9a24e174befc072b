// The command line of veltra-emu: every option of the emulator, the status
// fields it reports and the faults it can be told to show.
#pragma once

#include <string>
#include <vector>

#include "emulator.h"

namespace veltra::emu {

enum class CommandLineResult { Run, ShowHelp, Error };

CommandLineResult ParseCommandLine(const std::vector<std::string>& arguments, EmulatorOptions& options,
                                   std::string& error);
std::string UsageText();

}  // namespace veltra::emu

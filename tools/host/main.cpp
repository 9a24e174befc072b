// veltra-host: the host stand-in as a program.
//
//   veltra-host --plugin <libveltra_drv.so> [--profile <file.xml>] [--script <file>] [command ...]
//
// Loads the plugin and runs the script file's lines, then the commands given on
// the command line (each one script line, for example "status" or
// "get Engine.EStop"). When none of them is "start", the plugin is started
// before the first line and stopped after the last.

#include <algorithm>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "host_stand_in.h"
#include "script.h"

namespace {

void Usage() {
  std::cerr << "usage: veltra-host --plugin <library> [--profile <file.xml>] [--script <file>] [command ...]\n"
               "  each command is one script line, e.g. \"status\" or \"get Engine.EStop\"\n";
}

}  // namespace

int main(int argc, char** argv) {
  std::string pluginPath;
  std::string profilePath = "veltra-profile.xml";
  std::string scriptPath;
  std::vector<std::string> commands;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if ((arg == "--plugin" || arg == "--profile" || arg == "--script") && i + 1 < argc) {
      (arg == "--plugin" ? pluginPath : arg == "--profile" ? profilePath : scriptPath) = argv[++i];
    } else if (arg == "--help" || arg == "-h") {
      Usage();
      return 0;
    } else {
      commands.push_back(arg);
    }
  }
  if (pluginPath.empty()) {
    Usage();
    return 2;
  }

  veltra::hoststub::HostStandIn host;
  std::string error;
  if (!host.LoadPlugin(pluginPath, error)) {
    std::cerr << "veltra-host: " << error << "\n";
    return 1;
  }
  veltra::hoststub::Script script(host, std::cout, profilePath);

  std::vector<std::string> lines;
  if (!scriptPath.empty()) {
    std::ifstream file(scriptPath);
    if (!file) {
      std::cerr << "veltra-host: cannot open script " << scriptPath << "\n";
      return 1;
    }
    for (std::string line; std::getline(file, line);) lines.push_back(line);
  }
  lines.insert(lines.end(), commands.begin(), commands.end());
  const bool startsItself = std::any_of(lines.begin(), lines.end(), [](const std::string& line) {
    const auto tokens = veltra::hoststub::Script::Tokenize(line);
    return !tokens.empty() && tokens.front() == "start";
  });
  const bool ran = (startsItself || script.RunLine("start", 0, error)) && script.RunLines(lines, error) &&
                   (startsItself || script.RunLine("stop", 0, error));
  if (!ran) {
    std::cerr << "veltra-host: " << error << "\n";
    host.StopPlugin();
    return 1;
  }
  return 0;
}

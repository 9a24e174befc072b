#include "options.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <functional>
#include <limits>
#include <optional>
#include <sstream>

namespace veltra::emu {
namespace {

bool ParseInteger(const std::string& text, long long low, long long high, long long& value) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  value = std::strtoll(text.c_str(), &end, 0);
  return errno == 0 && *end == '\0' && value >= low && value <= high;
}

template <typename Int>
std::function<bool(const std::string&)> Into(Int& target) {
  return [&target](const std::string& text) {
    long long value = 0;
    if (!ParseInteger(text, std::numeric_limits<Int>::min(), std::numeric_limits<Int>::max(), value)) return false;
    target = static_cast<Int>(value);
    return true;
  };
}

// A comma-separated list of exactly as many integers as the array holds.
template <typename Int, std::size_t N>
std::function<bool(const std::string&)> IntoAll(std::array<Int, N>& target) {
  return [&target](const std::string& text) {
    std::array<Int, N> values{};
    std::stringstream items(text);
    std::string item;
    std::size_t count = 0;
    while (std::getline(items, item, ',')) {
      long long value = 0;
      if (count == N || !ParseInteger(item, std::numeric_limits<Int>::min(), std::numeric_limits<Int>::max(), value)) {
        return false;
      }
      values[count++] = static_cast<Int>(value);
    }
    if (count != N) return false;
    target = values;
    return true;
  };
}

std::function<bool(const std::string&)> IntoReal(float& target) {
  return [&target](const std::string& text) {
    char* end = nullptr;
    const float value = std::strtof(text.c_str(), &end);
    if (text.empty() || *end != '\0') return false;
    target = value;
    return true;
  };
}

std::function<bool(const std::string&)> IntoTimeScale(double& target) {
  return [&target](const std::string& text) {
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !(value > 0.0 && value <= MachineMotion::kLargestTimeScale)) return false;
    target = value;
    return true;
  };
}

// AXIS,STEPS,DIR: axis 0..5, the level in steps, direction -1 or +1.
std::function<bool(const std::string&)> IntoProbeSurface(std::optional<ProbeSurface>& target) {
  return [&target](const std::string& text) {
    std::array<std::int32_t, 3> fields{};
    if (!IntoAll(fields)(text)) return false;
    if (fields[0] < 0 || fields[0] >= kAxisCount || (fields[2] != -1 && fields[2] != 1)) return false;
    target = ProbeSurface{fields[0], fields[1], fields[2]};
    return true;
  };
}

std::function<bool(const std::string&)> IntoText(std::string& target) {
  return [&target](const std::string& text) {
    target = text;
    return true;
  };
}

struct Option {
  std::string name;
  std::string value;  // how the value is shown in the help; empty for a switch
  std::string help;
  std::function<bool(const std::string&)> apply;  // a switch gets an empty text
};

std::vector<Option> OptionsFor(EmulatorOptions& o) {
  cycle::StatusRecord& s = o.status;
  Faults& f = o.faults;
  auto set = [](bool& flag) {
    return [&flag](const std::string&) {
      flag = true;
      return true;
    };
  };
  auto clear = [](bool& flag) {
    return [&flag](const std::string&) {
      flag = false;
      return true;
    };
  };
  return {
      {"--address", "A", "dotted IPv4 address to listen on (default 127.0.0.1)", IntoText(o.address)},
      {"--command-port", "P", "command channel port (default 32000)", Into(o.commandPort)},
      {"--bulk-port", "P", "bulk channel port (default 32001)", Into(o.bulkPort)},
      {"--bootloader", "N", "boot-loader byte of the identify reply (default 0)", Into(o.bootloaderByte)},
      {"--firmware-version", "TEXT", "version text of the identify reply (default 01.09)", IntoText(o.firmwareVersion)},
      {"--status-period", "MS", "milliseconds between status frames (default 10)", Into(o.statusPeriodMs)},
      {"--time-scale", "F", "simulated time runs F times as fast as real time, 0 < F <= 1000 (default 1)",
       IntoTimeScale(o.timeScale)},
      {"--probe-surface", "AXIS,STEPS,DIR",
       "a probe touches when axis AXIS reaches STEPS moving in direction DIR (-1 or 1); default: never",
       IntoProbeSurface(o.probeSurface)},
      {"--watchdog", "MS", "ESTOP with fault COMMERR after MS without a command (default 0: off)",
       Into(o.commandTimeoutMs)},
      {"--mode", "N", "status: controller mode (0 IDLE .. 6 RDOWN)", Into(s.Mode)},
      {"--sequence", "N", "status: running sequence (0 NONE .. 13 THREAD)", Into(s.Sequence)},
      {"--flags", "N", "status: flag bits", Into(s.Flags)},
      {"--input-pins", "N", "status: input pin bits, bit n-1 for pin n", Into(s.InputPins)},
      {"--output-pins", "N", "status: output pin bits", Into(s.OutputPins)},
      {"--steps", "X,Y,Z,A,B,C", "status: the six step positions", IntoAll(s.StepPositions)},
      {"--spindle-rate", "R", "status: measured spindle rate", IntoReal(s.SpindleRate)},
      {"--buffered", "N", "status: motion records in the buffer", Into(s.BufferedRecords)},
      {"--time-stamp", "N", "status: time stamp to start from (advances 10 per microsecond)", Into(s.TimeStamp)},
      {"--encoders", "E1,..,E4,M1,M2,M3", "status: the seven encoder and MPG counts", IntoAll(s.EncoderCounts)},
      {"--fault", "N", "status: cause of the last stop (0 NONE .. 6 FEEDHOLD)", Into(s.Fault)},
      {"--homed-axis", "N", "status: axis of a HOME6 frame", Into(s.HomedAxis)},
      {"--line", "N", "status: executing line (-1 none)", Into(s.ExecutingLine)},
      {"--analog", "A1,A2,A3,A4", "status: raw analog inputs (0..65535 = 0..5 V)", IntoAll(s.AnalogInputs)},
      {"--shuttle", "N", "status: shuttle speed (128 = 100 %)", Into(s.ShuttleSpeed)},
      {"--buffer-fill", "N", "status: buffer fill in percent", Into(s.BufferFill)},
      {"--thc-offset", "N", "status: THC correction in Z steps", Into(s.ThcOffset)},
      {"--received", "N", "status: motion records received", Into(s.ReceivedRecords)},
      {"--turn", "E1,..,E4,M1,M2,M3", "panel: the seven counters turn at these counts per second",
       IntoAll(o.counterRates)},
      {"--refuse", "", "fault: listen on nothing, so connects are refused", set(f.refuseConnections)},
      {"--silent-identify", "", "fault: accept connections, never answer identify", set(f.silentIdentify)},
      {"--short-identify", "", "fault: answer identify with 5 bytes only", set(f.shortIdentify)},
      {"--close-after", "N", "fault: close both connections after N frames", Into(f.closeAfterFrames)},
      {"--no-status", "", "fault: send no status frames", set(f.stopStatus)},
      {"--partial-frame", "N", "fault: stop after the first N bytes of a status frame", Into(f.partialFrameBytes)},
      {"--unknown-tag-every", "N", "fault: an extra frame with an unknown tag after every N-th status frame",
       Into(f.unknownTagEvery)},
      {"--unknown-tag", "T", "fault: the tag of those frames (default 99)", Into(f.unknownTag)},
      {"--request-every", "N", "fault: a request frame (tag 14) after every N-th status frame", Into(f.requestEvery)},
      {"--debug-every", "N", "fault: a debug record on the bulk channel every N-th status frame", Into(f.debugEvery)},
      {"--stall-reading", "", "fault: leave the plugin's bytes unread", set(f.stallReading)},
      {"--reset-after-identify", "", "fault: reset the command connection once identify is answered",
       set(f.resetAfterIdentify)},
      {"--quiet", "", "do not log rejected frames", clear(o.logRejects)},
      {"--verbose", "", "log every valid frame too, with short payloads in hex", set(o.logFrames)},
      {"--help", "", "show this text", nullptr},
  };
}

}  // namespace

CommandLineResult ParseCommandLine(const std::vector<std::string>& arguments, EmulatorOptions& options,
                                   std::string& error) {
  options.logRejects = true;
  std::vector<Option> known = OptionsFor(options);
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& name = arguments[i];
    auto option = std::find_if(known.begin(), known.end(), [&](const Option& o) { return o.name == name; });
    if (option == known.end()) {
      error = "unknown option " + name;
      return CommandLineResult::Error;
    }
    if (!option->apply) return CommandLineResult::ShowHelp;
    std::string value;
    if (!option->value.empty()) {
      if (++i == arguments.size()) {
        error = name + " needs a value (" + option->value + ")";
        return CommandLineResult::Error;
      }
      value = arguments[i];
    }
    if (!option->apply(value)) {
      error = "bad value for " + name + ": " + value;
      return CommandLineResult::Error;
    }
  }
  return CommandLineResult::Run;
}

std::string UsageText() {
  EmulatorOptions scratch;
  std::ostringstream text;
  text << "veltra-emu: a substitute VELTRA controller on TCP ports 32000 (commands)\n"
          "and 32001 (bulk). It answers CMD_IDENTIFY, validates and records every\n"
          "command frame, acts on configuration, outputs, positions, stops and the\n"
          "control flags, reports status frames while both channels are connected,\n"
          "and misbehaves when told to. It executes the motion records of the bulk\n"
          "channel from a 1000-record buffer, one per simulated millisecond, holds\n"
          "in a feedhold, stops at the soft limits with fault SOFTLIMIT, jogs, homes\n"
          "through HOME0..HOME6, probes against its probe surface, and runs the\n"
          "threading and rigid tapping sequences. The plugin refills the buffer at\n"
          "up to six times real time, so a time scale above 6 runs it dry. In\n"
          "plasma mode a spindle start fires a simulated torch: its arc voltage\n"
          "reaches the THC analog input and the THC correction moves Z. Numbers may\n"
          "be given in hex (0x...).\n\n"
          "usage: veltra-emu [options]\n\n";
  for (const Option& option : OptionsFor(scratch)) {
    std::string left = "  " + option.name + (option.value.empty() ? "" : " " + option.value);
    if (left.size() < 34) left.resize(34, ' ');
    text << left << ' ' << option.help << '\n';
  }
  return text.str();
}

}  // namespace veltra::emu

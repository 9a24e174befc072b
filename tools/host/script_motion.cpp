// The script's motion commands: run a program, jog, home, probe. Each one
// calls the plugin's exports as the host would and waits for the end the
// host would wait for.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <ostream>

#include "cycle/status_rules.h"
#include "ops/probe.h"
#include "platform/clock.h"
#include "program_run.h"
#include "script.h"

namespace veltra::hoststub {
namespace {

constexpr std::uint32_t kJogRestMs = 5000;
constexpr std::uint32_t kHomingMs = 60000;
constexpr std::uint32_t kProbeMs = 60000;
// Beyond its own motion and dwells, a program gets this long to finish.
constexpr std::uint32_t kProgramSlackMs = 30000;
constexpr std::uint32_t kProgressPeriodMs = 100;
constexpr std::size_t kProgressWidth = 30;

bool ParseReal(const std::string& text, double& value) {
  const char* begin = text.data() + (text.starts_with('+') ? 1 : 0);
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(begin, end, value);
  return !text.empty() && ec == std::errc() && ptr == end && std::isfinite(value);
}

bool ParseAxis(const std::string& text, std::int16_t& axis) {
  static const std::string kLetters = "XYZABC";
  if (text.size() != 1) return false;
  const std::size_t letter = kLetters.find(static_cast<char>(std::toupper(static_cast<unsigned char>(text[0]))));
  if (letter != std::string::npos) {
    axis = static_cast<std::int16_t>(letter);
    return true;
  }
  if (text[0] >= '0' && text[0] <= '5') {
    axis = static_cast<std::int16_t>(text[0] - '0');
    return true;
  }
  return false;
}

std::string Format(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.4f", value);
  return text;
}

// The bar, redrawn over itself; only a change is drawn, so that a log of it
// stays short.
// The line shown is the one the controller executes, once it reports one.
void ShowProgress(std::ostream& out, const HostStandIn& host, const ProgramRun& run, std::string& shown) {
  const std::size_t total = std::max<std::size_t>(1, run.Planned().samples);
  const std::size_t done = std::min(run.SamplesConsumed(), total);
  const auto filled = static_cast<std::size_t>(done * kProgressWidth / total);
  const std::int32_t executing = host.Read(host::EngineBlock::ExecutingLine);
  std::string bar = "[";
  bar.append(filled, '#').append(kProgressWidth - filled, ' ').append("] ");
  bar.append(std::to_string(done * 100 / total)).append("%  line ");
  bar.append(std::to_string(executing > 0 ? executing : run.CurrentLine()));
  if (bar == shown) return;
  out << "\r" << bar << "   " << std::flush;
  shown = bar;
}

}  // namespace

bool Script::WaitForMotion(const std::function<bool()>& done, std::uint32_t timeoutMilliseconds,
                           const std::string& what, std::string& error) {
  bool eStop = false;
  const bool reached = host_.RunUntil(
      [&] {
        eStop = host_.Read(host::EngineBlock::EStop) != 0;
        return eStop || done();
      },
      timeoutMilliseconds);
  if (eStop) {
    error = what + " ended in e-stop: " + host_.StatusLine();
  } else if (!reached) {
    error = what + " did not end within " + std::to_string(timeoutMilliseconds) + " ms";
  }
  return reached && !eStop;
}

bool Script::RunProgram(const std::string& path, bool progress, std::string& error) {
  Program program;
  if (!PlanProgramFile(path, HostMachinePosition(host_), HostWorkOffsets(host_), HostMotorTuning(host_), program,
                       error)) {
    return false;
  }
  double dwellMs = 0.0;
  const bool milliseconds = host_.Read(host::PlannerBlock::DwellInMilliseconds) != 0;
  for (const ProgramStep& step : program.steps) {
    if (const auto* dwell = std::get_if<Dwell>(&step)) dwellMs += milliseconds ? dwell->time : dwell->time * 1000.0;
  }
  const auto timeout = static_cast<std::uint32_t>(
      std::min(4.0e9, 2.0 * static_cast<double>(program.samples) + dwellMs + kProgramSlackMs));

  const std::uint32_t started = platform::TickCount();
  ProgramRun run(host_, std::move(program));
  std::uint32_t drawnAt = started;
  std::string drawn;
  const bool reached = host_.RunUntil(
      [&] {
        const bool done = run.Advance();
        if (progress && (done || platform::TickCount() - drawnAt >= kProgressPeriodMs)) {
          drawnAt = platform::TickCount();
          ShowProgress(out_, host_, run, drawn);
        }
        return done;
      },
      timeout);
  if (progress) out_ << "\n";
  if (!reached) {
    error = path + " did not finish within " + std::to_string(timeout) + " ms (at line " +
            std::to_string(run.CurrentLine()) + ")";
    return false;
  }
  if (run.Failed()) {
    error = path + ": " + run.Error();
    return false;
  }
  out_ << "ran " << path << ": " << run.SamplesWritten() << " samples in " << platform::TickCount() - started
       << " ms\n";
  return true;
}

void Script::AddMotionCommands() {
  AddCommand("run", [this](const auto& args, std::string& error) {
    if (args.size() < 2 || args.size() > 3 || (args.size() == 3 && args[2] != "progress")) {
      error = "usage: run <file> [progress]";
      return false;
    }
    return RunProgram(args[1], args.size() == 3, error);
  });

  AddCommand("jog", [this](const auto& args, std::string& error) {
    std::int16_t axis = 0;
    double ms = 0.0;
    double speed = 0.0;
    if (args.size() < 4 || args.size() > 5 || !ParseAxis(args[1], axis) || (args[2] != "+" && args[2] != "-") ||
        !ParseReal(args[3], ms) || ms < 0.0 || (args.size() == 5 && (!ParseReal(args[4], speed) || speed < 0.0))) {
      error = "usage: jog <axis> <+|-> <ms> [speed]";
      return false;
    }
    const PluginExports& plugin = host_.Plugin();
    plugin.JogOn(axis, args[2] == "+" ? 0 : 1, speed);
    if (host_.Read(host::EngineBlock::Jogging) == 0) {
      error = "the jog was refused: " + host_.StatusLine();
      return false;
    }
    host_.RunFor(static_cast<std::uint32_t>(ms));
    plugin.JogOff(axis);
    return WaitForMotion([this] { return host_.Read(host::PlannerBlock::MotionIdle) != 0; }, kJogRestMs, "the jog",
                         error);
  });

  AddCommand("home", [this](const auto& args, std::string& error) {
    std::vector<std::int16_t> axes;
    for (std::size_t i = 1; i < args.size(); ++i) {
      std::int16_t axis = 0;
      if (!ParseAxis(args[i], axis)) {
        error = "not an axis: " + args[i];
        return false;
      }
      axes.push_back(axis);
    }
    if (axes.empty()) {
      error = "usage: home <axis...>";
      return false;
    }
    for (std::int16_t axis : axes) host_.Plugin().Home(axis);
    return WaitForMotion([this] { return host_.Read(host::EngineBlock::Homing) == 0; }, kHomingMs, "homing", error);
  });

  AddCommand("probe", [this](const auto& args, std::string& error) {
    double target[4] = {};
    double feed = 0.0;
    bool numbers = args.size() == 5 || args.size() == 6;
    for (std::size_t i = 1; numbers && i < args.size(); ++i) {
      numbers = ParseReal(args[i], i < 5 ? target[i - 1] : feed);
    }
    if (!numbers || (args.size() == 6 && feed <= 0.0)) {
      error = "usage: probe <x> <y> <z> <a> [feed]";
      return false;
    }
    if (args.size() == 6) host_.Write(host::PlannerBlock::FeedRate, feed / 60.0);
    if (host_.Read(host::PlannerBlock::FeedRate) * host_.Read(host::PlannerBlock::FeedPercent) <= 0.0) {
      error = "no probe feed: give one (units per minute) or set Planner.FeedRate and Planner.FeedPercent";
      return false;
    }
    host_.RefreshWorkPositions();
    for (std::uint32_t a = 0; a < 6; ++a) {
      host_.Write(host::PlannerBlock::ProbeTarget, a,
                  a < 4 ? target[a] : host_.Read(host::EngineBlock::AxisWorkPosition, a));
    }
    host_.Write(host::EngineBlock::InputSignalEnabled, cycle::kInputProbe, 1);
    const std::size_t pressesBefore = host_.ButtonPresses().size();
    host_.Plugin().Probe();
    auto ended = [this] {
      for (std::uint32_t a = 0; a < 6; ++a) {
        if (host_.Read(host::EngineBlock::AxisProbing, a) != 0) return false;
      }
      return host_.Read(host::PlannerBlock::MotionIdle) != 0;
    };
    if (!WaitForMotion(ended, kProbeMs, "the probe", error)) return false;
    const auto& presses = host_.ButtonPresses();
    if (std::find(presses.begin() + static_cast<std::ptrdiff_t>(pressesBefore), presses.end(), ops::kButtonProbeFailed) !=
        presses.end()) {
      error = "the probe found no contact: " + host_.StatusLine();
      return false;
    }
    out_ << "probe contact at";
    for (int a = 0; a < 4; ++a)
      out_ << " " << Format(host_.Read(host::SetupBlock::UserVariable, ops::kUserVariableProbeContact + a));
    out_ << "\n";
    return true;
  });
}

}  // namespace veltra::hoststub

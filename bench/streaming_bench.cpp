// Streaming throughput: a program planned by the host stand-in, streamed by
// the plugin (the shared library, as the host loads it) and executed by an
// in-process substitute controller whose simulated time runs faster than
// real time. Above six times real time the plugin's 150 records per 25 ms
// tick cannot keep the controller's buffer filled, which the underruns show.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "emulator.h"
#include "host_stand_in.h"
#include "platform/message_box.h"
#include "program_run.h"

namespace {

using namespace veltra;

struct Session {
  std::unique_ptr<emu::Emulator> controller;
  std::unique_ptr<hoststub::HostStandIn> host;
  std::filesystem::path profile;
  std::string error;
};

// A controller on the first free address of 127.0.0.230..249, and the
// plugin in the host stand-in connected to it.
bool Open(Session& session, double timeScale) {
  std::string address;
  for (int n = 230; n < 250 && address.empty(); ++n) {
    emu::EmulatorOptions options;
    options.address = "127.0.0." + std::to_string(n);
    options.timeScale = timeScale;
    session.controller = std::make_unique<emu::Emulator>(options);
    if (session.controller->Start()) address = options.address;
  }
  if (address.empty()) {
    session.error = "no loopback address to listen on";
    return false;
  }
  session.profile = std::filesystem::temp_directory_path() / "veltra-streaming-bench.xml";
  std::ofstream(session.profile) << "<profile><veltra_mach_drv><ETH_BYIP>1</ETH_BYIP><ETH_IP>" << address
                                 << "</ETH_IP></veltra_mach_drv></profile>\n";
  session.host = std::make_unique<hoststub::HostStandIn>();
  if (!session.host->LoadPlugin(VELTRA_PLUGIN_LIBRARY, session.error)) return false;
  hoststub::HostStandIn& host = *session.host;
  for (std::uint32_t a = 0; a < 3; ++a) {
    host.Write(host::PlannerBlock::AxisStepsPerUnit, a, 1000.0);
    host.Write(host::PlannerBlock::AxisMaxVelocity, a, 50.0);
    host.Write(host::PlannerBlock::AxisAcceleration, a, 500.0);
  }
  host.StartPlugin(session.profile.string());
  host.Write(host::EngineBlock::EStop, 1);
  host.PressReset();
  if (host.StatusLine() != "Ethernet controller connected.") {
    session.error = "the plugin did not connect: " + host.StatusLine();
    return false;
  }
  host.StartUpdates();
  host.RunFor(200);
  return true;
}

void Close(Session& session) {
  if (session.host) session.host->StopPlugin();
  session.host.reset();
  if (session.controller) session.controller->Stop();
  std::error_code ignored;
  std::filesystem::remove(session.profile, ignored);
}

// Records per second of real time from the host's ring to the controller,
// at the time scale given as the argument.
void StreamThroughPluginAndController(benchmark::State& state) {
  platform::SetMessageBoxResponder([](const platform::MessageBoxRequest&) { return platform::MessageBoxAnswer::Ok; });
  Session session;
  if (!Open(session, static_cast<double>(state.range(0)))) {
    state.SkipWithError(session.error.c_str());
    Close(session);
    return;
  }
  hoststub::HostStandIn& host = *session.host;
  const std::uint64_t executedBefore = session.controller->Motion().recordsExecuted;
  bool out = true;
  for (auto _ : state) {
    hoststub::Program program;
    std::string error;
    const std::vector<std::string> lines = {"G90 G1 F3000", out ? "X100" : "X0"};
    out = !out;
    if (!hoststub::PlanOnHost(host, lines, program, error)) {
      state.SkipWithError(error.c_str());
      break;
    }
    hoststub::ProgramRun run(host, std::move(program));
    if (!host.RunUntil([&] { return run.Advance(); }, 60000) || run.Failed()) {
      state.SkipWithError(("the program did not finish: " + run.Error()).c_str());
      break;
    }
  }
  const emu::MotionStats motion = session.controller->Motion();
  state.SetItemsProcessed(static_cast<std::int64_t>(motion.recordsExecuted - executedBefore));
  state.counters["underruns"] = motion.underruns;
  state.counters["lowest_buffer"] = motion.lowestBufferLevel.value_or(-1);
  Close(session);
  platform::SetMessageBoxResponder(nullptr);
}
BENCHMARK(StreamThroughPluginAndController)
    ->Arg(1)
    ->Arg(4)
    ->Arg(6)
    ->Arg(20)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

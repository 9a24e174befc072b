// What motion costs on the way from the host to the controller: planning and
// sampling a program into millisecond samples, and the motion record's
// encoding and decoding.
#include <benchmark/benchmark.h>

#include <fstream>
#include <string>
#include <vector>

#include "cycle/motion_commands.h"
#include "gcode.h"

namespace {

using namespace veltra;

hoststub::MotorTuning DemoTuning() {
  hoststub::MotorTuning tuning;
  tuning.stepsPerUnit = {1000, 1000, 1000, 0, 0, 0};
  tuning.maxVelocity = {50, 50, 50, 0, 0, 0};
  tuning.acceleration = {500, 500, 500, 0, 0, 0};
  return tuning;
}

std::vector<std::string> SampleProgram() {
  std::ifstream file(VELTRA_SAMPLE_PROGRAM);
  std::vector<std::string> lines;
  for (std::string line; std::getline(file, line);) lines.push_back(line);
  return lines;
}

// Samples written per second of processor time, planning included.
void PlanAndSampleTheSampleProgram(benchmark::State& state) {
  const std::vector<std::string> lines = SampleProgram();
  const hoststub::MotorTuning tuning = DemoTuning();
  std::size_t samples = 0;
  for (auto _ : state) {
    hoststub::Program program;
    std::string error;
    if (!hoststub::PlanProgram(lines, {}, {}, tuning, program, error)) {
      state.SkipWithError(error.c_str());
      return;
    }
    for (const hoststub::ProgramStep& step : program.steps) {
      const auto* move = std::get_if<hoststub::Move>(&step);
      if (!move) continue;
      hoststub::MoveSampler sampler(*move, tuning.stepsPerUnit);
      for (hoststub::AxisValues steps{}; sampler.Next(steps); ++samples) benchmark::DoNotOptimize(steps);
    }
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(samples));
}
BENCHMARK(PlanAndSampleTheSampleProgram)->Unit(benchmark::kMillisecond);

// Records per second through EncodeMotionRecord and DecodeMotionRecord.
void MotionRecordRoundTrip(benchmark::State& state) {
  cycle::MotionRecord record;
  record.Position = {1000.0001, -2000.0001, 5.5, 0.0001, 0.0001, 0.0001};
  record.Line = 42;
  for (auto _ : state) {
    record.Position[0] += 1.0;
    const cycle::MotionRecordBytes bytes = cycle::EncodeMotionRecord(record);
    benchmark::DoNotOptimize(bytes);
    const cycle::MotionRecord decoded = cycle::DecodeMotionRecord(bytes);
    benchmark::DoNotOptimize(decoded);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(MotionRecordRoundTrip);

}  // namespace

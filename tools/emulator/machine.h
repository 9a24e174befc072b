// The machine behind the substitute controller's protocol. It reports what
// it is told (every status field can be set), runs its time stamp clock and
// acts on the commands: configuration, outputs, positions, stops, and the
// motion of motion.h (the streamed records, feedhold, jog, home, probe,
// threading and tapping), which drives the motion fields of the status
// while it moves. It goes into emergency stop when told to, when its e-stop
// input is active, when the command channel falls silent and when a record
// lies beyond the soft limits. The plasma torch and the operator panel are
// models of their own (torch.h, panel.h) that see every command and show
// themselves in every report. Simulated time, the time stamp's included, is
// real time times the time-scale factor; the torch and the panel keep real
// time.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

#include "config/config_record.h"
#include "cycle/status_record.h"
#include "frame_parser.h"
#include "motion.h"
#include "panel.h"
#include "torch.h"

namespace veltra::emu {

// Fault codes the machine reports of itself.
inline constexpr std::uint8_t kFaultNone = 0;
inline constexpr std::uint8_t kFaultEStop = 4;
inline constexpr std::uint8_t kFaultCommunication = 5;

class SimulatedMachine {
 public:
  using Clock = std::chrono::steady_clock;

  explicit SimulatedMachine(const cycle::StatusRecord& initial, Clock::time_point now = Clock::now());

  SimulatedMachine(const SimulatedMachine&) = delete;
  SimulatedMachine& operator=(const SimulatedMachine&) = delete;

  cycle::StatusRecord& Status() { return status_; }
  // The status as of now, for a status frame: the motion has run up to now
  // and the time stamp has advanced with the time since the last report, at
  // 10 ticks per simulated microsecond.
  cycle::StatusRecord Report(Clock::time_point now);
  // Runs the motion up to now.
  void Advance(Clock::time_point now);

  // A valid command frame, at that time; commands the machine does not act
  // upon change nothing.
  void Execute(const ReceivedCommand& command, Clock::time_point now = Clock::now());
  // Motion records that arrived together on the bulk channel.
  void ReceiveMotion(std::span<const cycle::MotionRecord> records, Clock::time_point now = Clock::now());
  // Simulated time runs this many times as fast as real time; false (and
  // nothing changed) for a factor the machine cannot run.
  bool SetTimeScale(double factor) { return motion_.SetTimeScale(factor); }
  void SetProbeSurface(const std::optional<ProbeSurface>& surface) { motion_.SetProbeSurface(surface); }
  // Without motion the machine takes no motion command or record and
  // leaves the motion fields of the status to whoever sets them.
  void SetMotionEnabled(bool enabled) { motionEnabled_ = enabled; }
  MotionStats Motion() const { return motion_.Stats(status_); }
  // No command arrived for the watchdog's time.
  void LoseCommunication() { EnterEStop(kFaultCommunication); }
  // Emergency stop with the given cause, until a configuration clears it.
  void EnterEStop(std::uint8_t fault);
  // While the e-stop input is active the machine stays in emergency stop.
  void SetEStopInput(bool active);

  // The last configuration received, decoded.
  const std::optional<config::ConfigRecord>& Configuration() const { return configuration_; }
  std::uint16_t ControlFlags() const { return controlFlags_; }
  bool ShutDown() const { return shutDown_; }
  PanelInputs& Panel() { return panel_; }
  const PanelInputs& Panel() const { return panel_; }
  const PlasmaTorch& Torch() const { return torch_; }

 private:
  void Configure(const ReceivedCommand& command);
  void SetOutputs(const ReceivedCommand& command);
  void SetPositions(const ReceivedCommand& command);
  void StopCommanded(const ReceivedCommand& command);
  void EndProbe();
  double ZStepsPerUnit() const;
  // The count of motion records received restarts wherever the plugin
  // restarts its count of records sent.
  void RestartReceivedCount() { status_.ReceivedRecords = 0; }

  cycle::StatusRecord status_;
  Clock::time_point lastReport_;
  std::uint8_t lastReportedSequence_;
  std::optional<config::ConfigRecord> configuration_;
  MachineMotion motion_;
  bool motionEnabled_ = true;
  std::uint16_t controlFlags_ = 0;
  bool shutDown_ = false;
  bool eStopInput_ = false;
  PanelInputs panel_;
  PlasmaTorch torch_;
};

}  // namespace veltra::emu

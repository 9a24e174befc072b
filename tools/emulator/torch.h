// The substitute controller's plasma torch: a simple arc model behind the
// torch height control commands. The spindle start fires the torch; in
// plasma mode the arc forms after an ignition time, and arc OK and the
// regulator follow once the pierce delay is over. The arc voltage rises
// with the torch height above the work (Z at 0); the regulator moves the
// torch by its Z correction, reported as ThcOffset, up or down within the
// THC limits, by hysteresis or proportionally, or by the manual keys. The
// voltage reaches the host on the THC analog input, scaled as the
// parameters say.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

#include "cycle/status_record.h"
#include "cycle/thc_commands.h"
#include "frame_parser.h"

namespace veltra::emu {

// What the torch model shows of itself.
struct TorchState {
  std::optional<cycle::ThcParameters> parameters;  // the last CMD_SET_THC
  std::optional<cycle::ThcPidConstants> pid;       // the last CMD_SET_THC_PID
  bool fired = false;                              // the torch was started and not stopped
  bool arcOn = false;                              // an arc burns
  bool arcOk = false;                              // the pierce is through: arc OK, regulator running
  double volts = 0.0;                              // the arc voltage
  double offset = 0.0;                             // Z correction, steps
  double sampledVolts = 0.0;
};

class PlasmaTorch {
 public:
  using Clock = std::chrono::steady_clock;

  // The arc: volts at the surface and per unit of height.
  static constexpr double kVoltsAtSurface = 80.0;
  static constexpr double kVoltsPerUnit = 20.0;
  static constexpr std::int64_t kIgnitionMs = 50;
  // The sampled-voltage mode samples this long after the pierce.
  static constexpr std::int64_t kSampleDelayMs = 200;

  // The commands the torch takes: CMD_SET_THC, CMD_SET_THC_PID,
  // CMD_SET_INPUT_OVERRIDES (the manual keys) and CMD_SPINDLE (the torch
  // itself); it ignores every other one.
  void Execute(const ReceivedCommand& command);
  // The torch goes out at once (an emergency stop).
  void Extinguish();
  // Runs the arc and the regulator up to now and shows them in the status:
  // the THC input, the flags it owns and ThcOffset. Only a torch that was
  // fired in plasma mode touches the status; a torch gone out shows 0 V and
  // no flags once, then leaves the status to others again.
  void Report(Clock::time_point now, bool plasmaMode, double zStepsPerUnit, cycle::StatusRecord& status);

  const TorchState& State() const { return state_; }

 private:
  void Regulate(double seconds, double zSteps);
  void Show(cycle::StatusRecord& status) const;

  TorchState state_;
  std::uint32_t overrides_ = 0;
  bool lit_ = false;  // the model owns the status
  bool clearPending_ = false;
  std::optional<Clock::time_point> firedAt_;
  Clock::time_point lastReport_{};
  bool sampled_ = false;
  bool sampleFlag_ = false;  // this report is the sampling moment
  int direction_ = 0;        // +1 up, -1 down, 0 still
};

}  // namespace veltra::emu

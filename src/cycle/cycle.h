// The 25 ms cycle: a thread timer on the host's main thread whose every tick
// drains the controller's frames, mirrors them into the host, streams motion
// and sends what changed. The timer stops itself when the host's periodic
// update stops calling, and the next update starts it again.
#pragma once

#include <array>
#include <cstdint>

#include "cycle/change_detected.h"
#include "cycle/cycle_commands.h"
#include "cycle/status_record.h"
#include "platform/timers.h"

namespace veltra::cycle {

inline constexpr std::uint32_t kCyclePeriodMs = 25;
// Ticks without an update after which the timer stops (525 ms).
inline constexpr std::int32_t kTicksWithoutUpdateLimit = 20;
// A link with no status frame for longer than this is dead.
inline constexpr std::uint32_t kLinkTimeoutMs = 2500;
inline constexpr std::int32_t kKeepAliveEveryTicks = 40;
// Idle frames between a probe contact and the end-of-probe command.
inline constexpr std::int32_t kProbeHitDelayFrames = 2;
// Frames the host's jogging state stays raised after an accepted request.
inline constexpr std::int32_t kJogHoldFrames = 2;
// Bit 0 of PlannerBlock.MotionFlags: the host shows the machine jogging.
inline constexpr std::uint32_t kMotionFlagJogging = 1u << 0;

struct CycleState {
  std::int32_t TicksWithoutUpdate = 0;
  bool CycleBusy = false;  // a tick that finds it set does nothing
  std::uint32_t LastStatusTick = 0;
  StatusRecord Status;      // the last status frame
  StatusRecord StatusCopy;  // what the status window was last given
  std::uint16_t ControllerBuffered = 0;
  std::uint16_t ControllerReceived = 0;
  std::uint8_t ControllerMode = 0;
  std::array<std::uint32_t, kStatusAnalogCount> AnalogRaw{};
  std::array<std::int32_t, kStatusAxisCount> LastPublishedSteps{};
  bool PositionsValid = false;  // false until the first frame after load
  std::int32_t JogHoldFrames = 0;
  bool ProbeHitPending = false;  // the end-of-probe command is still to go
  std::int32_t ProbeHitDelay = 0;
  // Raised at a probe hit and at the end-of-probe command; the periodic
  // update pulses the host's probe input from them.
  bool ProbeHitFlag = false;
  bool ProbeEndFlag = false;
  bool RigidTapSeen = false;
  ChangeDetectedPayload<outputs_payload::kSize> LastOutputs;
  std::int32_t KeepAliveTicks = 0;
};

CycleState& Cycle();

// Starts the cycle timer unless it runs; the periodic update calls it.
void ArmCycleTimer();
// The timer callback: the watchdog, then one cycle.
void TimerTick(platform::TimerId timer);
// One tick. A tick that arrives while one runs (a modal box inside a step
// dispatches timer messages) returns at once.
void RunCycle();

// The host's output signal records.
inline constexpr int kOutputSignalCount = 30;

// The controller output pins the host's output signals ask for: bit n-1 for
// pin n.
std::uint32_t OutputPinMask();
OutputsPayload EncodeOutputsPayload(std::uint32_t pinMask, std::uint16_t controlFlags);

// Waits 100 ms, then five times takes one waiting frame into Status and
// waits 100 ms: what the controller sent before a shutdown or restart.
void TakeWaitingFrames();

}  // namespace veltra::cycle

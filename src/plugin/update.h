// The host's periodic update: it keeps the cycle timer alive and does what
// belongs to the host's pace: the generic MPG pendant, the encoder mirror,
// shuttle and MPG jog mode, the probe input pulse, the verify start, the
// host request, the THC indicators and the dump of the controller's debug
// records.
#pragma once

#include <array>
#include <cstdint>

namespace veltra::plugin {

inline constexpr int kMirroredEncoders = 4;  // Encoder1..4; MPG1..3 follow them

// The pendant's axis selector result.
namespace pendant_selection {
inline constexpr std::int32_t kNothing = 0;
inline constexpr std::int32_t kAxis = 1;
inline constexpr std::int32_t kShuttle = 2;
inline constexpr std::int32_t kFeedOverride = 3;
inline constexpr std::int32_t kSpindleOverride = 4;
inline constexpr std::int32_t kThcNominalVoltage = 5;
inline constexpr std::int32_t kThcVoltageOverride = 6;
}  // namespace pendant_selection

struct UpdateState {
  std::int32_t PendantSelection = pendant_selection::kNothing;
  std::int32_t PendantLastCount = 0;  // MPG1 at the previous update
  // LED 106 as the last update read it; the pendant sees the previous one.
  std::int32_t ShuttleMode = 0;
  std::array<std::int32_t, kMirroredEncoders> EncoderLastMirrored{};
  // Host count minus controller count: a host that zeroes an encoder keeps
  // it zero-based.
  std::array<std::int32_t, kMirroredEncoders> EncoderOffset{};
  bool ProbeSignalRaised = false;
  bool VerifyButtonPressed = false;
};

UpdateState& Updates();

void Update();

// The controller's debug records waiting on the bulk channel, appended to
// "dbg.txt" in the current directory; true when records were taken.
bool DebugDump();

}  // namespace veltra::plugin

#include "plugin/update.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "config/config_record.h"
#include "cycle/cycle.h"
#include "cycle/special_inputs.h"
#include "cycle/status_rules.h"
#include "cycle/thc.h"
#include "link/command_table.h"
#include "link/commands.h"
#include "link/controller_socket.h"
#include "platform/keyboard.h"
#include "platform/messages.h"
#include "plugin/host_blocks.h"
#include "plugin/host_callbacks.h"
#include "plugin/lifecycle.h"
#include "plugin/numeric.h"
#include "plugin/plugin_state.h"
#include "settings/process_settings.h"
#include "ui/config_dialog.h"
#include "ui/window_handles.h"

namespace veltra::plugin {
namespace {

constexpr std::int32_t kDroSpindleOverride = 74;
constexpr std::int32_t kDroFeedOverride = 821;
constexpr std::int32_t kDroThcNominalVoltage = 1501;
constexpr std::int32_t kDroThcVoltageOverride = 1502;
constexpr std::int32_t kDroThcEffectiveVoltage = 1503;
constexpr std::int32_t kLedShuttleMode = 106;
constexpr std::int32_t kLedManualThc = 1501;
constexpr std::int32_t kLedThcOverride = 1502;
constexpr std::int32_t kButtonShuttleToggle = 284;
constexpr std::int32_t kButtonVerify = 105;

constexpr int kFirstOemInputRecord = 28;   // OEM input n is record 28 + n
constexpr int kFirstOemOutputRecord = 6;   // OEM output n is record n + 6
constexpr int kMpg1 = 4;                   // the pendant's wheel among the counters
constexpr int kFirstMpg = 4;
constexpr int kCounterCount = 7;
constexpr std::int32_t kJogModeMpg = 2;
constexpr std::uint8_t kFirstCounterShuttleSource = 4;  // below: an analog input
constexpr std::size_t kShuttleRowsFrom = 3;             // rows 3..5 may be set to Shuttle
constexpr std::int32_t kPendantFunctionShuttle = 1;
constexpr std::int32_t kHighestPendantFunction = 5;

constexpr double kOverrideMin = 0.0, kOverrideMax = 250.0;
constexpr double kNominalVoltageMin = 50.0, kNominalVoltageMax = 300.0;
constexpr double kVoltageOverrideMin = 80.0, kVoltageOverrideMax = 120.0;
constexpr double kVoltsPerWheelUnit = 0.1;

constexpr std::size_t kDebugPeekBytes = 16000;

// OEM numbers come from the profile; one that names no host record reads as
// inactive and drives nothing.
bool OemInputActive(std::int32_t oem) {
  const std::int64_t record = kFirstOemInputRecord + std::int64_t{oem};
  return record >= 0 && record < cycle::kInputSignalCount && EngineBlock::InputSignalActive.Get(record) != 0;
}

void SetOemOutputIfEnabled(std::int32_t oem, bool on) {
  const std::int64_t record = std::int64_t{oem} + kFirstOemOutputRecord;
  if (record < 0 || record >= cycle::kOutputSignalCount || EngineBlock::OutputSignalEnabled.Get(record) == 0) return;
  EngineBlock::OutputSignalState.Set(record, on ? 1 : 0);
}

const cycle::StatusRecord& LastStatus() { return cycle::Cycle().Status; }

// --- The pendant ---

void PendantEStopButton(const settings::PendantSettings& pendant) {
  if (pendant.button.enabled == 0 || !OemInputActive(pendant.button.oem)) return;
  EngineBlock::EStopCause.Set(0);
  EngineBlock::EStop.Set(1);
}

// The last active row decides; a row set to a function that does not exist
// selects nothing.
std::int32_t SelectByAxisSelector(const settings::PendantSettings& pendant) {
  std::int32_t selection = pendant_selection::kNothing;
  for (const settings::PendantAxisRow& row : pendant.axisRows) {
    if (row.enabled == 0 || row.function < 0 || row.function > kHighestPendantFunction || !OemInputActive(row.oem)) {
      continue;
    }
    selection = row.function + 1;
    if (selection == pendant_selection::kAxis) PlannerBlock::SelectedAxis.Set(row.row);
  }
  return selection;
}

// Shuttle mode follows the selector when a row is set to Shuttle.
void FollowShuttleSelection(const settings::PendantSettings& pendant, std::int32_t selection) {
  const bool shuttleOn = host::GetLed(kLedShuttleMode);
  if (selection == pendant_selection::kShuttle) {
    if (!shuttleOn) host::PressButton(kButtonShuttleToggle);
    return;
  }
  const bool aRowIsShuttle = std::any_of(pendant.axisRows.begin() + kShuttleRowsFrom, pendant.axisRows.end(),
                                         [](const auto& row) { return row.function == kPendantFunctionShuttle; });
  if (aRowIsShuttle && shuttleOn) host::PressButton(kButtonShuttleToggle);
}

void SelectJogStep(const settings::PendantSettings& pendant) {
  for (const settings::PendantStepRow& row : pendant.stepRows) {
    if (row.enabled != 0 && OemInputActive(row.oem)) PlannerBlock::JogIncrement.Set(row.step);
  }
}

void FollowJogMode(std::int32_t selection) {
  if (Updates().ShuttleMode == 0 && selection != pendant_selection::kShuttle) {
    if (selection == pendant_selection::kAxis) {
      PlannerBlock::JogMode.Set(kJogModeMpg);
    } else if (PlannerBlock::JogMode.Get() == kJogModeMpg) {
      PlannerBlock::JogMode.Set(0);
    }
  } else if (selection == pendant_selection::kAxis) {
    ShowStatus("End shuttle mode first!");
  }
}

void AdjustDro(std::int32_t dro, double change, double low, double high) {
  host::SetDro(dro, std::clamp(host::GetDro(dro) + change, low, high));
}

void TurnWheel(std::int32_t selection, std::int32_t counts) {
  const double scale = cycle::UsableCountsPerUnit(PlannerBlock::EncoderScale.Get(kMpg1));
  switch (selection) {
    case pendant_selection::kFeedOverride:
      AdjustDro(kDroFeedOverride, counts / scale, kOverrideMin, kOverrideMax);
      break;
    case pendant_selection::kSpindleOverride:
      AdjustDro(kDroSpindleOverride, counts / scale, kOverrideMin, kOverrideMax);
      break;
    case pendant_selection::kThcNominalVoltage:
      AdjustDro(kDroThcNominalVoltage, kVoltsPerWheelUnit / scale * counts, kNominalVoltageMin, kNominalVoltageMax);
      break;
    case pendant_selection::kThcVoltageOverride:
      AdjustDro(kDroThcVoltageOverride, kVoltsPerWheelUnit / scale * counts, kVoltageOverrideMin,
                kVoltageOverrideMax);
      break;
    default:
      break;
  }
}

void RunPendant() {
  const settings::PendantSettings& pendant = settings::Process().pendant;
  if (pendant.EnablePendant == 0) return;
  UpdateState& state = Updates();
  PendantEStopButton(pendant);
  state.PendantSelection = SelectByAxisSelector(pendant);
  FollowShuttleSelection(pendant, state.PendantSelection);
  if (state.PendantSelection == pendant_selection::kAxis) SelectJogStep(pendant);
  if (EngineBlock::EStop.Get() != 0 && state.PendantSelection == pendant_selection::kAxis) {
    state.PendantSelection = pendant_selection::kNothing;
  }
  if (pendant.led.enabled != 0) SetOemOutputIfEnabled(pendant.led.oem, state.PendantSelection != 0);
  FollowJogMode(state.PendantSelection);
  const std::int32_t wheel = LastStatus().EncoderCounts[kMpg1];
  const std::int32_t turned = WrappingDifference(wheel, state.PendantLastCount);
  if (turned != 0) TurnWheel(state.PendantSelection, turned);
  state.PendantLastCount = wheel;
}

// --- Encoders, jog mode, probe, verify, host request ---

void MirrorEncoders() {
  UpdateState& state = Updates();
  const auto& wired = config::Uploaded().EncoderWired;
  const auto& counts = LastStatus().EncoderCounts;
  for (int i = 0; i < kMirroredEncoders; ++i) {
    const std::int32_t host = EngineBlock::EncoderCount.Get(i);
    const std::int32_t changedByHost = WrappingDifference(host, state.EncoderLastMirrored[i]);
    if (changedByHost != 0) state.EncoderOffset[i] = WrappingSum(state.EncoderOffset[i], changedByHost);
    if (wired[i]) EngineBlock::EncoderCount.Set(i, WrappingSum(state.EncoderOffset[i], counts[i]));
    state.EncoderLastMirrored[i] = EngineBlock::EncoderCount.Get(i);
  }
  if (ui::TheConfigDialog().general.HwMPG != 0) return;
  for (int i = kFirstMpg; i < kCounterCount; ++i) {
    if (wired[i]) EngineBlock::EncoderCount.Set(i, counts[i]);
  }
}

void MirrorEncodersOrShuttle() {
  if (Updates().ShuttleMode == 0) {
    MirrorEncoders();
  } else if (config::TheConfigRecord().Get(config::ConfigField::ShuttleSource) >= kFirstCounterShuttleSource) {
    PlannerBlock::JogMode.Set(kJogModeMpg);
  }
}

void LeaveMpgModeWithoutMpg() {
  const auto& wired = config::Uploaded().EncoderWired;
  const bool anyMpg = std::any_of(wired.begin() + kFirstMpg, wired.end(), [](bool w) { return w; });
  if (PlannerBlock::JogMode.Get() == kJogModeMpg && !anyMpg) PlannerBlock::JogMode.Set(0);
}

// A probe hit raises the host's probe input for at least one update; the
// end of the probe lowers it at the next one.
void PulseProbeInput() {
  UpdateState& state = Updates();
  cycle::CycleState& cycle = cycle::Cycle();
  if (!cycle.ProbeHitFlag && state.ProbeSignalRaised) {
    EngineBlock::InputSignalActive.Set(cycle::kInputProbe, 0);
    state.ProbeSignalRaised = false;
  }
  if (cycle.ProbeHitFlag) {
    if (EngineBlock::InputSignalActive.Get(cycle::kInputProbe) == 0) state.ProbeSignalRaised = true;
    EngineBlock::InputSignalActive.Set(cycle::kInputProbe, 1);
  }
  if (cycle.ProbeEndFlag) {
    cycle.ProbeEndFlag = false;
    cycle.ProbeHitFlag = false;
  }
}

// The cycle feeds the status window only while frames come; an offline
// window is told once there is nothing more.
void RefreshOfflineStatusWindow() {
  const ui::CycleWindows& windows = ui::Windows();
  if (ui::WindowExists(windows.statusWindow) && windows.statusWindowShowsOnline && !link::Online()) {
    platform::PostToWindow(windows.statusWindow, ui::kMsgNewData, 0, 0);
  }
}

void StartVerify() {
  UpdateState& state = Updates();
  if (PlannerBlock::VerifyActive.Get() == 0) {
    state.VerifyButtonPressed = false;
  } else if (!state.VerifyButtonPressed) {
    state.VerifyButtonPressed = true;
    host::PressButton(kButtonVerify);
  }
}

void ForwardHostRequest() {
  if (EngineBlock::HostRequest.Get() == 0 || !link::Online()) return;
  link::SendCommand(link::CMD_HOST_REQUEST);
  EngineBlock::HostRequest.Set(0);
}

// --- THC indicators ---

void ShowManualThc() {
  host::SetLed(kLedManualThc, ui::TheConfigDialog().thcOptions.ManualTHC != 0 && platform::NumLockOn());
}

void LimitVoltageOverride() {
  const double percent = host::GetDro(kDroThcVoltageOverride);
  if (percent > kVoltageOverrideMax) {
    host::SetDro(kDroThcVoltageOverride, kVoltageOverrideMax);
  } else if (percent < kVoltageOverrideMin) {
    host::SetDro(kDroThcVoltageOverride, kVoltageOverrideMin);
  }
}

void ShowEffectiveThcVoltage() {
  const cycle::ThcRuntime& thc = cycle::Thc();
  const bool sampled = ui::TheConfigDialog().thcOptions.THCVSample != 0 && thc.SampledVoltageValid;
  const double base = sampled ? thc.SampledVoltage : host::GetDro(kDroThcNominalVoltage);
  const double effective = host::GetDro(kDroThcVoltageOverride) * base * 0.01;
  host::SetDro(kDroThcEffectiveVoltage, effective);
  // Lit when the override changes the voltage by a tenth of a volt or more.
  host::SetLed(kLedThcOverride, std::floor(base * 10 + 0.5) != std::floor(effective * 10 + 0.5));
}

}  // namespace

UpdateState& Updates() {
  static UpdateState state;
  return state;
}

void Update() {
  State().UpdateSeen = true;
  cycle::ArmCycleTimer();
  RunPendant();
  Updates().ShuttleMode = host::GetLed(kLedShuttleMode) ? 1 : 0;
  MirrorEncodersOrShuttle();
  LeaveMpgModeWithoutMpg();
  PulseProbeInput();
  RefreshOfflineStatusWindow();
  StartVerify();
  ForwardHostRequest();
  ShowManualThc();
  LimitVoltageOverride();
  ShowEffectiveThcVoltage();
  DebugDump();
}

bool DebugDump() {
  link::ControllerSocket& bulk = link::BulkChannel();
  if (bulk.Connected == 0) return false;
  static std::array<std::byte, kDebugPeekBytes> bytes;
  const int waiting = bulk.Receive(bytes, true);
  if (waiting < static_cast<int>(link::debug_record::kSize)) return false;
  const std::size_t whole = static_cast<std::size_t>(waiting) / link::debug_record::kSize * link::debug_record::kSize;
  const int taken = bulk.Receive(std::span<std::byte>(bytes.data(), whole), false);
  if (taken <= 0) return false;
  // Records taken are gone even when the file cannot be opened.
  std::FILE* file = std::fopen("dbg.txt", "a");
  if (!file) return false;
  const std::size_t records = static_cast<std::size_t>(taken) / link::debug_record::kSize;
  for (std::size_t r = 0; r < records; ++r) {
    const link::DebugRecord record = link::DecodeDebugRecord(
        std::span<const std::byte, link::debug_record::kSize>(bytes.data() + r * link::debug_record::kSize,
                                                              link::debug_record::kSize));
    std::fprintf(file, "%d\t%d\t%f\n", record.first, record.second, record.real);
  }
  std::fclose(file);
  return true;
}

}  // namespace veltra::plugin

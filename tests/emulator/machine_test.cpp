// The substitute controller's machine, command by command.
#include "machine.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "cycle/cycle_commands.h"
#include "link/command_table.h"
#include "link/wire.h"

namespace veltra::emu {
namespace {

using Change = std::function<void(cycle::StatusRecord&)>;
using Bytes = std::vector<std::uint8_t>;

Bytes SetPositionPayload(std::array<std::int32_t, 6> positions, std::uint8_t mask) {
  Bytes payload(cycle::set_position_payload::kSize);
  auto bytes = std::as_writable_bytes(std::span(payload));
  for (int a = 0; a < 6; ++a) wire::Put(bytes, cycle::set_position_payload::kPositions + 4 * a, positions[a]);
  wire::Put(bytes, cycle::set_position_payload::kAxisMask, mask);
  return payload;
}

struct CommandCase {
  const char* name;
  Change before;
  ReceivedCommand command;
  Change expected;  // applied to the status before the command
};

const Change kMoving = [](cycle::StatusRecord& s) {
  s.Mode = cycle::kModeSegment;
  s.Sequence = cycle::kSequenceProbeContact;
  s.BufferedRecords = 500;
  s.ReceivedRecords = 1234;
  s.StepPositions = {1, 2, 3, 4, 5, 6};
};

class MachineCommands : public ::testing::TestWithParam<CommandCase> {};

TEST_P(MachineCommands, SetTheStatusTheNextFrameReports) {
  const CommandCase& c = GetParam();
  cycle::StatusRecord initial;
  c.before(initial);
  SimulatedMachine machine(initial);
  machine.Execute(c.command);
  cycle::StatusRecord expected = initial;
  c.expected(expected);
  EXPECT_EQ(machine.Status(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MachineCommands,
    ::testing::Values(
        CommandCase{"OutputsDriveThePins", kMoving, {link::CMD_SET_OUTPUTS, {0x10, 0, 0, 0x80, 0x41, 0}},
                    [](cycle::StatusRecord& s) { s.OutputPins = 0x80000010; }},
        CommandCase{"PositionsOfTheMaskedAxes", kMoving,
                    {link::CMD_SET_POSITION, SetPositionPayload({-7, 99, 70, 99, 99, 99}, 0x05)},
                    [](cycle::StatusRecord& s) { s.StepPositions = {-7, 2, 70, 4, 5, 6}; }},
        CommandCase{"StopEndsTheMotion", kMoving, {link::CMD_STOP, {}},
                    [](cycle::StatusRecord& s) {
                      s.Mode = cycle::kModeIdle;
                      s.Sequence = cycle::kSequenceNone;
                      s.BufferedRecords = 0;
                      s.ReceivedRecords = 0;
                    }},
        CommandCase{"StopLeavesAnEStop",
                    [](cycle::StatusRecord& s) {
                      s.Mode = cycle::kModeEStop;
                      s.Fault = kFaultCommunication;
                    },
                    {link::CMD_STOP, {}}, [](cycle::StatusRecord&) {}},
        CommandCase{"EmergencyStop", kMoving, {link::CMD_STOP, {1}},
                    [](cycle::StatusRecord& s) {
                      s.Mode = cycle::kModeEStop;
                      s.Sequence = cycle::kSequenceNone;
                      s.Fault = kFaultEStop;
                      s.BufferedRecords = 0;
                      s.ReceivedRecords = 0;
                    }},
        CommandCase{"ShutDown", kMoving, {link::CMD_STOP, {3}},
                    [](cycle::StatusRecord& s) {
                      s.Mode = cycle::kModeSafe;
                      s.Sequence = cycle::kSequenceNone;
                      s.BufferedRecords = 0;
                      s.ReceivedRecords = 0;
                    }},
        CommandCase{"EndOfProbe", kMoving, {link::CMD_END_PROBE, {}},
                    [](cycle::StatusRecord& s) {
                      s.Mode = cycle::kModeIdle;
                      s.Sequence = cycle::kSequenceNone;
                    }},
        CommandCase{"EndOfProbeWithoutAProbe", [](cycle::StatusRecord& s) { s.Sequence = 3; },
                    {link::CMD_END_PROBE, {}}, [](cycle::StatusRecord&) {}},
        CommandCase{"DiscardBuffer", kMoving, {link::CMD_DISCARD_BUFFER, {0, 0, 0, 0}},
                    [](cycle::StatusRecord& s) { s.BufferedRecords = 0; }},
        CommandCase{"KeepAlive", kMoving, {link::CMD_KEEPALIVE, {}}, [](cycle::StatusRecord&) {}},
        CommandCase{"HostRequest", kMoving, {link::CMD_HOST_REQUEST, {}}, [](cycle::StatusRecord&) {}},
        CommandCase{"AcceptRequest", kMoving, {link::CMD_ACCEPT_REQUEST, {1}}, [](cycle::StatusRecord&) {}}),
    [](const auto& info) { return info.param.name; });

TEST(Machine, AConfigurationIsKeptAndClearsAnEStopUnlessTheInputHoldsIt) {
  cycle::StatusRecord initial;
  initial.ReceivedRecords = 40;
  SimulatedMachine machine(initial);
  EXPECT_FALSE(machine.Configuration().has_value());
  machine.EnterEStop(kFaultCommunication);
  Bytes record(config::kConfigRecordSize);
  record[config::ConfigField::ModeFlags.offset] = 0x84;
  record[config::AxisConfig::SlaveOf.offset + 3 * config::kAxisConfigSize] = 2;
  machine.Execute({link::CMD_STOP, {3}});
  EXPECT_TRUE(machine.ShutDown());
  machine.Execute({link::CMD_CONFIGURE, record});
  ASSERT_TRUE(machine.Configuration().has_value());
  EXPECT_EQ(machine.Configuration()->Get(config::ConfigField::ModeFlags), 0x84);
  EXPECT_EQ(machine.Configuration()->Get(config::AxisConfig::SlaveOf, 3), 2);
  EXPECT_FALSE(machine.ShutDown());
  EXPECT_EQ(machine.Status().Mode, cycle::kModeIdle);
  EXPECT_EQ(machine.Status().Fault, kFaultNone);
  EXPECT_EQ(machine.Status().ReceivedRecords, 0);

  machine.SetEStopInput(true);
  EXPECT_EQ(machine.Status().Mode, cycle::kModeEStop);
  EXPECT_EQ(machine.Status().Fault, kFaultEStop);
  machine.Execute({link::CMD_CONFIGURE, record});
  EXPECT_EQ(machine.Status().Mode, cycle::kModeEStop);
  machine.SetEStopInput(false);
  machine.Execute({link::CMD_CONFIGURE, record});
  EXPECT_EQ(machine.Status().Mode, cycle::kModeIdle);
}

TEST(Machine, OutputsKeepTheControlFlags) {
  SimulatedMachine machine(cycle::StatusRecord{});
  machine.Execute({link::CMD_SET_OUTPUTS, {1, 0, 0, 0, 0x09, 0x00}});
  EXPECT_EQ(machine.ControlFlags(), 0x09);
}

TEST(Machine, AProbeContactRestartsTheCountOfRecordsReceived) {
  cycle::StatusRecord initial;
  initial.ReceivedRecords = 300;
  SimulatedMachine machine(initial);
  EXPECT_EQ(machine.Report(SimulatedMachine::Clock::now()).ReceivedRecords, 300);
  machine.Status().Sequence = cycle::kSequenceProbeContact;
  EXPECT_EQ(machine.Report(SimulatedMachine::Clock::now()).ReceivedRecords, 0);
  machine.Status().ReceivedRecords = 5;
  EXPECT_EQ(machine.Report(SimulatedMachine::Clock::now()).ReceivedRecords, 5) << "only when the contact begins";
}

}  // namespace
}  // namespace veltra::emu

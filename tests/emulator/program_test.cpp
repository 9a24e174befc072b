// veltra-emu as a program: its command line, and a plugin connecting to it.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <string>
#include <vector>

#include "controller_fixture.h"
#include "cycle/status_record.h"
#include "link/controller_socket.h"
#include "link/host_address.h"
#include "loopback.h"
#include "options.h"

extern char** environ;

namespace veltra::emu {
namespace {

TEST(CommandLine, SetsTheOptionsTheStatusFieldsAndTheFaults) {
  EmulatorOptions options;
  std::string error;
  ASSERT_EQ(ParseCommandLine({"--address",
                              "127.0.0.9",
                              "--bootloader",
                              "1",
                              "--firmware-version",
                              "02.00",
                              "--mode",
                              "2",
                              "--flags",
                              "0x208",
                              "--steps",
                              "1,-2,3,-4,5,-6",
                              "--analog",
                              "1,2,3,65535",
                              "--spindle-rate",
                              "2.5",
                              "--turn",
                              "0,0,0,0,40,0,-7",
                              "--short-identify",
                              "--close-after",
                              "3",
                              "--time-scale",
                              "2.5",
                              "--probe-surface",
                              "2,-400,-1",
                              "--quiet"},
                             options, error),
            CommandLineResult::Run)
      << error;
  EXPECT_EQ(options.address, "127.0.0.9");
  EXPECT_EQ(options.bootloaderByte, 1);
  EXPECT_EQ(options.firmwareVersion, "02.00");
  EXPECT_EQ(options.status.Mode, 2);
  EXPECT_EQ(options.status.Flags, 0x208);
  EXPECT_EQ(options.status.StepPositions, (std::array<std::int32_t, 6>{1, -2, 3, -4, 5, -6}));
  EXPECT_EQ(options.status.AnalogInputs, (std::array<std::uint16_t, 4>{1, 2, 3, 65535}));
  EXPECT_EQ(options.status.SpindleRate, 2.5f);
  EXPECT_EQ(options.counterRates, (CounterRates{0, 0, 0, 0, 40, 0, -7}));
  EXPECT_TRUE(options.faults.shortIdentify);
  EXPECT_EQ(options.faults.closeAfterFrames, 3);
  EXPECT_EQ(options.timeScale, 2.5);
  EXPECT_EQ(options.probeSurface, (ProbeSurface{2, -400, -1}));
  EXPECT_FALSE(options.logRejects);
}

TEST(CommandLine, RefusesWhatItCannotUse) {
  struct Case {
    std::vector<std::string> arguments;
    CommandLineResult result;
    std::string error;
  };
  const Case cases[] = {
      {{"--help"}, CommandLineResult::ShowHelp, ""},
      {{"--mode", "256"}, CommandLineResult::Error, "bad value for --mode: 256"},
      {{"--steps", "1,2,3"}, CommandLineResult::Error, "bad value for --steps: 1,2,3"},
      {{"--status-period", "ten"}, CommandLineResult::Error, "bad value for --status-period: ten"},
      {{"--mode"}, CommandLineResult::Error, "--mode needs a value (N)"},
      {{"--time-scale", "0"}, CommandLineResult::Error, "bad value for --time-scale: 0"},
      {{"--time-scale", "5000"}, CommandLineResult::Error, "bad value for --time-scale: 5000"},
      {{"--probe-surface", "6,0,-1"}, CommandLineResult::Error, "bad value for --probe-surface: 6,0,-1"},
      {{"--probe-surface", "2,0,0"}, CommandLineResult::Error, "bad value for --probe-surface: 2,0,0"},
      {{"--bogus"}, CommandLineResult::Error, "unknown option --bogus"},
  };
  for (const Case& c : cases) {
    EmulatorOptions options;
    std::string error;
    EXPECT_EQ(ParseCommandLine(c.arguments, options, error), c.result) << c.arguments[0];
    EXPECT_EQ(error, c.error);
  }
}

TEST(Program, HelpDescribesTheOptions) {
  FILE* output = popen(VELTRA_EMU_PROGRAM " --help", "r");
  ASSERT_NE(output, nullptr);
  std::string text;
  std::array<char, 512> chunk{};
  while (std::fgets(chunk.data(), chunk.size(), output)) text += chunk.data();
  EXPECT_EQ(pclose(output), 0);
  EXPECT_EQ(text, UsageText());
  for (const char* option : {"--address", "--bootloader", "--firmware-version", "--refuse", "--partial-frame"}) {
    EXPECT_NE(text.find(option), std::string::npos) << option;
  }
}

TEST(Program, RunsAloneAndThePluginConnectsToIt) {
  veltra::testing::MessageBoxRecorder boxes;
  const std::string where = veltra::testing::TestLoopbackAddress();
  std::vector<std::string> arguments{
      VELTRA_EMU_PROGRAM, "--address", where,     "--bootloader", "1", "--firmware-version", "03.21",
      "--mode",           "2",         "--steps", "1,2,3,4,5,6"};
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, VELTRA_EMU_PROGRAM, nullptr, nullptr, argv.data(), environ), 0);

  link::SetHostAddressFromName(where);
  const bool connected = veltra::testing::PumpUntil([] { return link::Connect(true); }, 10000);
  std::array<std::byte, cycle::kStatusRecordSize> frame{};
  const bool framed = connected && veltra::testing::PumpUntil([&] { return link::ReadReply(frame); });
  link::Disconnect();
  kill(pid, SIGTERM);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);

  ASSERT_TRUE(connected);
  EXPECT_EQ(link::Link().BootloaderActive, 1);
  EXPECT_EQ(link::FirmwareVersionText(), "03.21");
  ASSERT_TRUE(framed);
  const cycle::StatusRecord record = cycle::DecodeStatusRecord(frame);
  EXPECT_EQ(record.Mode, 2);
  EXPECT_EQ(record.StepPositions, (std::array<std::int32_t, 6>{1, 2, 3, 4, 5, 6}));
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_TRUE(boxes.Texts().empty());
}

}  // namespace
}  // namespace veltra::emu

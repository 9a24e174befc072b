// veltra-emu: the substitute controller as a program of its own. It serves
// until it is interrupted or terminated.
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "emulator.h"
#include "options.h"

int main(int argc, char** argv) {
  using namespace veltra::emu;
  EmulatorOptions options;
  std::string error;
  switch (ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
    case CommandLineResult::ShowHelp:
      std::fputs(UsageText().c_str(), stdout);
      return 0;
    case CommandLineResult::Error:
      std::fprintf(stderr, "veltra-emu: %s (see --help)\n", error.c_str());
      return 2;
    case CommandLineResult::Run:
      break;
  }

  // The serving thread inherits the blocked signals; this thread waits for
  // them. A shell that starts us in the background ignores SIGINT, and an
  // ignored signal would never reach sigwait.
  std::signal(SIGINT, SIG_DFL);
  std::signal(SIGTERM, SIG_DFL);
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  Emulator emulator(options);
  if (!emulator.Start(&error)) {
    std::fprintf(stderr, "veltra-emu: %s\n", error.c_str());
    return 1;
  }
  std::printf("veltra-emu: listening on %s:%u and %s:%u\n", options.address.c_str(), options.commandPort,
              options.address.c_str(), options.bulkPort);
  std::fflush(stdout);
  int received = 0;
  sigwait(&stopSignals, &received);
  // What the motion came to, for the scripts that check a session.
  const MotionStats motion = emulator.Motion();
  std::printf("veltra-emu: motion: %llu records executed, %d underruns, %d overruns, lowest buffer level %s, "
              "steps %d,%d,%d,%d,%d,%d\n",
              static_cast<unsigned long long>(motion.recordsExecuted), motion.underruns, motion.overruns,
              motion.lowestBufferLevel ? std::to_string(*motion.lowestBufferLevel).c_str() : "none",
              motion.stepPositions[0], motion.stepPositions[1], motion.stepPositions[2], motion.stepPositions[3],
              motion.stepPositions[4], motion.stepPositions[5]);
  emulator.Stop();
  return 0;
}

// The substitute VELTRA controller: a TCP server on the command port (32000)
// and the bulk port (32001) of one address, speaking the controller's side
// of the protocol. It validates every frame it receives and records it,
// answers the identify command, hands every valid command and every motion
// record to its simulated machine, reports status frames while both
// channels are connected, watches
// for a silent command channel, and misbehaves on request. It runs on a thread of its own;
// every member function may be called from any thread. A change or a send
// asked for has taken effect when the call returns: the serving thread has
// gone through one turn after it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "cycle/status_record.h"
#include "frame_parser.h"
#include "link/command_table.h"
#include "machine.h"

namespace veltra::emu {

struct Faults {
  bool refuseConnections = false;  // nothing listens: connects are refused
  bool silentIdentify = false;     // connections are taken, identify never answered
  bool shortIdentify = false;      // identify answered with its first 5 bytes only
  int closeAfterFrames = 0;        // both connections closed after so many frames (0: never)
  bool stopStatus = false;         // no status frames
  int partialFrameBytes = 0;       // the next status frame stops after so many bytes until cleared
  int unknownTagEvery = 0;         // an extra frame with unknownTag after every n-th status frame
  std::uint8_t unknownTag = 99;
  int requestEvery = 0;       // a request frame (tag 14) after every n-th status frame
  int debugEvery = 0;         // a debug record on the bulk channel every n-th status period
  bool stallReading = false;  // the plugin's bytes are left unread
  // The command connection is reset once the identify reply is out, so the
  // plugin's next command fails to be written.
  bool resetAfterIdentify = false;
};

struct EmulatorOptions {
  std::string address = "127.0.0.1";
  std::uint16_t commandPort = 32000;
  std::uint16_t bulkPort = 32001;
  std::uint8_t bootloaderByte = 0;
  std::string firmwareVersion = "01.09";  // up to six bytes go out, zero-filled
  std::uint32_t statusPeriodMs = 10;
  // No command for longer than this puts the machine into emergency stop
  // with fault COMMERR; 0 switches the watchdog off.
  std::uint32_t commandTimeoutMs = 0;
  cycle::StatusRecord status;  // what the status frames report until changed
  CounterRates counterRates{};  // the counters turn at these counts per second
  // Simulated time runs this many times as fast as real time (0 < f <= 1000).
  double timeScale = 1.0;
  std::optional<ProbeSurface> probeSurface;  // none: a probe never touches
  // False: the machine executes no motion and leaves every motion field of
  // the status as it is set, for tests that script every frame.
  bool machineMoves = true;
  Faults faults;
  bool logRejects = false;  // to standard error; they are always counted and kept
  bool logFrames = false;   // every valid frame, too, with a short payload in hex
};

class Emulator {
 public:
  explicit Emulator(EmulatorOptions options = {});
  ~Emulator();
  Emulator(const Emulator&) = delete;
  Emulator& operator=(const Emulator&) = delete;

  // Binds both ports and starts serving; false (with the reason) when an
  // address or port cannot be had.
  bool Start(std::string* error = nullptr);
  void Stop();

  void UpdateStatus(const std::function<void(cycle::StatusRecord&)>& change);
  // The machine's status as the next frame reports it (before the time
  // stamp advances).
  cycle::StatusRecord MachineStatus() const;
  // The external e-stop input, and an emergency stop with a fault code of
  // the caller's choice; a configuration received clears the latter.
  void SetEStopInput(bool active);
  void EnterEStop(std::uint8_t fault);
  // The last configuration record received, decoded; none before the first.
  std::optional<config::ConfigRecord> Configuration() const;
  // The control flags word of the last CMD_SET_OUTPUTS.
  std::uint16_t ControlFlags() const;
  // A CMD_STOP with mode 3 arrived since the last configuration.
  bool ShutDown() const;
  // The plasma torch, and the panel's configurations as last received.
  TorchState Torch() const;
  PanelSettings Panel() const;
  // The motion as of now: records executed, underruns, overruns, the lowest
  // buffer level during motion and the step positions.
  MotionStats Motion() const;
  void SetProbeSurface(const std::optional<ProbeSurface>& surface);
  // Turns counter k (Encoder1..4, Mpg1..3) by that many counts.
  void TurnCounter(int counter, std::int32_t counts);
  void UpdateFaults(const std::function<void(Faults&)>& change);
  void SetIdentity(std::uint8_t bootloaderByte, const std::string& firmwareVersion);

  // Bytes sent as they are, once.
  void SendOnCommandChannel(const std::vector<std::uint8_t>& bytes);
  void SendOnBulkChannel(const std::vector<std::uint8_t>& bytes);
  // One frame of the current status with another tag (14: a request).
  void SendFrameWithTag(std::uint8_t tag);
  void SendDebugRecord(const link::DebugRecord& record);
  // Closes both connections, as a controller that drops the link.
  void CloseConnections();

  // What arrived since the start or the last ClearRecords.
  std::vector<ReceivedCommand> Commands() const;
  std::vector<std::uint8_t> CommandChannelBytes() const;
  std::vector<std::uint8_t> BulkChannelBytes() const;
  std::vector<std::string> Rejects() const;
  int StatusFramesSent() const;
  void ClearRecords();

 private:
  struct Connection;
  struct Shared;

  void Serve();
  // Waits for the serving thread to finish a turn begun after this call.
  void AwaitTurn(std::unique_lock<std::mutex>& lock);

  std::unique_ptr<Shared> shared_;
  std::thread thread_;
};

}  // namespace veltra::emu

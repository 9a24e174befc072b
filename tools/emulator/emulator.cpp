#include "emulator.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <string>

#include "plugin/numeric.h"

namespace veltra::emu {
namespace {

using Clock = SimulatedMachine::Clock;
using Bytes = std::vector<std::uint8_t>;

// Status frames are skipped, never cut, while this much waits unsent: a
// plugin that does not read must not make the emulator hoard memory.
constexpr std::size_t kStatusBacklogLimit = 256 * 1024;
constexpr std::size_t kShortIdentifyBytes = 5;
// Payloads up to this size are shown in the frame log.
constexpr std::size_t kLoggedPayloadBytes = 32;

int Listen(const std::string& address, std::uint16_t port, std::string& error) {
  sockaddr_in where{};
  where.sin_family = AF_INET;
  where.sin_port = htons(port);
  if (inet_pton(AF_INET, address.c_str(), &where.sin_addr) != 1) {
    error = "not a dotted IPv4 address: " + address;
    return -1;
  }
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  const int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (bind(fd, reinterpret_cast<const sockaddr*>(&where), sizeof where) != 0 || listen(fd, 8) != 0) {
    error = "cannot listen on " + address + ":" + std::to_string(port) + ": " + std::strerror(errno);
    close(fd);
    return -1;
  }
  return fd;
}

void CloseFd(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

Bytes EncodeStatus(const cycle::StatusRecord& record) {
  std::array<std::byte, cycle::kStatusRecordSize> frame{};
  cycle::EncodeStatusRecord(record, frame);
  Bytes bytes(frame.size());
  std::memcpy(bytes.data(), frame.data(), frame.size());
  return bytes;
}

Bytes EncodeDebug(const link::DebugRecord& record) {
  std::array<std::byte, link::debug_record::kSize> encoded{};
  link::EncodeDebugRecord(record, encoded);
  Bytes bytes(encoded.size());
  std::memcpy(bytes.data(), encoded.data(), encoded.size());
  return bytes;
}

void Append(Bytes& to, const Bytes& bytes) { to.insert(to.end(), bytes.begin(), bytes.end()); }

}  // namespace

struct Emulator::Connection {
  int fd = -1;
  Bytes unsent;
  bool Open() const { return fd >= 0; }
};

// Everything below the mutex is shared between the serving thread and the
// callers; the descriptors are touched by the serving thread only.
struct Emulator::Shared {
  explicit Shared(EmulatorOptions given) : options(std::move(given)), machine(options.status) {
    machine.Panel().SetCounterRates(options.counterRates);
    if (!machine.SetTimeScale(options.timeScale)) {
      std::fprintf(stderr, "veltra-emu: time scale %g cannot be run, keeping 1\n", options.timeScale);
    }
    machine.SetProbeSurface(options.probeSurface);
    machine.SetMotionEnabled(options.machineMoves);
  }

  mutable std::mutex mutex;
  EmulatorOptions options;
  SimulatedMachine machine;

  std::vector<ReceivedCommand> commands;
  Bytes commandBytes;
  Bytes bulkBytes;
  std::vector<std::string> rejects;
  int statusFramesSent = 0;

  Bytes commandInjections;
  Bytes bulkInjections;
  bool closeRequested = false;
  bool stopRequested = false;
  bool serving = false;
  std::uint64_t turnsDone = 0;
  std::condition_variable turnDone;

  int wakeFd = -1;
  int commandListener = -1;
  int bulkListener = -1;
  Connection command;
  Connection bulk;
  FrameParser parser;
  int framesOnConnection = 0;
  Bytes heldFrameRest;  // the part of a partial frame not yet sent
  Bytes partialRecord;  // the start of a motion record split across reads
  bool holdingFrame = false;
  int statusPeriods = 0;
  Clock::time_point nextStatus;
  Clock::time_point lastCommand;
  bool watchdogTripped = false;
  bool resetCommandPending = false;

  void Wake() const {
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t written = write(wakeFd, &one, sizeof one);
  }

  bool Listening() const { return commandListener >= 0; }

  void CloseConnection(Connection& connection) {
    CloseFd(connection.fd);
    connection.unsent.clear();
    if (&connection == &command) {
      parser.Reset();
      framesOnConnection = 0;
      holdingFrame = false;
      heldFrameRest.clear();
    } else {
      partialRecord.clear();
    }
  }

  // Closes with a reset instead of an orderly end.
  void ResetConnection(Connection& connection) {
    if (!connection.Open()) return;
    const linger abort{1, 0};
    setsockopt(connection.fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    CloseConnection(connection);
  }

  void Reject(const std::string& reason) {
    rejects.push_back(reason);
    if (options.logRejects) std::fprintf(stderr, "veltra-emu: rejected frame: %s\n", reason.c_str());
  }

  void AnswerIdentify() {
    if (options.faults.silentIdentify || !bulk.Open()) return;
    Bytes reply(link::identify_reply::kSize, 0);
    reply[link::identify_reply::kBootloaderActive] = options.bootloaderByte;
    const std::string& version = options.firmwareVersion;
    std::copy_n(version.begin(), std::min(version.size(), link::identify_reply::kFirmwareVersionSize),
                reply.begin() + link::identify_reply::kFirmwareVersion);
    if (options.faults.shortIdentify) reply.resize(kShortIdentifyBytes);
    Append(bulk.unsent, reply);
  }

  void LogFrame(const ReceivedCommand& frame) const {
    const link::CommandSpec* spec = link::FindCommand(frame.code);
    std::string text = "veltra-emu: " + std::string(spec->name) + ", " + std::to_string(frame.payload.size()) +
                       " payload bytes";
    if (!frame.payload.empty() && frame.payload.size() <= kLoggedPayloadBytes) {
      text += ":";
      for (std::uint8_t byte : frame.payload) {
        char hex[4];
        std::snprintf(hex, sizeof hex, " %02x", byte);
        text += hex;
      }
    }
    std::fprintf(stderr, "%s\n", text.c_str());
  }

  void OnFrame(const ReceivedCommand& frame) {
    commands.push_back(frame);
    lastCommand = Clock::now();
    watchdogTripped = false;
    if (options.logFrames) LogFrame(frame);
    if (frame.code == link::CMD_IDENTIFY) {
      AnswerIdentify();
      resetCommandPending = options.faults.resetAfterIdentify;
    }
    machine.Execute(frame);
    ++framesOnConnection;
  }

  // A command channel that falls silent puts the machine into emergency
  // stop, once, until the next command.
  void WatchCommands(Clock::time_point now) {
    if (options.commandTimeoutMs == 0 || watchdogTripped || !command.Open() || !bulk.Open()) return;
    if (now - lastCommand <= std::chrono::milliseconds(options.commandTimeoutMs)) return;
    watchdogTripped = true;
    machine.LoseCommunication();
    if (options.logFrames) std::fprintf(stderr, "veltra-emu: no command for %u ms: ESTOP, COMMERR\n",
                                        options.commandTimeoutMs);
  }

  void Receive(Connection& connection) {
    std::uint8_t chunk[65536];
    const ssize_t got = recv(connection.fd, chunk, sizeof chunk, MSG_DONTWAIT);
    if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) {
      CloseConnection(connection);
      return;
    }
    if (got < 0) return;
    const std::span<const std::uint8_t> bytes(chunk, static_cast<std::size_t>(got));
    if (&connection == &bulk) {
      bulkBytes.insert(bulkBytes.end(), bytes.begin(), bytes.end());
      ReceiveMotion(bytes);
      return;
    }
    commandBytes.insert(commandBytes.end(), bytes.begin(), bytes.end());
    parser.Feed(
        bytes, [&](const ReceivedCommand& frame) { OnFrame(frame); },
        [&](const std::string& reason) { Reject(reason); });
    const int closeAfter = options.faults.closeAfterFrames;
    if (closeAfter > 0 && framesOnConnection >= closeAfter) {
      CloseConnection(command);
      CloseConnection(bulk);
    }
  }

  // The bulk channel carries nothing but whole motion records back to back;
  // a read may end inside one.
  void ReceiveMotion(std::span<const std::uint8_t> bytes) {
    constexpr std::size_t kSize = cycle::motion_record::kSize;
    const Clock::time_point now = Clock::now();
    partialRecord.insert(partialRecord.end(), bytes.begin(), bytes.end());
    std::vector<cycle::MotionRecord> records;
    std::size_t used = 0;
    for (; partialRecord.size() - used >= kSize; used += kSize) {
      const auto record = std::as_bytes(std::span<const std::uint8_t>(partialRecord).subspan(used, kSize));
      records.push_back(cycle::DecodeMotionRecord(record.first<kSize>()));
    }
    partialRecord.erase(partialRecord.begin(), partialRecord.begin() + static_cast<std::ptrdiff_t>(used));
    machine.ReceiveMotion(records, now);
  }

  void Accept(int listener, Connection& connection) {
    const int fd = accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) return;
    // A plugin that reconnects replaces its old connection.
    CloseConnection(connection);
    connection.fd = fd;
    if (&connection == &command) {
      lastCommand = Clock::now();
      watchdogTripped = false;
    }
  }

  void FollowListeningFault() {
    if (options.faults.refuseConnections && Listening()) {
      CloseFd(commandListener);
      CloseFd(bulkListener);
      CloseConnection(command);
      CloseConnection(bulk);
    } else if (!options.faults.refuseConnections && !Listening()) {
      std::string error;
      commandListener = Listen(options.address, options.commandPort, error);
      bulkListener = commandListener >= 0 ? Listen(options.address, options.bulkPort, error) : -1;
      if (bulkListener < 0) {
        CloseFd(commandListener);
        std::fprintf(stderr, "veltra-emu: %s\n", error.c_str());
      }
    }
  }

  void SendStatus(Clock::time_point now) {
    const Faults& faults = options.faults;
    if (faults.stopStatus) return;
    if (holdingFrame) {
      if (faults.partialFrameBytes > 0) return;
      Append(command.unsent, heldFrameRest);
      heldFrameRest.clear();
      holdingFrame = false;
      ++statusFramesSent;
      return;
    }
    if (command.unsent.size() > kStatusBacklogLimit) return;
    const cycle::StatusRecord record = machine.Report(now);
    Bytes frame = EncodeStatus(record);
    if (faults.partialFrameBytes > 0) {
      const auto cut = static_cast<std::ptrdiff_t>(std::min<std::size_t>(faults.partialFrameBytes, frame.size()));
      command.unsent.insert(command.unsent.end(), frame.begin(), frame.begin() + cut);
      heldFrameRest.assign(frame.begin() + cut, frame.end());
      holdingFrame = true;
      return;
    }
    Append(command.unsent, frame);
    ++statusFramesSent;
    ++statusPeriods;
    if (faults.unknownTagEvery > 0 && statusPeriods % faults.unknownTagEvery == 0) {
      frame[cycle::status_offset::kTag] = faults.unknownTag;
      Append(command.unsent, frame);
    }
    if (faults.requestEvery > 0 && statusPeriods % faults.requestEvery == 0) {
      frame[cycle::status_offset::kTag] = cycle::kRequestTag;
      Append(command.unsent, frame);
    }
    if (faults.debugEvery > 0 && statusPeriods % faults.debugEvery == 0) {
      Append(bulk.unsent, EncodeDebug({statusPeriods, statusPeriods * 0.5, -statusPeriods}));
    }
  }

  void Flush(Connection& connection) {
    while (connection.Open() && !connection.unsent.empty()) {
      const ssize_t sent =
          send(connection.fd, connection.unsent.data(), connection.unsent.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
      if (sent < 0) {
        if (errno != EAGAIN && errno != EINTR) CloseConnection(connection);
        return;
      }
      connection.unsent.erase(connection.unsent.begin(), connection.unsent.begin() + sent);
    }
  }

  // One turn of the serving loop, after poll() came back.
  void Turn(const std::vector<pollfd>& polled) {
    std::uint64_t drained = 0;
    [[maybe_unused]] ssize_t got = read(wakeFd, &drained, sizeof drained);
    FollowListeningFault();
    for (const pollfd& entry : polled) {
      if (entry.revents == 0) continue;
      if (entry.fd == commandListener) Accept(commandListener, command);
      if (entry.fd == bulkListener) Accept(bulkListener, bulk);
      if (entry.fd == command.fd) Receive(command);
      if (entry.fd == bulk.fd) Receive(bulk);
    }
    if (command.Open()) Append(command.unsent, commandInjections);
    if (bulk.Open()) Append(bulk.unsent, bulkInjections);
    commandInjections.clear();
    bulkInjections.clear();
    if (closeRequested) {
      CloseConnection(command);
      CloseConnection(bulk);
      closeRequested = false;
    }
    const Clock::time_point now = Clock::now();
    machine.Advance(now);
    WatchCommands(now);
    if (now >= nextStatus) {
      const auto period = std::chrono::milliseconds(std::max<std::uint32_t>(options.statusPeriodMs, 1));
      nextStatus = std::max(nextStatus + period, now);
      if (command.Open() && bulk.Open()) SendStatus(now);
    }
    Flush(command);
    Flush(bulk);
    if (resetCommandPending && bulk.unsent.empty()) {
      resetCommandPending = false;
      ResetConnection(command);
    }
  }

  std::vector<pollfd> PollSet() const {
    std::vector<pollfd> set{{wakeFd, POLLIN, 0}};
    for (int listener : {commandListener, bulkListener}) {
      if (listener >= 0) set.push_back({listener, POLLIN, 0});
    }
    // Motion records are read before commands, so that records written
    // before a command (a stop, a discard) reach the machine before it.
    for (const Connection* connection : {&bulk, &command}) {
      if (!connection->Open()) continue;
      short events = options.faults.stallReading ? 0 : POLLIN;
      if (!connection->unsent.empty()) events |= POLLOUT;
      set.push_back({connection->fd, events, 0});
    }
    return set;
  }
};

Emulator::Emulator(EmulatorOptions options) : shared_(std::make_unique<Shared>(std::move(options))) {}

Emulator::~Emulator() { Stop(); }

bool Emulator::Start(std::string* error) {
  Shared& s = *shared_;
  std::string reason;
  s.commandListener = Listen(s.options.address, s.options.commandPort, reason);
  if (s.commandListener >= 0) s.bulkListener = Listen(s.options.address, s.options.bulkPort, reason);
  if (s.bulkListener < 0) {
    CloseFd(s.commandListener);
    if (error) *error = reason;
    return false;
  }
  // The ports were free; a refusing controller gives them up at once.
  if (s.options.faults.refuseConnections) {
    CloseFd(s.commandListener);
    CloseFd(s.bulkListener);
  }
  s.wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  s.nextStatus = Clock::now();
  s.serving = true;
  thread_ = std::thread([this] { Serve(); });
  return true;
}

void Emulator::Serve() {
  Shared& s = *shared_;
  std::unique_lock lock(s.mutex);
  while (!s.stopRequested) {
    std::vector<pollfd> set = s.PollSet();
    // Rounded up: a wait cut down to 0 ms would spin until the next frame.
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(s.nextStatus - Clock::now()).count();
    lock.unlock();
    poll(set.data(), set.size(), static_cast<int>(std::clamp<long long>(wait, 0, 100)));
    lock.lock();
    if (!s.stopRequested) s.Turn(set);
    ++s.turnsDone;
    s.turnDone.notify_all();
  }
  s.serving = false;
  s.turnDone.notify_all();
  s.CloseConnection(s.command);
  s.CloseConnection(s.bulk);
  CloseFd(s.commandListener);
  CloseFd(s.bulkListener);
}

void Emulator::Stop() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard lock(shared_->mutex);
    shared_->stopRequested = true;
    shared_->Wake();
  }
  thread_.join();
  CloseFd(shared_->wakeFd);
}

void Emulator::AwaitTurn(std::unique_lock<std::mutex>& lock) {
  Shared& s = *shared_;
  if (!s.serving) return;
  const std::uint64_t after = s.turnsDone + 1;
  s.Wake();
  s.turnDone.wait(lock, [&] { return s.turnsDone >= after || !s.serving; });
}

void Emulator::UpdateStatus(const std::function<void(cycle::StatusRecord&)>& change) {
  std::lock_guard lock(shared_->mutex);
  change(shared_->machine.Status());
}

cycle::StatusRecord Emulator::MachineStatus() const {
  std::lock_guard lock(shared_->mutex);
  return shared_->machine.Status();
}

void Emulator::SetEStopInput(bool active) {
  std::lock_guard lock(shared_->mutex);
  shared_->machine.SetEStopInput(active);
}

void Emulator::EnterEStop(std::uint8_t fault) {
  std::lock_guard lock(shared_->mutex);
  shared_->machine.EnterEStop(fault);
}

std::optional<config::ConfigRecord> Emulator::Configuration() const {
  std::lock_guard lock(shared_->mutex);
  return shared_->machine.Configuration();
}

std::uint16_t Emulator::ControlFlags() const {
  std::lock_guard lock(shared_->mutex);
  return shared_->machine.ControlFlags();
}

bool Emulator::ShutDown() const {
  std::lock_guard lock(shared_->mutex);
  return shared_->machine.ShutDown();
}

TorchState Emulator::Torch() const {
  std::lock_guard lock(shared_->mutex);
  return shared_->machine.Torch().State();
}

PanelSettings Emulator::Panel() const {
  std::lock_guard lock(shared_->mutex);
  return shared_->machine.Panel().Settings();
}

MotionStats Emulator::Motion() const {
  std::lock_guard lock(shared_->mutex);
  shared_->machine.Advance(Clock::now());
  return shared_->machine.Motion();
}

void Emulator::SetProbeSurface(const std::optional<ProbeSurface>& surface) {
  std::lock_guard lock(shared_->mutex);
  shared_->machine.SetProbeSurface(surface);
}

void Emulator::TurnCounter(int counter, std::int32_t counts) {
  if (counter < 0 || counter >= cycle::kStatusEncoderCount) return;
  std::lock_guard lock(shared_->mutex);
  std::int32_t& count = shared_->machine.Status().EncoderCounts[counter];
  count = WrappingSum(count, counts);
}

void Emulator::UpdateFaults(const std::function<void(Faults&)>& change) {
  std::unique_lock lock(shared_->mutex);
  change(shared_->options.faults);
  AwaitTurn(lock);
}

void Emulator::SetIdentity(std::uint8_t bootloaderByte, const std::string& firmwareVersion) {
  std::lock_guard lock(shared_->mutex);
  shared_->options.bootloaderByte = bootloaderByte;
  shared_->options.firmwareVersion = firmwareVersion;
}

void Emulator::SendOnCommandChannel(const std::vector<std::uint8_t>& bytes) {
  std::unique_lock lock(shared_->mutex);
  Append(shared_->commandInjections, bytes);
  AwaitTurn(lock);
}

void Emulator::SendOnBulkChannel(const std::vector<std::uint8_t>& bytes) {
  std::unique_lock lock(shared_->mutex);
  Append(shared_->bulkInjections, bytes);
  AwaitTurn(lock);
}

void Emulator::SendFrameWithTag(std::uint8_t tag) {
  std::unique_lock lock(shared_->mutex);
  cycle::StatusRecord record = shared_->machine.Report(Clock::now());
  record.Tag = tag;
  Append(shared_->commandInjections, EncodeStatus(record));
  AwaitTurn(lock);
}

void Emulator::SendDebugRecord(const link::DebugRecord& record) {
  std::unique_lock lock(shared_->mutex);
  Append(shared_->bulkInjections, EncodeDebug(record));
  AwaitTurn(lock);
}

void Emulator::CloseConnections() {
  std::unique_lock lock(shared_->mutex);
  shared_->closeRequested = true;
  AwaitTurn(lock);
}

std::vector<ReceivedCommand> Emulator::Commands() const {
  std::lock_guard lock(shared_->mutex);
  return shared_->commands;
}

std::vector<std::uint8_t> Emulator::CommandChannelBytes() const {
  std::lock_guard lock(shared_->mutex);
  return shared_->commandBytes;
}

std::vector<std::uint8_t> Emulator::BulkChannelBytes() const {
  std::lock_guard lock(shared_->mutex);
  return shared_->bulkBytes;
}

std::vector<std::string> Emulator::Rejects() const {
  std::lock_guard lock(shared_->mutex);
  return shared_->rejects;
}

int Emulator::StatusFramesSent() const {
  std::lock_guard lock(shared_->mutex);
  return shared_->statusFramesSent;
}

void Emulator::ClearRecords() {
  std::lock_guard lock(shared_->mutex);
  shared_->commands.clear();
  shared_->commandBytes.clear();
  shared_->bulkBytes.clear();
  shared_->rejects.clear();
  shared_->statusFramesSent = 0;
}

}  // namespace veltra::emu

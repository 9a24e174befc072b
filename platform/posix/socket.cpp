// Sockets on Linux: a non-blocking socket watched by the creating thread's
// message loop, with the readiness that poll() reports turned into the
// notifications Windows asynchronous select posts, re-armed as Winsock
// re-arms them.

#include "platform/socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <memory>
#include <mutex>

#include "event_loop.h"

namespace platform {
namespace {

thread_local int lastError = 0;

struct ErrorNumber {
  int posix;
  int winsock;
};

constexpr ErrorNumber kErrorNumbers[] = {
    {EINTR, socket_error::kInterrupted},
    {EBADF, socket_error::kBadHandle},
    {EACCES, socket_error::kAccessDenied},
    {EPERM, socket_error::kAccessDenied},
    {EFAULT, socket_error::kFault},
    {EINVAL, socket_error::kInvalidArgument},
    {EMFILE, socket_error::kTooManySockets},
    {ENFILE, socket_error::kTooManySockets},
    {EAGAIN, socket_error::kWouldBlock},
    {EINPROGRESS, socket_error::kInProgress},
    {EALREADY, socket_error::kAlready},
    {ENOTSOCK, socket_error::kNotSocket},
    {EMSGSIZE, socket_error::kMessageSize},
    {ENOPROTOOPT, socket_error::kNoProtocolOption},
    {EOPNOTSUPP, socket_error::kNotSupported},
    {EAFNOSUPPORT, socket_error::kAddressFamily},
    {EADDRINUSE, socket_error::kAddressInUse},
    {EADDRNOTAVAIL, socket_error::kAddressNotAvailable},
    {ENETDOWN, socket_error::kNetworkDown},
    {ENETUNREACH, socket_error::kNetworkUnreachable},
    {ENETRESET, socket_error::kNetworkReset},
    {ECONNABORTED, socket_error::kConnectionAborted},
    {EPIPE, socket_error::kConnectionAborted},  // Winsock has no broken pipe
    {ECONNRESET, socket_error::kConnectionReset},
    {ENOBUFS, socket_error::kNoBuffers},
    {ENOMEM, socket_error::kNoBuffers},
    {EISCONN, socket_error::kAlreadyConnected},
    {ENOTCONN, socket_error::kNotConnected},
    {ESHUTDOWN, socket_error::kShutDown},
    {ETIMEDOUT, socket_error::kTimedOut},
    {ECONNREFUSED, socket_error::kConnectionRefused},
    {EHOSTDOWN, socket_error::kHostDown},
    {EHOSTUNREACH, socket_error::kHostUnreachable},
};

int WinsockError(int error) {
  for (const ErrorNumber& number : kErrorNumbers) {
    if (number.posix == error) return number.winsock;
  }
  return socket_error::kSystemCallFailed;
}

bool Fail(int winsockError) {
  lastError = winsockError;
  return false;
}

int FailCount(int winsockError) {
  lastError = winsockError;
  return -1;
}

enum class Phase { Idle, Connecting, Connected, Ended };

struct SocketState {
  int fd = -1;
  posix::WatchId watch = 0;
  SocketHandler handler;
  Phase phase = Phase::Idle;
  bool readArmed = false;   // a DataArrived may be delivered
  bool writeArmed = false;  // a send was refused; ReadyToSend is due

  bool Open() const { return fd >= 0; }

  // Peer shutdown is watched whatever else is armed, as Winsock reports a
  // close independently of unread data.
  void UpdateWatch() const {
    short events = 0;
    if (phase == Phase::Connecting) events = POLLOUT;
    if (phase == Phase::Connected) {
      events = POLLRDHUP;
      if (readArmed) events |= POLLIN;
      if (writeArmed) events |= POLLOUT;
    }
    posix::SetWatchEvents(watch, events);
  }
};

struct Registry {
  std::mutex mutex;
  std::map<std::uintptr_t, std::shared_ptr<SocketState>> sockets;
  std::uintptr_t next = 1;
};

Registry& TheRegistry() {
  static Registry* registry = new Registry;  // outlives every thread's exit
  return *registry;
}

std::shared_ptr<SocketState> Find(Socket socket) {
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  auto found = registry.sockets.find(reinterpret_cast<std::uintptr_t>(socket));
  return found == registry.sockets.end() ? nullptr : found->second;
}

int PendingSocketError(int fd) {
  int error = 0;
  socklen_t length = sizeof error;
  if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return errno;
  return error;
}

int BytesWaiting(int fd) {
  int count = 0;
  return ioctl(fd, FIONREAD, &count) == 0 ? count : 0;
}

void Deliver(SocketState& state, SocketEvent event, int error) {
  SocketHandler handler = state.handler;  // the handler may close the socket
  if (handler) handler(event, error);
}

void OnReady(const std::shared_ptr<SocketState>& state, short ready) {
  if (!state->Open()) {
    posix::Unwatch(state->watch);
    return;
  }
  if (state->phase == Phase::Connecting) {
    if (!(ready & (POLLOUT | POLLERR | POLLHUP))) return;
    const int error = PendingSocketError(state->fd);
    if (error != 0) {
      state->phase = Phase::Ended;
      state->UpdateWatch();
      Deliver(*state, SocketEvent::ConnectFinished, WinsockError(error));
      return;
    }
    state->phase = Phase::Connected;
    state->readArmed = true;
    state->UpdateWatch();
    Deliver(*state, SocketEvent::ConnectFinished, 0);
    if (state->Open() && state->phase == Phase::Connected) Deliver(*state, SocketEvent::ReadyToSend, 0);
    return;
  }
  if (state->phase != Phase::Connected) return;

  // On a closing connection poll() also reports the end of the stream as
  // readable; only real bytes make a DataArrived.
  if ((ready & POLLIN) && state->readArmed && BytesWaiting(state->fd) > 0) {
    state->readArmed = false;
    state->UpdateWatch();
    Deliver(*state, SocketEvent::DataArrived, 0);
  }
  if (state->Open() && state->phase == Phase::Connected && (ready & POLLOUT) && state->writeArmed) {
    state->writeArmed = false;
    state->UpdateWatch();
    Deliver(*state, SocketEvent::ReadyToSend, 0);
  }
  if (state->Open() && state->phase == Phase::Connected && (ready & (POLLRDHUP | POLLHUP | POLLERR))) {
    const int error = PendingSocketError(state->fd);
    state->phase = Phase::Ended;
    state->UpdateWatch();
    Deliver(*state, SocketEvent::Closed, error == 0 ? 0 : WinsockError(error));
  }
}

bool ResolveIpv4(const std::string& host, in_addr& address) {
  if (inet_pton(AF_INET, host.c_str(), &address) == 1) return true;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) return false;
  address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr;
  freeaddrinfo(found);
  return true;
}

bool SetFlagOption(Socket socket, int option, bool on) {
  auto state = Find(socket);
  if (!state) return Fail(socket_error::kNotSocket);
  const int value = on ? 1 : 0;
  if (setsockopt(state->fd, SOL_SOCKET, option, &value, sizeof value) != 0) return Fail(WinsockError(errno));
  return true;
}

}  // namespace

int LastSocketError() { return lastError; }

Socket CreateTcpSocket(SocketHandler handler) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    Fail(WinsockError(errno));
    return nullptr;
  }
  auto state = std::make_shared<SocketState>();
  state->fd = fd;
  state->handler = std::move(handler);
  std::weak_ptr<SocketState> weak = state;
  state->watch = posix::WatchDescriptor(fd, 0, [weak](short ready) {
    if (auto alive = weak.lock()) OnReady(alive, ready);
  });

  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  const std::uintptr_t handle = registry.next++;
  registry.sockets[handle] = state;
  return reinterpret_cast<Socket>(handle);
}

void CloseSocket(Socket socket) {
  std::shared_ptr<SocketState> state;
  {
    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    auto found = registry.sockets.find(reinterpret_cast<std::uintptr_t>(socket));
    if (found == registry.sockets.end()) return;
    state = found->second;
    registry.sockets.erase(found);
  }
  posix::Unwatch(state->watch);
  close(state->fd);
  state->fd = -1;
  state->phase = Phase::Ended;
}

bool ConnectSocket(Socket socket, std::string_view host, std::uint16_t port) {
  auto state = Find(socket);
  if (!state) return Fail(socket_error::kNotSocket);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  if (!ResolveIpv4(std::string(host), address.sin_addr)) return Fail(socket_error::kInvalidArgument);
  if (connect(state->fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 && errno != EINPROGRESS) {
    return Fail(WinsockError(errno));
  }
  // Even a connect that completed at once reports through the notification.
  state->phase = Phase::Connecting;
  state->UpdateWatch();
  return Fail(socket_error::kWouldBlock);
}

int SendOnSocket(Socket socket, std::span<const std::byte> bytes) {
  auto state = Find(socket);
  if (!state) return FailCount(socket_error::kNotSocket);
  const ssize_t sent = send(state->fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
  if (sent >= 0) return static_cast<int>(sent);
  const int error = errno;
  if (error == EAGAIN && state->phase == Phase::Connected) {
    state->writeArmed = true;
    state->UpdateWatch();
  }
  return FailCount(WinsockError(error));
}

int ReceiveFromSocket(Socket socket, std::span<std::byte> buffer, bool peek) {
  auto state = Find(socket);
  if (!state) return FailCount(socket_error::kNotSocket);
  const ssize_t received = recv(state->fd, buffer.data(), buffer.size(), MSG_DONTWAIT | (peek ? MSG_PEEK : 0));
  const int error = errno;
  // Any receive, a peek included, lets the next DataArrived come.
  if (state->phase == Phase::Connected && !state->readArmed) {
    state->readArmed = true;
    state->UpdateWatch();
  }
  if (received >= 0) return static_cast<int>(received);
  return FailCount(WinsockError(error));
}

bool SocketPeerAddress(Socket socket, std::string& address) {
  auto state = Find(socket);
  if (!state) return Fail(socket_error::kNotSocket);
  sockaddr_in peer{};
  socklen_t length = sizeof peer;
  if (getpeername(state->fd, reinterpret_cast<sockaddr*>(&peer), &length) != 0) return Fail(WinsockError(errno));
  char text[INET_ADDRSTRLEN] = {};
  if (inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text) == nullptr) return Fail(WinsockError(errno));
  address = text;
  return true;
}

bool SetSocketKeepAlive(Socket socket, bool on) { return SetFlagOption(socket, SO_KEEPALIVE, on); }
bool SetSocketDebug(Socket socket, bool on) { return SetFlagOption(socket, SO_DEBUG, on); }

}  // namespace platform

// Non-blocking TCP client sockets whose events arrive as notifications
// through the message queue of the thread that created the socket, as
// Windows asynchronous select delivers them:
//   - ConnectFinished once per connect, with its error (0 when connected);
//   - ReadyToSend after a successful connect, and again after a send was
//     refused with kWouldBlock, once the stack takes bytes again;
//   - DataArrived when bytes wait, and not again until the application has
//     received (or peeked) from the socket;
//   - Closed when the peer closes or resets the connection.
// Error numbers are Winsock's on every platform, because users see them in
// message texts. Every function here belongs to the creating thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

namespace platform {

struct SocketTag;
using Socket = SocketTag*;

namespace socket_error {
inline constexpr int kInterrupted = 10004;
inline constexpr int kBadHandle = 10009;
inline constexpr int kAccessDenied = 10013;
inline constexpr int kFault = 10014;
inline constexpr int kInvalidArgument = 10022;  // also: a host name no resolver knows
inline constexpr int kTooManySockets = 10024;
inline constexpr int kWouldBlock = 10035;
inline constexpr int kInProgress = 10036;
inline constexpr int kAlready = 10037;
inline constexpr int kNotSocket = 10038;
inline constexpr int kMessageSize = 10040;
inline constexpr int kNoProtocolOption = 10042;
inline constexpr int kNotSupported = 10045;
inline constexpr int kAddressFamily = 10047;
inline constexpr int kAddressInUse = 10048;
inline constexpr int kAddressNotAvailable = 10049;
inline constexpr int kNetworkDown = 10050;
inline constexpr int kNetworkUnreachable = 10051;
inline constexpr int kNetworkReset = 10052;
inline constexpr int kConnectionAborted = 10053;
inline constexpr int kConnectionReset = 10054;
inline constexpr int kNoBuffers = 10055;
inline constexpr int kAlreadyConnected = 10056;
inline constexpr int kNotConnected = 10057;
inline constexpr int kShutDown = 10058;
inline constexpr int kTimedOut = 10060;
inline constexpr int kConnectionRefused = 10061;
inline constexpr int kHostDown = 10064;
inline constexpr int kHostUnreachable = 10065;
inline constexpr int kSystemCallFailed = 10107;  // anything without a closer number
}  // namespace socket_error

enum class SocketEvent : std::uint8_t { ConnectFinished, ReadyToSend, DataArrived, Closed };

// Runs on the creating thread while it dispatches messages; it may close
// the socket.
using SocketHandler = std::function<void(SocketEvent event, int error)>;

// The error of the calling thread's last failed socket call.
int LastSocketError();

// A TCP stream socket on any local port, non-blocking, with every
// notification requested; null when it cannot be created.
Socket CreateTcpSocket(SocketHandler handler);
// Closes the connection; notifications still queued for it are dropped.
// A null socket is ignored.
void CloseSocket(Socket socket);

// Starts connecting to a dotted IPv4 address, or to the first address the
// system's resolver gives for any other text. As with Winsock, a connect
// that starts returns false with kWouldBlock and its outcome arrives as
// ConnectFinished; any other error means it did not start.
bool ConnectSocket(Socket socket, std::string_view host, std::uint16_t port);

// The count the stack took, or -1 (kWouldBlock: try again after
// ReadyToSend).
int SendOnSocket(Socket socket, std::span<const std::byte> bytes);
// The count received (with peek: copied and left waiting), 0 when the peer
// has closed and nothing is left, or -1 (kWouldBlock: nothing waits).
int ReceiveFromSocket(Socket socket, std::span<std::byte> buffer, bool peek);

// The dotted IPv4 address of the connected peer.
bool SocketPeerAddress(Socket socket, std::string& address);
bool SetSocketKeepAlive(Socket socket, bool on);
bool SetSocketDebug(Socket socket, bool on);

}  // namespace platform

// Winsock sockets with asynchronous select. Each socket has a message-only
// window of its own on the creating thread: its notifications arrive there,
// and closing the socket destroys the window, so notifications still queued
// for a closed socket are dropped even when Winsock reuses its handle.

#include "platform/socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <string>

#include "hidden_window.h"

namespace platform {

struct SocketTag {
  SOCKET socket = INVALID_SOCKET;
  HWND window = nullptr;
  SocketHandler handler;
};

namespace {

constexpr UINT kMsgSocket = WM_APP + 0x3F1;
constexpr const char* kSocketWindowClass = "VeltraSocketWindow";

bool StartWinsock() {
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return started;
}

LRESULT CALLBACK SocketWindowProc(HWND hwnd, UINT id, WPARAM wparam, LPARAM lparam) {
  if (id != kMsgSocket) return DefWindowProcA(hwnd, id, wparam, lparam);
  auto* tag = reinterpret_cast<SocketTag*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  if (!tag || static_cast<SOCKET>(wparam) != tag->socket) return 0;
  SocketEvent event;
  switch (WSAGETSELECTEVENT(lparam)) {
    case FD_CONNECT: event = SocketEvent::ConnectFinished; break;
    case FD_WRITE: event = SocketEvent::ReadyToSend; break;
    case FD_READ: event = SocketEvent::DataArrived; break;
    case FD_CLOSE: event = SocketEvent::Closed; break;
    default: return 0;
  }
  // The handler may close the socket, which frees the tag.
  const SocketHandler handler = tag->handler;
  handler(event, WSAGETSELECTERROR(lparam));
  return 0;
}

bool Resolve(std::string_view host, in_addr& address) {
  if (host.empty()) return false;
  const std::string name(host);
  if (inet_pton(AF_INET, name.c_str(), &address) == 1) return true;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0 || !found) return false;
  address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr;
  freeaddrinfo(found);
  return true;
}

}  // namespace

int LastSocketError() { return WSAGetLastError(); }

Socket CreateTcpSocket(SocketHandler handler) {
  if (!StartWinsock()) return nullptr;
  const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return nullptr;
  HWND window = win32::CreateHiddenWindow(kSocketWindowClass, SocketWindowProc, true);
  if (!window) {
    closesocket(s);
    WSASetLastError(WSAENOBUFS);
    return nullptr;
  }
  auto* tag = new SocketTag{s, window, std::move(handler)};
  SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(tag));
  // Asynchronous select also makes the socket non-blocking.
  if (WSAAsyncSelect(s, window, kMsgSocket, FD_CONNECT | FD_WRITE | FD_READ | FD_CLOSE) != 0) {
    const int error = WSAGetLastError();
    CloseSocket(tag);
    WSASetLastError(error);
    return nullptr;
  }
  return tag;
}

void CloseSocket(Socket socket) {
  if (!socket) return;
  closesocket(socket->socket);
  SetWindowLongPtrA(socket->window, GWLP_USERDATA, 0);
  DestroyWindow(socket->window);
  delete socket;
}

bool ConnectSocket(Socket socket, std::string_view host, std::uint16_t port) {
  in_addr address{};
  if (!Resolve(host, address)) {
    WSASetLastError(WSAEINVAL);
    return false;
  }
  sockaddr_in target{};
  target.sin_family = AF_INET;
  target.sin_port = htons(port);
  target.sin_addr = address;
  return connect(socket->socket, reinterpret_cast<const sockaddr*>(&target), sizeof target) == 0;
}

int SendOnSocket(Socket socket, std::span<const std::byte> bytes) {
  const int sent = send(socket->socket, reinterpret_cast<const char*>(bytes.data()), static_cast<int>(bytes.size()), 0);
  return sent == SOCKET_ERROR ? -1 : sent;
}

int ReceiveFromSocket(Socket socket, std::span<std::byte> buffer, bool peek) {
  const int received =
      recv(socket->socket, reinterpret_cast<char*>(buffer.data()), static_cast<int>(buffer.size()), peek ? MSG_PEEK : 0);
  return received == SOCKET_ERROR ? -1 : received;
}

bool SocketPeerAddress(Socket socket, std::string& address) {
  sockaddr_in peer{};
  int length = sizeof peer;
  if (getpeername(socket->socket, reinterpret_cast<sockaddr*>(&peer), &length) != 0) return false;
  char text[INET_ADDRSTRLEN] = {};
  if (!inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text)) return false;
  address = text;
  return true;
}

bool SetSocketKeepAlive(Socket socket, bool on) {
  const BOOL value = on ? TRUE : FALSE;
  return setsockopt(socket->socket, SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<const char*>(&value), sizeof value) == 0;
}

bool SetSocketDebug(Socket socket, bool on) {
  const BOOL value = on ? TRUE : FALSE;
  return setsockopt(socket->socket, SOL_SOCKET, SO_DEBUG, reinterpret_cast<const char*>(&value), sizeof value) == 0;
}

}  // namespace platform

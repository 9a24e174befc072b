// Message boxes. A responder installed in this module answers directly. The
// host stand-in and the plugin are separate modules, each with its own copy
// of this code, so a responder also opens a hidden window through which the
// other modules of the process hand their boxes over; without one, the box
// is a real, application-modal Windows message box.

#include "platform/message_box.h"

#include <windows.h>

#include <mutex>

#include "hidden_window.h"

namespace platform {
namespace {

constexpr const char* kResponderClass = "VeltraMessageBoxResponder";

std::mutex responderMutex;
MessageBoxResponder responder;
HWND responderWindow = nullptr;

LRESULT AnswerCode(MessageBoxAnswer answer) {
  return answer == MessageBoxAnswer::Yes ? IDYES : answer == MessageBoxAnswer::No ? IDNO : IDOK;
}

MessageBoxAnswer FromCode(LRESULT code) {
  return code == IDYES ? MessageBoxAnswer::Yes : code == IDNO ? MessageBoxAnswer::No : MessageBoxAnswer::Ok;
}

MessageBoxAnswer Respond(const MessageBoxRequest& request) {
  MessageBoxResponder current;
  {
    std::lock_guard lock(responderMutex);
    current = responder;
  }
  return current(request);
}

LRESULT CALLBACK ResponderProc(HWND hwnd, UINT id, WPARAM wparam, LPARAM lparam) {
  if (id != WM_COPYDATA) return DefWindowProcA(hwnd, id, wparam, lparam);
  const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lparam);
  MessageBoxRequest request{kMessageBoxCaption,
                            std::string(static_cast<const char*>(data->lpData), data->cbData),
                            data->dwData ? MessageBoxButtons::YesNo : MessageBoxButtons::Ok};
  return AnswerCode(Respond(request));
}

// A responder window of another module of this process, if there is one.
HWND FindForeignResponder() {
  HWND candidate = nullptr;
  while ((candidate = FindWindowExA(HWND_MESSAGE, candidate, kResponderClass, nullptr)) != nullptr) {
    DWORD process = 0;
    GetWindowThreadProcessId(candidate, &process);
    if (process == GetCurrentProcessId() && candidate != responderWindow) return candidate;
  }
  return nullptr;
}

}  // namespace

MessageBoxAnswer ShowMessageBox(std::string_view text, MessageBoxButtons buttons) {
  const MessageBoxRequest request{kMessageBoxCaption, std::string(text), buttons};
  bool local = false;
  {
    std::lock_guard lock(responderMutex);
    local = static_cast<bool>(responder);
  }
  if (local) return Respond(request);
  if (HWND foreign = FindForeignResponder()) {
    COPYDATASTRUCT data{buttons == MessageBoxButtons::YesNo ? 1ul : 0ul, static_cast<DWORD>(request.text.size()),
                        const_cast<char*>(request.text.data())};
    return FromCode(SendMessageA(foreign, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data)));
  }
  const UINT style = MB_APPLMODAL | (buttons == MessageBoxButtons::YesNo ? MB_YESNO | MB_ICONQUESTION : MB_OK);
  return FromCode(MessageBoxA(nullptr, request.text.c_str(), kMessageBoxCaption, style));
}

void SetMessageBoxResponder(MessageBoxResponder newResponder) {
  std::lock_guard lock(responderMutex);
  responder = std::move(newResponder);
  if (responder && !responderWindow) {
    responderWindow = win32::CreateHiddenWindow(kResponderClass, ResponderProc, true);
  } else if (!responder && responderWindow) {
    ::DestroyWindow(responderWindow);
    responderWindow = nullptr;
  }
}

void PlayBeep(BeepKind kind) { MessageBeep(kind == BeepKind::Information ? MB_ICONASTERISK : MB_ICONHAND); }

}  // namespace platform

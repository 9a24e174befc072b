// The pump and the main loop, the same on every platform: built on the
// backend's get, peek and dispatch.
#include "platform/messages.h"

namespace platform {

void DispatchWaitingMessages() {
  Message message;
  while (PeekNextMessage(message)) {
    if (message.id == kMsgQuit) {
      PostQuitMessage(static_cast<int>(message.wparam));
      return;
    }
    DispatchOneMessage(message);
  }
}

int RunMessageLoop() {
  Message message;
  while (GetNextMessage(message)) DispatchOneMessage(message);
  return static_cast<int>(message.wparam);
}

}  // namespace platform

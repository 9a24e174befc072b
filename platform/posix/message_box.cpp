#include "platform/message_box.h"

#include <cstdio>
#include <mutex>

namespace platform {
namespace {

std::mutex responderMutex;
MessageBoxResponder responder;

MessageBoxAnswer DefaultAnswer(const MessageBoxRequest& request) {
  std::fprintf(stderr, "[%s] %s\n", request.caption.c_str(), request.text.c_str());
  return request.buttons == MessageBoxButtons::YesNo ? MessageBoxAnswer::Yes : MessageBoxAnswer::Ok;
}

}  // namespace

MessageBoxAnswer ShowMessageBox(std::string_view text, MessageBoxButtons buttons) {
  const MessageBoxRequest request{kMessageBoxCaption, std::string(text), buttons};
  MessageBoxResponder current;
  {
    std::lock_guard lock(responderMutex);
    current = responder;
  }
  return current ? current(request) : DefaultAnswer(request);
}

void SetMessageBoxResponder(MessageBoxResponder newResponder) {
  std::lock_guard lock(responderMutex);
  responder = std::move(newResponder);
}

// There is no speaker to beep on; the boxes and texts carry the outcome.
void PlayBeep(BeepKind) {}

}  // namespace platform

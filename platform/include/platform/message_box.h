// Application-modal message boxes captioned "VELTRA". Where a box goes is up
// to the responder: the console host asks on the terminal, tests script the
// answers and keep a record of every box.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace platform {

enum class MessageBoxButtons { Ok, YesNo };
enum class MessageBoxAnswer { Ok, Yes, No };

struct MessageBoxRequest {
  std::string caption;
  std::string text;
  MessageBoxButtons buttons = MessageBoxButtons::Ok;
};

inline constexpr const char* kMessageBoxCaption = "VELTRA";

using MessageBoxResponder = std::function<MessageBoxAnswer(const MessageBoxRequest&)>;

MessageBoxAnswer ShowMessageBox(std::string_view text,
                                MessageBoxButtons buttons = MessageBoxButtons::Ok);

// An empty responder restores the platform's own: a real box on Windows; on
// Linux a line on standard error answered with the default button (OK, Yes).
void SetMessageBoxResponder(MessageBoxResponder responder);

enum class BeepKind { Information, Error };
void PlayBeep(BeepKind kind);

}  // namespace platform

#include "script.h"

#if defined(_WIN32)
#include <io.h>
#define isatty _isatty
#define STDIN_FILENO 0
#else
#include <unistd.h>
#endif

#include <charconv>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <ostream>

#include "platform/keyboard.h"

namespace veltra::hoststub {
namespace {

bool ParseNumber(const std::string& text, double& value) {
  const char* begin = text.data();
  const char* end = begin + text.size();
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    std::uint64_t bits = 0;
    auto [ptr, ec] = std::from_chars(begin + 2, end, bits, 16);
    value = static_cast<double>(bits);
    return ec == std::errc() && ptr == end;
  }
  auto [ptr, ec] = std::from_chars(begin, end, value);
  return ec == std::errc() && ptr == end;
}

bool ParseInt(const std::string& text, std::int64_t& value) {
  double number = 0;
  if (!ParseNumber(text, number) || number != std::floor(number)) return false;
  value = static_cast<std::int64_t>(number);
  return true;
}

std::string FormatNumber(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.10g", value);
  return text;
}

std::string Join(const std::vector<std::string>& parts, std::size_t from) {
  std::string joined;
  for (std::size_t i = from; i < parts.size(); ++i) {
    if (i > from) joined += ' ';
    joined += parts[i];
  }
  return joined;
}

std::string AnswerName(platform::MessageBoxAnswer answer) {
  switch (answer) {
    case platform::MessageBoxAnswer::Ok: return "OK";
    case platform::MessageBoxAnswer::Yes: return "Yes";
    case platform::MessageBoxAnswer::No: return "No";
  }
  return "?";
}

}  // namespace

Script::Script(HostStandIn& host, std::ostream& out, std::string profilePath)
    : host_(host), out_(out), profilePath_(std::move(profilePath)) {
  platform::SetMessageBoxResponder([this](const platform::MessageBoxRequest& r) { return AnswerBox(r); });

  AddCommand("start", [this](const auto& args, std::string&) {
    host_.StartPlugin(args.size() > 1 ? args[1] : profilePath_);
    host_.StartUpdates();
    return true;
  });
  AddCommand("stop", [this](const auto&, std::string&) {
    host_.StopPlugin();
    return true;
  });
  AddCommand("updates", [this](const auto& args, std::string& error) {
    if (args.size() != 2 || (args[1] != "on" && args[1] != "off")) {
      error = "usage: updates on|off";
      return false;
    }
    if (args[1] == "on") {
      host_.StartUpdates();
    } else {
      host_.StopUpdates();
    }
    return true;
  });
  AddCommand("reset", [this](const auto&, std::string&) {
    host_.PressReset();
    return true;
  });
  AddCommand("call", [this](const auto& args, std::string& error) { return CallExport(args, error); });
  AddCommand("get", [this](const auto& args, std::string& error) {
    double value = 0;
    std::string text;
    if (!ReadValue(args, value, text, error)) return false;
    out_ << Join(args, 1) << " = " << text << "\n";
    return true;
  });
  AddCommand("set", [this](const auto& args, std::string& error) {
    const host::FieldDescriptor* field = nullptr;
    std::uint32_t index = 0;
    std::uint32_t inner = 0;
    double value = 0;
    if (args.size() != 3) {
      error = "usage: set <Block.Field[i]> <value>";
      return false;
    }
    if (!ParseField(args[1], field, index, inner, error)) return false;
    if (!ParseNumber(args[2], value)) {
      error = "not a number: " + args[2];
      return false;
    }
    if (!host_.SetField(*field, index, inner, value)) {
      error = "cannot write " + args[1];
      return false;
    }
    return true;
  });
  AddCommand("dro", [this](const auto& args, std::string& error) {
    std::int64_t code = 0;
    double value = 0;
    if (args.size() < 2 || args.size() > 3 || !ParseInt(args[1], code) ||
        (args.size() == 3 && !ParseNumber(args[2], value))) {
      error = "usage: dro <code> [value]";
      return false;
    }
    if (args.size() == 3) {
      host_.SetDroValue(static_cast<std::int32_t>(code), value);
    } else {
      out_ << "DRO " << code << " = " << FormatNumber(host_.Dro(static_cast<std::int32_t>(code))) << "\n";
    }
    return true;
  });
  AddCommand("led", [this](const auto& args, std::string& error) {
    std::int64_t code = 0;
    std::int64_t state = 0;
    if (args.size() < 2 || args.size() > 3 || !ParseInt(args[1], code) ||
        (args.size() == 3 && !ParseInt(args[2], state))) {
      error = "usage: led <code> [0|1]";
      return false;
    }
    if (args.size() == 3) {
      host_.SetLedValue(static_cast<std::int32_t>(code), state != 0);
    } else {
      out_ << "LED " << code << " = " << (host_.Led(static_cast<std::int32_t>(code)) ? 1 : 0) << "\n";
    }
    return true;
  });
  AddCommand("key", [](const auto& args, std::string& error) {
    std::int64_t state = 0;
    if (args.size() != 3 || !ParseInt(args[2], state) ||
        (args[1] != "numlock" && args[1] != "numpad9" && args[1] != "numpad3")) {
      error = "usage: key numlock|numpad9|numpad3 0|1";
      return false;
    }
    if (args[1] == "numlock") {
      platform::SetNumLock(state != 0);
    } else {
      platform::SetKeyHeld(args[1] == "numpad9" ? platform::Key::Numpad9 : platform::Key::Numpad3, state != 0);
    }
    return true;
  });
  AddCommand("menu", [this](const auto& args, std::string& error) {
    if (args.size() != 2) {
      error = "usage: menu <id|\"text\">";
      return false;
    }
    std::int64_t id = 0;
    if (!ParseInt(args[1], id)) {
      // Find the entry by its text anywhere in the menu bar.
      id = -1;
      std::function<void(platform::Menu)> search = [&](platform::Menu menu) {
        for (int position = 0; position < platform::MenuItemCount(menu) && id < 0; ++position) {
          if (platform::Menu popup = platform::MenuItemPopup(menu, position)) {
            search(popup);
            continue;
          }
          const int length = platform::MenuItemTextLength(menu, position);
          if (length < 0) continue;
          std::string text(static_cast<std::size_t>(length) + 1, '\0');
          text.resize(static_cast<std::size_t>(platform::MenuItemText(menu, position, text.data(), length + 1)));
          if (text == args[1]) id = platform::MenuItemId(menu, position);
        }
      };
      search(host_.MenuBar());
      if (id < 0) {
        error = "no menu entry \"" + args[1] + "\"";
        return false;
      }
    }
    host_.ChooseMenuItem(static_cast<std::uint32_t>(id));
    return true;
  });
  AddCommand("menus", [this](const auto&, std::string&) {
    out_ << host_.DescribeMenus();
    return true;
  });
  AddCommand("answer", [this](const auto& args, std::string& error) {
    if (args.size() != 2 || (args[1] != "ok" && args[1] != "yes" && args[1] != "no")) {
      error = "usage: answer ok|yes|no";
      return false;
    }
    answers_.push_back(args[1] == "no"    ? platform::MessageBoxAnswer::No
                       : args[1] == "yes" ? platform::MessageBoxAnswer::Yes
                                          : platform::MessageBoxAnswer::Ok);
    return true;
  });
  AddCommand("wait", [this](const auto& args, std::string& error) {
    std::int64_t ms = 0;
    if (args.size() != 2 || !ParseInt(args[1], ms) || ms < 0) {
      error = "usage: wait <ms>";
      return false;
    }
    host_.RunFor(static_cast<std::uint32_t>(ms));
    return true;
  });
  AddCommand("waitfor", [this](const auto& args, std::string& error) {
    double expected = 0;
    std::int64_t timeout = 5000;
    if (args.size() < 3 || args.size() > 4 || !ParseNumber(args[2], expected) ||
        (args.size() == 4 && !ParseInt(args[3], timeout))) {
      error = "usage: waitfor <Block.Field[i]> <value> [ms]";
      return false;
    }
    const host::FieldDescriptor* field = nullptr;
    std::uint32_t index = 0;
    std::uint32_t inner = 0;
    if (!ParseField(args[1], field, index, inner, error)) return false;
    const bool reached = host_.RunUntil(
        [&] {
          double value = 0;
          return host_.GetField(*field, index, inner, value) && value == expected;
        },
        static_cast<std::uint32_t>(timeout));
    if (!reached) error = args[1] + " did not become " + args[2] + " within " + std::to_string(timeout) + " ms";
    return reached;
  });
  AddCommand("expect", [this](const auto& args, std::string& error) {
    if (args.size() < 3) {
      error = "usage: expect <field|dro N|led N|status> <value>";
      return false;
    }
    const std::vector<std::string> what(args.begin(), args.end() - 1);
    double value = 0;
    std::string text;
    if (!ReadValue(what, value, text, error)) return false;
    const std::string& expected = args.back();
    double expectedNumber = 0;
    const bool matches = (what[1] == "status") ? text == expected
                                               : ParseNumber(expected, expectedNumber) && value == expectedNumber;
    if (!matches) error = "expected " + Join(what, 1) + " to be " + expected + ", it is " + text;
    return matches;
  });
  AddCommand("status", [this](const auto&, std::string&) {
    out_ << "status: " << host_.StatusLine() << "\n";
    return true;
  });
  AddCommand("buttons", [this](const auto&, std::string&) {
    out_ << "buttons:";
    for (std::int32_t code : host_.ButtonPresses()) out_ << " " << code;
    out_ << "\n";
    return true;
  });
  AddMotionCommands();
}

Script::~Script() { platform::SetMessageBoxResponder(nullptr); }

void Script::AddCommand(const std::string& name, Handler handler) { commands_[name] = std::move(handler); }

std::vector<std::string> Script::Tokenize(const std::string& line) {
  std::vector<std::string> tokens;
  std::string token;
  bool quoted = false;
  bool inToken = false;
  for (char c : line) {
    if (quoted) {
      if (c == '"') {
        quoted = false;
      } else {
        token += c;
      }
    } else if (c == '"') {
      quoted = true;
      inToken = true;
    } else if (c == ' ' || c == '\t' || c == '\r') {
      if (inToken) tokens.push_back(token);
      token.clear();
      inToken = false;
    } else {
      token += c;
      inToken = true;
    }
  }
  if (inToken) tokens.push_back(token);
  return tokens;
}

bool Script::RunLine(const std::string& line, int lineNumber, std::string& error) {
  const std::vector<std::string> tokens = Tokenize(line);
  if (tokens.empty() || tokens[0].starts_with('#')) return true;
  auto command = commands_.find(tokens[0]);
  std::string problem;
  const bool ok = command == commands_.end() ? (problem = "unknown command '" + tokens[0] + "'", false)
                                             : command->second(tokens, problem);
  if (!ok) error = "line " + std::to_string(lineNumber) + ": " + problem;
  return ok;
}

bool Script::RunLines(const std::vector<std::string>& lines, std::string& error) {
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (!RunLine(lines[i], static_cast<int>(i) + 1, error)) return false;
  }
  return true;
}

platform::MessageBoxAnswer Script::AnswerBox(const platform::MessageBoxRequest& request) {
  const bool yesNo = request.buttons == platform::MessageBoxButtons::YesNo;
  out_ << "message box [" << request.caption << "]" << (yesNo ? " (Yes/No)" : "") << ": " << request.text << "\n";
  platform::MessageBoxAnswer answer = yesNo ? platform::MessageBoxAnswer::Yes : platform::MessageBoxAnswer::Ok;
  if (!answers_.empty()) {
    answer = answers_.front();
    answers_.pop_front();
  } else if (isatty(STDIN_FILENO)) {
    out_ << (yesNo ? "answer (y/n): " : "press Enter: ") << std::flush;
    std::string reply;
    std::getline(std::cin, reply);
    if (yesNo && !reply.empty() && (reply[0] == 'n' || reply[0] == 'N')) answer = platform::MessageBoxAnswer::No;
  }
  out_ << "answered " << AnswerName(answer) << "\n";
  return answer;
}

bool Script::ParseField(const std::string& qualified, const host::FieldDescriptor*& field, std::uint32_t& index,
                        std::uint32_t& inner, std::string& error) const {
  std::string name = qualified;
  std::vector<std::int64_t> indices;
  const std::size_t bracket = qualified.find('[');
  if (bracket != std::string::npos) {
    name = qualified.substr(0, bracket);
    std::size_t at = bracket;
    while (at < qualified.size() && qualified[at] == '[') {
      const std::size_t close = qualified.find(']', at);
      std::int64_t value = 0;
      if (close == std::string::npos || !ParseInt(qualified.substr(at + 1, close - at - 1), value)) {
        error = "bad index in " + qualified;
        return false;
      }
      indices.push_back(value);
      at = close + 1;
    }
    if (at != qualified.size()) {
      error = "bad index in " + qualified;
      return false;
    }
  }
  field = host_.FindField(name);
  if (!field) {
    error = "unknown field '" + name + "'";
    return false;
  }
  const std::int64_t i = indices.size() > 0 ? indices[0] : 0;
  const std::int64_t j = indices.size() > 1 ? indices[1] : 0;
  if (indices.size() > 2 || i < 0 || i >= field->count || j < 0 || j >= field->inner) {
    error = "index out of range in " + qualified;
    return false;
  }
  index = static_cast<std::uint32_t>(i);
  inner = static_cast<std::uint32_t>(j);
  return true;
}

bool Script::ReadValue(const std::vector<std::string>& what, double& value, std::string& text, std::string& error) {
  if (what.size() == 2 && what[1] == "status") {
    text = host_.StatusLine();
    return true;
  }
  std::int64_t code = 0;
  if (what.size() == 3 && (what[1] == "dro" || what[1] == "led")) {
    if (!ParseInt(what[2], code)) {
      error = "not a code: " + what[2];
      return false;
    }
    value = what[1] == "dro" ? host_.Dro(static_cast<std::int32_t>(code))
                             : (host_.Led(static_cast<std::int32_t>(code)) ? 1.0 : 0.0);
    text = FormatNumber(value);
    return true;
  }
  if (what.size() != 2) {
    error = "usage: get <Block.Field[i]>";
    return false;
  }
  const host::FieldDescriptor* field = nullptr;
  std::uint32_t index = 0;
  std::uint32_t inner = 0;
  if (!ParseField(what[1], field, index, inner, error)) return false;
  host_.GetField(*field, index, inner, value);
  text = FormatNumber(value);
  return true;
}

bool Script::CallExport(const std::vector<std::string>& args, std::string& error) {
  if (args.size() < 2) {
    error = "usage: call <Export> [args...]";
    return false;
  }
  const PluginExports& plugin = host_.Plugin();
  const std::string& name = args[1];
  std::vector<double> numbers;
  for (std::size_t i = 2; i < args.size(); ++i) {
    double number = 0;
    if (name != "SetProName" && !ParseNumber(args[i], number)) {
      error = "not a number: " + args[i];
      return false;
    }
    numbers.push_back(number);
  }
  auto needs = [&](std::size_t count) {
    if (numbers.size() == count) return true;
    error = name + " takes " + std::to_string(count) + " argument(s)";
    return false;
  };
  auto i16 = [&](std::size_t i) { return static_cast<std::int16_t>(numbers[i]); };
  if (!plugin.Update) {
    error = "no plugin is loaded";
    return false;
  }
  if (name == "Config") return needs(0) && (plugin.Config(), true);
  if (name == "DoDwell") return needs(1) && (plugin.DoDwell(numbers[0]), true);
  if (name == "Home") return needs(1) && (plugin.Home(i16(0)), true);
  if (name == "JogOff") return needs(1) && (plugin.JogOff(i16(0)), true);
  if (name == "JogOn") return needs(3) && (plugin.JogOn(i16(0), i16(1), numbers[2]), true);
  if (name == "Notify") return needs(1) && (plugin.Notify(static_cast<std::int32_t>(numbers[0])), true);
  if (name == "PostInitControl") return needs(0) && (plugin.PostInitControl(), true);
  if (name == "Probe") return needs(0) && (plugin.Probe(), true);
  if (name == "Purge") return needs(1) && (plugin.Purge(i16(0)), true);
  if (name == "Reset") return needs(0) && (plugin.Reset(), true);
  if (name == "StopPlug") return needs(0) && (plugin.StopPlug(), true);
  if (name == "Update") return needs(0) && (plugin.Update(), true);
  if (name == "InitControl") {
    if (!needs(0)) return false;
    plugin.InitControl(host_.Block(host::Block::Engine), host_.Block(host::Block::Setup),
                       host_.Block(host::Block::Planner), host_.Block(host::Block::View));
    return true;
  }
  if (name == "SetProName") {
    const std::string profile = Join(args, 2);
    out_ << "SetProName: " << plugin.SetProName(profile.c_str()) << "\n";
    return true;
  }
  error = "no export '" + name + "' to call (the Set* exports are called by start)";
  return false;
}

}  // namespace veltra::hoststub

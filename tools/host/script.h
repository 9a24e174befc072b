// The host stand-in's script: one command a line, used by tests and the demo.
//
//   start [profile]            the start-up order (Set*, InitControl, SetProName, PostInitControl)
//   updates on|off             call Update every 50 ms from the loop (on after start)
//   stop                       StopPlug
//   reset                      the host's Reset button: out of e-stop when in it, into it
//                              otherwise, then the plugin's Reset
//   call <Export> [args...]    any of the 21 exports, with numeric (or text) arguments
//   get <Block.Field[i][j]>    print a host field
//   set <Block.Field[i][j]> v  write a host field
//   dro <code> [value]         print or write a DRO
//   led <code> [0|1]           print or write an LED
//   key numlock|numpad9|numpad3 0|1   the Num Lock toggle, or a numeric-keypad key held
//   menu <id|"text">           choose a menu entry, as a click would
//   menus                      print the menu bar
//   answer ok|yes|no           the answer to the next message box
//   wait <ms>                  run the message loop that long
//   waitfor <field> <v> [ms]   run the loop until the field has the value (default 5000 ms)
//   expect <what> <value>      fail unless a field, "dro N", "led N" or "status" has the value
//   run <file> [progress]      plan a G-code program (gcode.h) and run it through the
//                              trajectory ring, with a progress bar on request
//   jog <axis> <+|-> <ms> [speed]   JogOn, that long, JogOff, until the axis rests
//                              (speed in units per second; 0 or none: the jog percent)
//   home <axis...>             Home each axis, until EngineBlock.Homing is 0
//   probe <x> <y> <z> <a> [feed]    a straight probe to the work position (feed in units
//                              per minute; none: the host's feed rate), until it ends;
//                              fails when it finds no contact
//   status                     print the status line
//   buttons                    print the buttons pressed so far
//   # ...                      a comment
//
// Axes are named X, Y, Z, A, B, C (or 0..5).
//
// Every message box the plugin shows is printed. An unknown command, a field
// name that does not exist or a failed expectation stops the script with an
// error that names the line.
#pragma once

#include <deque>
#include <functional>
#include <iosfwd>
#include <map>
#include <string>
#include <vector>

#include "host_stand_in.h"
#include "platform/message_box.h"

namespace veltra::hoststub {

class Script {
 public:
  using Handler = std::function<bool(const std::vector<std::string>& args, std::string& error)>;

  Script(HostStandIn& host, std::ostream& out, std::string profilePath);
  ~Script();

  // Adds a command (later parts of the stand-in add motion commands).
  void AddCommand(const std::string& name, Handler handler);

  bool RunLine(const std::string& line, int lineNumber, std::string& error);
  bool RunLines(const std::vector<std::string>& lines, std::string& error);

  static std::vector<std::string> Tokenize(const std::string& line);

 private:
  platform::MessageBoxAnswer AnswerBox(const platform::MessageBoxRequest& request);
  bool ParseField(const std::string& qualified, const host::FieldDescriptor*& field, std::uint32_t& index,
                  std::uint32_t& inner, std::string& error) const;
  bool ReadValue(const std::vector<std::string>& what, double& value, std::string& text, std::string& error);
  bool CallExport(const std::vector<std::string>& args, std::string& error);
  // run, jog, home and probe (script_motion.cpp).
  void AddMotionCommands();
  bool RunProgram(const std::string& path, bool progress, std::string& error);
  // Runs the loop until done holds; false with the error on e-stop or time-out.
  bool WaitForMotion(const std::function<bool()>& done, std::uint32_t timeoutMilliseconds, const std::string& what,
                     std::string& error);

  HostStandIn& host_;
  std::ostream& out_;
  std::string profilePath_;
  std::map<std::string, Handler> commands_;
  std::deque<platform::MessageBoxAnswer> answers_;
};

}  // namespace veltra::hoststub

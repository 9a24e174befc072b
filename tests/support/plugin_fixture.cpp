#include "plugin_fixture.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace veltra::testing {

// The exports have C linkage; their declarations are the host's view of them.
extern "C" {
void VELTRA_CDECL Config();
void VELTRA_CDECL DoDwell(double);
void VELTRA_CDECL Home(std::int16_t);
std::int32_t VELTRA_CDECL InitControl(void*, void*, void*, void*);
void VELTRA_CDECL JogOff(std::int16_t);
void VELTRA_CDECL JogOn(std::int16_t, std::int16_t, double);
void VELTRA_CDECL Notify(std::int32_t);
void VELTRA_CDECL PostInitControl();
void VELTRA_CDECL Probe();
void VELTRA_CDECL Purge(std::int16_t);
void VELTRA_CDECL Reset();
void VELTRA_CDECL SetCode(host::CodeFn);
void VELTRA_CDECL SetDoButton(host::DoButtonFn);
void VELTRA_CDECL SetGetDRO(host::GetDroFn);
void VELTRA_CDECL SetGetLED(host::GetLedFn);
void VELTRA_CDECL SetGetMenuRange(host::GetMenuRangeFn);
const char* VELTRA_CDECL SetProName(const char*);
void VELTRA_CDECL SetSetDRO(host::SetDroFn);
void VELTRA_CDECL SetSetLED(host::SetLedFn);
void VELTRA_CDECL StopPlug();
void VELTRA_CDECL Update();
}

hoststub::PluginExports LinkedPlugin() {
  hoststub::PluginExports exports;
#define VELTRA_TAKE_EXPORT(name) exports.name = &name;
  VELTRA_PLUGIN_EXPORTS(VELTRA_TAKE_EXPORT)
#undef VELTRA_TAKE_EXPORT
  return exports;
}

MessageBoxRecorder::MessageBoxRecorder() {
  platform::SetMessageBoxResponder([this](const platform::MessageBoxRequest& request) {
    shown_.push_back(request);
    if (answers_.empty()) {
      return request.buttons == platform::MessageBoxButtons::YesNo ? platform::MessageBoxAnswer::Yes
                                                                   : platform::MessageBoxAnswer::Ok;
    }
    const platform::MessageBoxAnswer answer = answers_.front();
    answers_.pop_front();
    return answer;
  });
}

MessageBoxRecorder::~MessageBoxRecorder() { platform::SetMessageBoxResponder(nullptr); }

std::vector<std::string> MessageBoxRecorder::Texts() const {
  std::vector<std::string> texts;
  for (const auto& request : shown_) texts.push_back(request.text);
  return texts;
}

std::string PluginTest::ProfilePath() const {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::string(info->test_suite_name()) + "-" + info->name() + ".xml";
  for (char& c : name) {
    if (c == '/') c = '_';
  }
  return (profileDirectory_ / name).string();
}

void PluginTest::WriteProfile(std::string_view contents) const {
  std::ofstream(ProfilePath(), std::ios::binary) << contents;
}

std::string PluginTest::ReadProfile() const {
  std::ostringstream contents;
  contents << std::ifstream(ProfilePath(), std::ios::binary).rdbuf();
  return contents.str();
}

PluginTest::PluginTest()
    : profileDirectory_(std::filesystem::temp_directory_path() / ("veltra-tests-" + std::to_string(::getpid()))) {
  std::filesystem::create_directories(profileDirectory_);
  host.UsePlugin(LinkedPlugin());
  host::SetBlockBases(host.Block(host::Block::Engine), host.Block(host::Block::Setup),
                      host.Block(host::Block::Planner), host.Block(host::Block::View));
}

PluginTest::~PluginTest() {
  host::SetBlockBases(nullptr, nullptr, nullptr, nullptr);
  std::error_code error;
  std::filesystem::remove_all(profileDirectory_, error);
}

void PluginTest::StartPlugin() { host.StartPlugin(ProfilePath()); }

}  // namespace veltra::testing

// StopPlug: the controller's outputs and its shutdown before the link
// closes, and the ends of the window threads.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "controller_fixture.h"
#include "link/command_table.h"
#include "link/controller_socket.h"
#include "loopback.h"
#include "platform/messages.h"
#include "plugin/host_blocks.h"
#include "plugin/lifecycle.h"
#include "ui/window_handles.h"

namespace veltra::plugin {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class Shutdown : public testing::OnlinePluginTest {};

TEST_F(Shutdown, TheFinalOutputsAndTheShutdownStopReachTheController) {
  StartPlugin();
  GoOnline();
  EngineBlock::OutputSignalEnabled.Set(4, 1);
  EngineBlock::OutputSignalPort.Set(4, 1);
  EngineBlock::OutputSignalPin.Set(4, 9);
  EngineBlock::OutputSignalState.Set(4, 1);
  EngineBlock::SoftLimitsOn.Set(1);  // no control flags at shutdown
  host.StopPlugin();
  EXPECT_FALSE(link::Link().ControllerOnline);
  EXPECT_FALSE(link::CommandChannel().IsOpen());
  EXPECT_FALSE(link::BulkChannel().IsOpen());
  ASSERT_TRUE(testing::PumpUntil([&] { return controller->Commands().size() >= 2; }));
  EXPECT_THAT(controller->Commands(),
              ElementsAre(emu::ReceivedCommand{link::CMD_SET_OUTPUTS, {0x00, 0x01, 0x00, 0x00, 0x00, 0x00}},
                          emu::ReceivedCommand{link::CMD_STOP, {3}}));
  EXPECT_TRUE(controller->ShutDown());
}

TEST_F(Shutdown, AnOfflineControllerIsNotTold) {
  StartPlugin();
  GoOnline();
  link::Link().ControllerOnline = false;
  host.StopPlugin();
  testing::PumpFor(50);
  EXPECT_THAT(controller->Commands(), IsEmpty());
  EXPECT_FALSE(link::CommandChannel().IsOpen());
}

TEST_F(Shutdown, EndsTheWindowThreads) {
  StartPlugin();
  std::atomic<platform::Window> statusWindow{nullptr}, graph{nullptr};
  const auto windowThread = [](std::atomic<platform::Window>& made) {
    return std::thread([&made] {
      platform::Window window = platform::MakeWindow([](const platform::Message&) { return std::intptr_t{0}; });
      made = window;
      platform::RunMessageLoop();
      platform::DestroyWindow(window);
    });
  };
  std::thread statusThread = windowThread(statusWindow);
  std::thread graphThread = windowThread(graph);
  ASSERT_TRUE(testing::PumpUntil([&] { return statusWindow.load() && graph.load(); }));
  ui::Windows().statusWindow = statusWindow;
  ui::Windows().thcGraph = graph;
  host.StopPlugin();
  EXPECT_FALSE(platform::IsWindow(statusWindow));
  EXPECT_FALSE(platform::IsWindow(graph));
  statusThread.join();
  graphThread.join();
  ui::Windows() = ui::CycleWindows{};
}

}  // namespace
}  // namespace veltra::plugin

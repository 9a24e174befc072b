#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/keyboard.h"
#include "platform/menu.h"
#include "platform/message_box.h"
#include "platform/messages.h"
#include "platform/module.h"
#include "platform/timers.h"

namespace {

using platform::Message;

struct ManualClockScope {
  platform::ManualClock clock;
  ManualClockScope() { platform::SetClock(&clock); }
  ~ManualClockScope() { platform::SetClock(nullptr); }
};

TEST(Messages, PostedMessagesAreDispatchedInOrderToTheirWindow) {
  std::vector<std::uint32_t> seen;
  platform::Window window = platform::MakeWindow([&](const Message& m) {
    seen.push_back(m.id);
    return static_cast<std::intptr_t>(m.wparam);
  });
  platform::PostToWindow(window, platform::kMsgUser + 1, 5);
  platform::PostToWindow(window, platform::kMsgUser + 2);
  platform::PostToWindow(window, platform::kMsgUser + 3);
  platform::DispatchWaitingMessages();
  EXPECT_EQ(seen, (std::vector<std::uint32_t>{platform::kMsgUser + 1, platform::kMsgUser + 2, platform::kMsgUser + 3}));
  EXPECT_EQ(platform::SendToWindow(window, platform::kMsgUser, 42), 42);
  platform::DestroyWindow(window);
  EXPECT_FALSE(platform::IsWindow(window));
  EXPECT_FALSE(platform::PostToWindow(window, platform::kMsgUser));
  EXPECT_EQ(platform::SendToWindow(window, platform::kMsgUser, 42), 0);
}

TEST(Messages, QuitEndsTheLoopAfterTheWaitingMessagesAndThePumpKeepsIt) {
  int handled = 0;
  platform::Window window = platform::MakeWindow([&](const Message&) { return ++handled; });
  platform::PostQuitMessage(3);
  platform::PostToWindow(window, platform::kMsgUser);
  platform::DispatchWaitingMessages();  // handles the posted message, keeps the quit
  EXPECT_EQ(handled, 1);
  EXPECT_EQ(platform::RunMessageLoop(), 3);
  platform::DestroyWindow(window);
}

TEST(Messages, SendFromAnotherThreadRunsOnTheWindowsThread) {
  const platform::ThreadId mainThread = platform::CurrentThreadId();
  std::atomic<platform::ThreadId> ranOn{0};
  platform::Window window = platform::MakeWindow([&](const Message& m) {
    ranOn = platform::CurrentThreadId();
    if (m.id == platform::kMsgClose) platform::PostQuitMessage(0);
    return static_cast<std::intptr_t>(m.wparam) * 2;
  });
  std::intptr_t result = 0;
  std::thread sender([&] {
    result = platform::SendToWindow(window, platform::kMsgUser, 21);
    platform::PostToWindow(window, platform::kMsgClose);
  });
  platform::RunMessageLoop();
  sender.join();
  EXPECT_EQ(result, 42);
  EXPECT_EQ(ranOn.load(), mainThread);
  platform::DestroyWindow(window);
}

TEST(Messages, WindowsOfAThreadEndWithIt) {
  platform::Window window = nullptr;
  platform::ThreadId thread = 0;
  std::thread owner([&] {
    window = platform::MakeWindow([](const Message&) { return 0; });
    thread = platform::CurrentThreadId();
    EXPECT_TRUE(platform::PostToThread(thread, platform::kMsgQuit));
    EXPECT_EQ(platform::RunMessageLoop(), 0);
  });
  owner.join();
  EXPECT_FALSE(platform::IsWindow(window));
  EXPECT_FALSE(platform::PostToThread(thread, platform::kMsgUser));
}

TEST(Timers, FireThroughTheLoopOncePerDuePeriodOnTheManualClock) {
  ManualClockScope time;
  std::vector<platform::TimerId> fired;
  const platform::TimerId timer = platform::StartThreadTimer(25, [&](platform::TimerId id) { fired.push_back(id); });
  ASSERT_NE(timer, 0u);
  platform::DispatchWaitingMessages();
  EXPECT_TRUE(fired.empty());
  time.clock.Advance(24);
  platform::DispatchWaitingMessages();
  EXPECT_TRUE(fired.empty());
  time.clock.Advance(1);
  platform::DispatchWaitingMessages();
  EXPECT_EQ(fired, std::vector<platform::TimerId>{timer});
  // Several overdue periods give one tick, as on Windows.
  time.clock.Advance(100);
  platform::DispatchWaitingMessages();
  EXPECT_EQ(fired.size(), 2u);
  EXPECT_TRUE(platform::KillThreadTimer(timer));
  time.clock.Advance(100);
  platform::DispatchWaitingMessages();
  EXPECT_EQ(fired.size(), 2u);
  EXPECT_FALSE(platform::KillThreadTimer(timer));
}

TEST(Timers, ACallbackMayKillItsOwnTimer) {
  ManualClockScope time;
  int ticks = 0;
  platform::TimerId timer = 0;
  timer = platform::StartThreadTimer(10, [&](platform::TimerId id) {
    ++ticks;
    platform::KillThreadTimer(id);
  });
  for (int i = 0; i < 5; ++i) {
    time.clock.Advance(10);
    platform::DispatchWaitingMessages();
  }
  EXPECT_EQ(ticks, 1);
  EXPECT_FALSE(platform::KillThreadTimer(timer));
}

TEST(Timers, TheSystemClockDrivesABlockingLoop) {
  int ticks = 0;
  platform::StartThreadTimer(5, [&](platform::TimerId id) {
    if (++ticks == 3) {
      platform::KillThreadTimer(id);
      platform::PostQuitMessage(0);
    }
  });
  const std::uint32_t start = platform::TickCount();
  platform::RunMessageLoop();
  EXPECT_EQ(ticks, 3);
  EXPECT_GE(platform::TickCount() - start, 10u);
}

TEST(MessageBoxes, GoToTheResponderWithTheCaption) {
  std::vector<platform::MessageBoxRequest> shown;
  platform::SetMessageBoxResponder([&](const platform::MessageBoxRequest& request) {
    shown.push_back(request);
    return platform::MessageBoxAnswer::No;
  });
  EXPECT_EQ(platform::ShowMessageBox("Question?", platform::MessageBoxButtons::YesNo), platform::MessageBoxAnswer::No);
  platform::SetMessageBoxResponder(nullptr);
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].caption, "VELTRA");
  EXPECT_EQ(shown[0].text, "Question?");
  EXPECT_EQ(shown[0].buttons, platform::MessageBoxButtons::YesNo);
}

#if !defined(_WIN32)
// On Windows a real box would wait for its user.
TEST(MessageBoxes, WithoutAResponderTheDefaultButtonAnswers) {
  EXPECT_EQ(platform::ShowMessageBox("Note"), platform::MessageBoxAnswer::Ok);
  EXPECT_EQ(platform::ShowMessageBox("Sure?", platform::MessageBoxButtons::YesNo), platform::MessageBoxAnswer::Yes);
}
#endif

class Menus : public ::testing::Test {
 protected:
  void SetUp() override {
    bar = platform::CreateMenuBar();
    file = platform::CreatePopupMenu();
    platform::AppendMenuString(file, 1, "Open");
    platform::AppendMenuSeparator(file);
    inner = platform::CreatePopupMenu();
    platform::AppendMenuString(inner, 7, "Deep");
    platform::AppendMenuPopup(file, inner, "More");
    platform::AppendMenuPopup(bar, file, "File");
  }
  void TearDown() override { platform::DestroyMenu(bar); }
  platform::Menu bar = nullptr, file = nullptr, inner = nullptr;
};

TEST_F(Menus, ItemsAreReadByPosition) {
  EXPECT_EQ(platform::MenuItemCount(bar), 1);
  EXPECT_EQ(platform::MenuItemTextLength(bar, 0), 4);
  char small[3];
  EXPECT_EQ(platform::MenuItemText(bar, 0, small, sizeof small), 2);
  EXPECT_STREQ(small, "Fi");
  EXPECT_EQ(platform::MenuItemPopup(bar, 0), file);
  EXPECT_EQ(platform::MenuItemTextLength(file, 1), -1);  // separator
  EXPECT_EQ(platform::MenuItemTextLength(file, 9), -1);
  EXPECT_EQ(platform::MenuItemId(file, 0), 1u);
  EXPECT_EQ(platform::MenuItemId(file, 2), 0u);
}

TEST_F(Menus, FindByIdSearchesEveryDropDownAndTheIdCanChange) {
  platform::MenuItemInfo info;
  ASSERT_TRUE(platform::FindMenuItemById(bar, 7, &info));
  EXPECT_EQ(info.type, platform::MenuItemType::String);
  EXPECT_EQ(info.text, "Deep");
  EXPECT_TRUE(platform::SetMenuItemId(bar, 7, 70));
  EXPECT_FALSE(platform::FindMenuItemById(bar, 7, &info));
  EXPECT_TRUE(platform::FindMenuItemById(bar, 70, &info));
  EXPECT_EQ(info.text, "Deep");
  EXPECT_TRUE(platform::AppendMenuString(inner, 8, "Added"));
  EXPECT_TRUE(platform::FindMenuItemById(bar, 8, &info));
}

TEST_F(Menus, AWindowKeepsItsMenuBarAndStaleHandlesAreRefused) {
  platform::Window window = platform::MakeWindow([](const Message&) { return 0; });
  EXPECT_TRUE(platform::SetWindowMenu(window, bar));
  EXPECT_EQ(platform::GetWindowMenu(window), bar);
  EXPECT_TRUE(platform::SetWindowMenu(window, nullptr));
  EXPECT_EQ(platform::GetWindowMenu(window), nullptr);
  platform::DestroyMenu(bar);
  EXPECT_EQ(platform::MenuItemCount(bar), -1);
  EXPECT_FALSE(platform::AppendMenuString(file, 2, "Gone"));
  bar = nullptr;
  platform::DestroyWindow(window);
}

TEST(Keyboard, StateIsSetByTheStandIn) {
  EXPECT_FALSE(platform::NumLockOn());
  platform::SetNumLock(true);
  platform::SetKeyHeld(platform::Key::Numpad3, true);
  EXPECT_TRUE(platform::NumLockOn());
  EXPECT_TRUE(platform::KeyHeld(platform::Key::Numpad3));
  EXPECT_FALSE(platform::KeyHeld(platform::Key::Numpad9));
}

TEST(Module, VersionAndResourcesAreFoundAsRegistered) {
  EXPECT_FALSE(platform::ModuleProductVersion().has_value());
  EXPECT_TRUE(platform::FindModuleResource("BIN", 1013).empty());
  static const std::byte image[] = {std::byte{1}, std::byte{2}};
  platform::RegisterModuleResource("BIN", 1013, image);
  platform::RegisterModuleVersion(platform::ProductVersion{0, 1, 1, 4});
  EXPECT_EQ(platform::FindModuleResource("BIN", 1013).size(), 2u);
  EXPECT_TRUE(platform::FindModuleResource("BIN", 1014).empty());
  EXPECT_EQ(platform::ModuleProductVersion()->revision, 4);
}

}  // namespace

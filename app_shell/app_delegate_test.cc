#include "app_shell/app_delegate.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "external_plugins/external_plugins.h"
#include "platform/appkit/ns_application.h"

namespace korvane {
namespace {

using external_plugins::WindowExtPlugin;

std::unique_ptr<NSWindow> window() {
  return std::make_unique<NSWindow>(NSRect{0, 0, 100, 100}, NSWindowStyleMaskTitled,
                                    NSBackingStoreBuffered, false);
}

// Counts what window_ext sends to the interface.
class CountingMessenger final : public BinaryMessenger {
 public:
  void setMessageHandler(const std::string&, BinaryMessageHandler) override {}
  void send(const std::string& channel, std::vector<uint8_t>, BinaryReply) override {
    sent.push_back(channel);
  }
  std::vector<std::string> sent;
};

class AppDelegateTest : public ::testing::Test {
 protected:
  void SetUp() override { app_.setDelegate(&delegate_); }
  NSApplication app_;
  AppDelegate delegate_;
};

// Catches a reopen with an empty window list that touches the application
// or answers false.
TEST_F(AppDelegateTest, ReopenWithNoWindowsTouchesNothing) {
  app_.clearChangeLog();
  EXPECT_TRUE(delegate_.applicationShouldHandleReopen(app_, false));
  EXPECT_TRUE(app_.changeLog().empty());
  EXPECT_FALSE(app_.isActive());
}

// Catches windows shown out of list order, a hidden window not shown, an
// activation made once after the loop instead of once per window, or the
// wrong window left key.
TEST_F(AppDelegateTest, ReopenShowsHiddenWindowsInListOrder) {
  auto first = window(), second = window();
  app_.clearChangeLog();
  EXPECT_TRUE(delegate_.applicationShouldHandleReopen(app_, false));
  const std::string a = "window " + std::to_string(first->windowNumber());
  const std::string b = "window " + std::to_string(second->windowNumber());
  EXPECT_EQ(app_.changeLog(), (std::vector<std::string>{
                                  a + " order above 0", a + " visible", a + " order above 0",
                                  a + " key", "activate", b + " order above 0", b + " visible",
                                  b + " order above 0", a + " notkey", b + " key", "activate"}));
  EXPECT_TRUE(first->isVisible());
  EXPECT_TRUE(second->isKeyWindow());
  EXPECT_TRUE(app_.isActive());
}

// Catches a window skipped because it is already visible: each window of the
// list is fronted and followed by an activation, visible or not.
TEST_F(AppDelegateTest, ReopenFrontsVisibleWindowsOfTheListToo) {
  auto hidden = window(), shown = window();
  shown->orderFront(nullptr);
  app_.clearChangeLog();
  EXPECT_TRUE(delegate_.applicationShouldHandleReopen(app_, false));
  const std::string a = "window " + std::to_string(hidden->windowNumber());
  const std::string b = "window " + std::to_string(shown->windowNumber());
  EXPECT_EQ(app_.changeLog(),
            (std::vector<std::string>{a + " order above 0", a + " visible", a + " order above 0",
                                      a + " key", "activate", b + " order above 0", a + " notkey",
                                      b + " key", "activate"}));
}

// Catches a reopen with visible windows that changes anything.
TEST_F(AppDelegateTest, ReopenWithVisibleWindowsChangesNothing) {
  auto hidden = window(), shown = window();
  shown->orderFront(nullptr);
  app_.clearChangeLog();
  EXPECT_TRUE(delegate_.applicationShouldHandleReopen(app_, true));
  EXPECT_TRUE(app_.changeLog().empty());
  EXPECT_FALSE(hidden->isVisible());
}

// Catches a quit that is not cancelled, a hand-over skipped, made more than
// once per request, or attempted without an instance.
TEST_F(AppDelegateTest, QuitIsHandedToWindowExtAndCancelled) {
  WindowExtPlugin::instance = nullptr;
  EXPECT_EQ(delegate_.applicationShouldTerminate(app_), NSTerminateCancel);
  EXPECT_EQ(app_.terminate(nullptr), NSTerminateCancel);
  EXPECT_FALSE(app_.stopRequested());

  CountingMessenger messenger;
  FlutterPluginRegistrar registrar("WindowExtPlugin", messenger);
  WindowExtPlugin::registerWith(registrar);
  ASSERT_NE(WindowExtPlugin::instance, nullptr);
  EXPECT_EQ(delegate_.applicationShouldTerminate(app_), NSTerminateCancel);
  EXPECT_EQ(WindowExtPlugin::instance->terminateRequestCount(), 1);
  EXPECT_EQ(app_.terminate(nullptr), NSTerminateCancel);
  EXPECT_EQ(WindowExtPlugin::instance->terminateRequestCount(), 2);
  EXPECT_EQ(messenger.sent, (std::vector<std::string>{"window_ext", "window_ext"}));
  EXPECT_FALSE(app_.stopRequested());
  WindowExtPlugin::instance = nullptr;
}

// Catches the fixed answers turned around.
TEST_F(AppDelegateTest, KeepsRunningWithoutWindowsAndRestoresSecurely) {
  EXPECT_FALSE(delegate_.applicationShouldTerminateAfterLastWindowClosed(app_));
  EXPECT_TRUE(delegate_.applicationSupportsSecureRestorableState(app_));
}

}  // namespace
}  // namespace korvane

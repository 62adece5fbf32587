#include "app_shell/app_delegate.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "external_plugins/external_plugins.h"
#include "platform/appkit/ns_application.h"
#include "platform/embedding/testing/recording_messenger.h"

namespace korvane {
namespace {

using external_plugins::WindowExtPlugin;

// Catches a reopen that skips a window of the list (hidden or already
// visible), fronts them out of order, activates once after the loop instead
// of after each window, leaves the wrong window key, answers false, or
// touches anything when there are no windows or the flag says some are visible.
TEST(AppDelegateTest, ReopenFrontsEachWindowOfTheListInOrder) {
  const std::vector<std::string> bothHidden = {
      "A order above 0", "A visible",       "A order above 0", "A key",
      "activate",        "B order above 0", "B visible",       "B order above 0",
      "A notkey",        "B key",           "activate"};
  const std::vector<std::string> secondShown = {"A order above 0", "A visible", "A order above 0",
                                                "A key",           "activate",  "B order above 0",
                                                "A notkey",        "B key",     "activate"};
  const struct {
    size_t windows;
    bool secondShown;
    bool hasVisibleWindows;
    std::vector<std::string> log;
  } cases[] = {
      {0, false, false, {}},
      {2, false, false, bothHidden},
      {2, true, false, secondShown},
      {2, true, true, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.log.size());
    NSApplication app;
    AppDelegate delegate;
    app.setDelegate(&delegate);
    std::vector<std::unique_ptr<NSWindow>> windows;
    for (size_t i = 0; i < c.windows; ++i) {
      windows.push_back(std::make_unique<NSWindow>(NSRect{0, 0, 100, 100}, NSWindowStyleMaskTitled,
                                                   NSBackingStoreBuffered, false));
    }
    if (c.secondShown) windows[1]->orderFront(nullptr);
    app.clearChangeLog();
    EXPECT_TRUE(delegate.applicationShouldHandleReopen(app, c.hasVisibleWindows));
    std::vector<std::string> expected = c.log;
    for (std::string& line : expected) {
      if (line[0] == 'A' || line[0] == 'B') {
        line.replace(0, 1, "window " + std::to_string(windows[line[0] - 'A']->windowNumber()));
      }
    }
    EXPECT_EQ(app.changeLog(), expected);
    EXPECT_EQ(app.isActive(), !expected.empty());
  }
}

// Catches a quit that is not cancelled, a hand-over skipped, made more than
// once per request, or attempted without an instance.
TEST(AppDelegateTest, QuitIsHandedToWindowExtAndCancelled) {
  NSApplication app;
  AppDelegate delegate;
  app.setDelegate(&delegate);
  WindowExtPlugin::instance = nullptr;
  EXPECT_EQ(app.terminate(nullptr), NSTerminateCancel);

  testing::RecordingMessenger messenger;
  FlutterPluginRegistrar registrar("WindowExtPlugin", messenger);
  WindowExtPlugin::registerWith(registrar);
  EXPECT_EQ(delegate.applicationShouldTerminate(app), NSTerminateCancel);
  EXPECT_EQ(app.terminate(nullptr), NSTerminateCancel);
  ASSERT_EQ(messenger.sent.size(), 2u);
  EXPECT_EQ(messenger.sent[1].channel, "window_ext");
  EXPECT_FALSE(app.stopRequested());
  WindowExtPlugin::instance = nullptr;
}

}  // namespace
}  // namespace korvane

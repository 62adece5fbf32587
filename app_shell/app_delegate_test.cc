#include "app_shell/app_delegate.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "platform/appkit/ns_application.h"

namespace korvane {
namespace {

// Catches a reopen that skips a window of the list (hidden or already
// visible), fronts them out of order, activates once after the loop instead
// of after each window, leaves the wrong window key, answers false, or
// touches anything when there are no windows or the flag says some are visible.
TEST(AppDelegateTest, ReopenFrontsEachWindowOfTheListInOrder) {
  const std::vector<std::string> firstFronted = {"A order above 0", "A visible", "A order above 0",
                                                 "A key",           "activate",  "B order above 0"};
  std::vector<std::string> bothHidden = firstFronted, secondShown = firstFronted;
  bothHidden.insert(bothHidden.end(),
                    {"B visible", "B order above 0", "A notkey", "B key", "activate"});
  secondShown.insert(secondShown.end(), {"A notkey", "B key", "activate"});
  // Windows, whether the second is shown already, the flag, and the log.
  const std::tuple<size_t, bool, bool, std::vector<std::string>> cases[] = {
      {0, false, false, {}},
      {2, false, false, bothHidden},
      {2, true, false, secondShown},
      {2, true, true, {}}};
  for (const auto& [count, shown, hasVisibleWindows, log] : cases) {
    NSApplication app;
    AppDelegate delegate;
    app.setDelegate(&delegate);
    std::vector<std::unique_ptr<NSWindow>> windows;
    for (size_t i = 0; i < count; ++i) {
      windows.push_back(std::make_unique<NSWindow>(NSRect{0, 0, 100, 100}, NSWindowStyleMaskTitled,
                                                   NSBackingStoreBuffered, false));
    }
    if (shown) windows[1]->orderFront(nullptr);
    app.clearChangeLog();
    EXPECT_TRUE(delegate.applicationShouldHandleReopen(app, hasVisibleWindows));
    std::vector<std::string> expected = log;
    for (std::string& line : expected) {  // "A ..." and "B ..." are about the two windows
      if (line != "activate")
        line.replace(0, 1, "window " + std::to_string(windows[line[0] - 'A']->windowNumber()));
    }
    EXPECT_EQ(app.changeLog(), expected);
    EXPECT_EQ(app.isActive(), !expected.empty());
  }
}

}  // namespace
}  // namespace korvane

#include "platform/appkit/ns_application.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/dispatch_queue.h"
#include "testing/loop_watchdog.h"

namespace korvane {
namespace {

std::unique_ptr<NSWindow> window() {
  return std::make_unique<NSWindow>(NSRect{0, 0, 100, 100}, NSWindowStyleMaskTitled,
                                    NSBackingStoreBuffered, false);
}

// Answers quit and reopen as told and records what it was asked.
class RecordingDelegate : public NSApplicationDelegate {
 public:
  NSApplicationTerminateReply applicationShouldTerminate(NSApplication&) override {
    ++terminateQuestions;
    return terminateReply;
  }
  bool applicationShouldHandleReopen(NSApplication&, bool hasVisibleWindows) override {
    reopenQuestions.push_back(hasVisibleWindows);
    return reopenAnswer;
  }
  void applicationDidFinishLaunching(NSApplication&) override { ++launched; }

  NSApplicationTerminateReply terminateReply = NSTerminateNow;
  bool reopenAnswer = false;
  int terminateQuestions = 0;
  std::vector<bool> reopenQuestions;
  int launched = 0;
};

// Notes its destruction in a shared list.
class NotingWindow : public NSWindow {
 public:
  NotingWindow(std::string name, std::vector<std::string>& gone)
      : NSWindow({0, 0, 1, 1}, NSWindowStyleMaskTitled, NSBackingStoreBuffered, false),
        name_(std::move(name)),
        gone_(gone) {}
  ~NotingWindow() override { gone_.push_back(name_); }

 private:
  std::string name_;
  std::vector<std::string>& gone_;
};

// Catches a test application that is not the shared one, or a second shared one.
TEST(NSApplication, TheApplicationMadeFirstIsShared) {
  NSApplication app;
  EXPECT_EQ(&NSApplication::sharedApplication(), &app);
  EXPECT_EQ(&NSApp(), &app);
  auto w = window();
  EXPECT_EQ(app.windows(), std::vector<NSWindow*>{w.get()});
}

// Catches hiding that leaves windows up or the application active, unhiding
// that shows windows that were hidden before, loses their order or the key
// window, or a second hide that forgets what the first remembered.
TEST(NSApplication, HideRemembersWhatUnhideRestores) {
  NSApplication app;
  auto a = window(), b = window(), c = window();
  a->orderFront(nullptr);
  b->makeKeyAndOrderFront(nullptr);
  app.activateIgnoringOtherApps(true);
  app.hide(nullptr);
  EXPECT_TRUE(app.isHidden());
  EXPECT_FALSE(app.isActive());
  EXPECT_FALSE(a->isVisible());
  EXPECT_FALSE(b->isVisible());
  EXPECT_EQ(app.keyWindow(), nullptr);
  app.hide(nullptr);
  app.unhide(nullptr);
  EXPECT_FALSE(app.isHidden());
  EXPECT_TRUE(a->isVisible());
  EXPECT_TRUE(b->isVisible());
  EXPECT_FALSE(c->isVisible()) << "was hidden before the application hid";
  EXPECT_EQ(app.orderedWindows(), (std::vector<NSWindow*>{b.get(), a.get()}));
  EXPECT_EQ(app.keyWindow(), b.get());
}

// Catches activation that is not recorded each time, or that leaves a hidden
// application hidden.
TEST(NSApplication, ActivationUnhidesAndIsRecordedEachTime) {
  NSApplication app;
  auto a = window();
  a->orderFront(nullptr);
  app.hide(nullptr);
  app.clearChangeLog();
  app.activateIgnoringOtherApps(true);
  app.activateIgnoringOtherApps(true);
  EXPECT_TRUE(app.isActive());
  EXPECT_FALSE(app.isHidden());
  EXPECT_TRUE(a->isVisible());
  const std::string n = std::to_string(a->windowNumber());
  EXPECT_EQ(app.changeLog(),
            (std::vector<std::string>{"unhide", "window " + n + " order above 0",
                                      "window " + n + " visible", "activate", "activate"}));
}

// Catches a quit that ends the application against the delegate's answer, or
// one that does not end it when the answer (or AppKit's default) is now.
TEST(NSApplication, TerminateStopsOnlyOnNow) {
  struct Case {
    bool hasDelegate;
    NSApplicationTerminateReply reply;
    bool stops;
  } cases[] = {{false, NSTerminateNow, true},
               {true, NSTerminateNow, true},
               {true, NSTerminateCancel, false},
               {true, NSTerminateLater, false}};
  for (const Case& c : cases) {
    NSApplication app;
    RecordingDelegate delegate;
    delegate.terminateReply = c.reply;
    if (c.hasDelegate) app.setDelegate(&delegate);
    EXPECT_EQ(app.terminate(nullptr), c.reply);
    EXPECT_EQ(app.stopRequested(), c.stops) << c.reply;
    EXPECT_EQ(delegate.terminateQuestions, c.hasDelegate ? 1 : 0);
  }
}

// Catches a run() that a quit does not end, or one that ends before the work
// already queued on the main thread (a reply being written) has run.
TEST(NSApplication, QuitEndsTheRunningLoopAfterQueuedWork) {
  NSApplication app;
  testing::LoopWatchdog watchdog;
  bool queuedBeforeTheStopRan = false;
  mainQueue().async([&] {
    EXPECT_TRUE(app.isRunning());
    app.terminate(nullptr);
  });
  mainQueue().async([&] { queuedBeforeTheStopRan = true; });
  app.run();
  EXPECT_FALSE(watchdog.fired()) << "the loop did not stop";
  EXPECT_FALSE(app.isRunning());
  EXPECT_TRUE(queuedBeforeTheStopRan);
  app.run();  // returns at once: the application has stopped
}

// Catches a reopen that gets the visibility wrong, is not counted, or whose
// answer is not the delegate's.
TEST(NSApplication, ReopenAsksWithVisibility) {
  NSApplication app;
  RecordingDelegate delegate;
  app.setDelegate(&delegate);
  auto w = window();
  EXPECT_FALSE(app.handleReopen());
  w->orderFront(nullptr);
  app.handleReopen();
  EXPECT_EQ(delegate.reopenQuestions, (std::vector<bool>{false, true}));
  EXPECT_EQ(app.reopenCount(), 2);
  app.setDelegate(nullptr);
  EXPECT_TRUE(app.handleReopen()) << "AppKit's default answer";
}

// Catches launch tasks run out of order, run twice, or run on past a failure.
TEST(NSApplication, LaunchTasksRunInOrderUntilOneFails) {
  NSApplication app;
  std::vector<int> ran;
  app.addLaunchTask([&]() -> std::optional<std::string> {
    ran.push_back(1);
    return {};
  });
  app.addLaunchTask([&]() -> std::optional<std::string> {
    ran.push_back(2);
    return "no socket";
  });
  app.addLaunchTask([&]() -> std::optional<std::string> {
    ran.push_back(3);
    return {};
  });
  EXPECT_EQ(app.runLaunchTasks(), "no socket");
  EXPECT_EQ(ran, (std::vector<int>{1, 2}));
  EXPECT_EQ(app.runLaunchTasks(), std::nullopt);
  EXPECT_EQ(ran, (std::vector<int>{1, 2}));
}

// Catches a teardown that leaves the main interface's windows alive (a Flutter
// engine that would never stop), destroys them in the wrong order, or keeps a
// dangling delegate.
TEST(NSApplication, TearDownDestroysAdoptedWindowsNewestFirst) {
  NSApplication app;
  std::vector<std::string> gone;
  app.adoptWindow(std::make_unique<NotingWindow>("first", gone));
  app.adoptWindow(std::make_unique<NotingWindow>("second", gone));
  app.adoptDelegate(std::make_unique<RecordingDelegate>());
  ASSERT_NE(app.delegate(), nullptr);
  app.tearDown();
  EXPECT_EQ(gone, (std::vector<std::string>{"second", "first"}));
  EXPECT_TRUE(app.windows().empty());
  EXPECT_EQ(app.delegate(), nullptr);
  app.tearDown();
}

// Catches a change log that grows without bound or drops the newest events.
TEST(NSApplication, ChangeLogKeepsTheNewestEvents) {
  NSApplication app;
  const size_t total = NSApplication::kChangeLogLimit + 88;
  for (size_t i = 0; i < total; ++i) app.noteChange("event " + std::to_string(i));
  const std::vector<std::string> log = app.changeLog();
  ASSERT_EQ(log.size(), NSApplication::kChangeLogLimit);
  EXPECT_EQ(log.front(), "event 88");
  EXPECT_EQ(log.back(), "event " + std::to_string(total - 1));
}

// Catches a delegate that is not told that launching finished.
TEST(NSApplication, FinishLaunchingTellsTheDelegate) {
  NSApplication app;
  RecordingDelegate delegate;
  app.setDelegate(&delegate);
  app.finishLaunching();
  EXPECT_EQ(delegate.launched, 1);
}

}  // namespace
}  // namespace korvane

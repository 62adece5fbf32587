#include "platform/appkit/ns_window.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/appkit/ns_application.h"

namespace korvane {
namespace {

std::unique_ptr<NSWindow> window(NSRect frame = {10, 20, 300, 200}) {
  return std::make_unique<NSWindow>(frame, NSWindowStyleMaskTitled, NSBackingStoreBuffered, false);
}

std::vector<int> numbers(const std::vector<NSWindow*>& windows) {
  std::vector<int> result;
  for (const NSWindow* w : windows) result.push_back(w->windowNumber());
  return result;
}

// Records every ordering that reaches order(), as a subclass sees it.
class OrderRecordingWindow : public NSWindow {
 public:
  OrderRecordingWindow()
      : NSWindow({0, 0, 100, 100}, NSWindowStyleMaskTitled, NSBackingStoreBuffered, false) {}
  void order(NSWindowOrderingMode mode, int relativeTo) override {
    orders.push_back({mode, relativeTo});
    NSWindow::order(mode, relativeTo);
  }
  std::vector<std::pair<NSWindowOrderingMode, int>> orders;
};

// Answers the last-window and quit questions as told and counts them.
class ClosingDelegate : public NSApplicationDelegate {
 public:
  ClosingDelegate(bool quitAfterLastWindow, NSApplicationTerminateReply reply)
      : quitAfterLastWindow_(quitAfterLastWindow), reply_(reply) {}
  bool applicationShouldTerminateAfterLastWindowClosed(NSApplication&) override {
    ++lastWindowQuestions;
    return quitAfterLastWindow_;
  }
  NSApplicationTerminateReply applicationShouldTerminate(NSApplication&) override {
    ++terminateQuestions;
    return reply_;
  }
  int lastWindowQuestions = 0;
  int terminateQuestions = 0;

 private:
  bool quitAfterLastWindow_;
  NSApplicationTerminateReply reply_;
};

// Catches windows placed at the wrong spot of the window order, orderings
// relative to a window that is ignored, or visibility that does not follow.
TEST(NSWindow, OrdersAboveBelowAndOut) {
  NSApplication app;
  auto a = window(), b = window(), c = window();
  const int na = a->windowNumber(), nb = b->windowNumber(), nc = c->windowNumber();
  a->orderFront(nullptr);
  b->orderFront(nullptr);
  EXPECT_EQ(numbers(app.orderedWindows()), (std::vector<int>{nb, na}));
  c->orderBack(nullptr);
  EXPECT_EQ(numbers(app.orderedWindows()), (std::vector<int>{nb, na, nc}));
  c->order(NSWindowAbove, na);
  EXPECT_EQ(numbers(app.orderedWindows()), (std::vector<int>{nb, nc, na}));
  a->order(NSWindowBelow, nb);
  EXPECT_EQ(numbers(app.orderedWindows()), (std::vector<int>{nb, na, nc}));
  EXPECT_TRUE(b->isVisible());
  b->orderOut(nullptr);
  EXPECT_FALSE(b->isVisible());
  EXPECT_EQ(numbers(app.orderedWindows()), (std::vector<int>{na, nc}));
  // The window list keeps creation order whatever the window order.
  EXPECT_EQ(numbers(app.windows()), (std::vector<int>{na, nb, nc}));
}

// Catches a hidden window that becomes key, a key window kept after it was
// ordered out, or two key windows at once.
TEST(NSWindow, KeyStatusFollowsOrdering) {
  NSApplication app;
  auto a = window(), b = window();
  a->makeKeyWindow();
  EXPECT_EQ(app.keyWindow(), nullptr) << "a hidden window cannot be key";
  a->makeKeyAndOrderFront(nullptr);
  EXPECT_TRUE(a->isVisible());
  EXPECT_TRUE(a->isKeyWindow());
  b->makeKeyAndOrderFront(nullptr);
  EXPECT_TRUE(b->isKeyWindow());
  EXPECT_FALSE(a->isKeyWindow());
  b->orderOut(nullptr);
  EXPECT_EQ(app.keyWindow(), nullptr);
  const std::string na = std::to_string(a->windowNumber()), nb = std::to_string(b->windowNumber());
  EXPECT_EQ(
      app.changeLog(),
      (std::vector<std::string>{
          "window " + na + " new", "window " + nb + " new", "window " + na + " order above 0",
          "window " + na + " visible", "window " + na + " key", "window " + nb + " order above 0",
          "window " + nb + " visible", "window " + na + " notkey", "window " + nb + " key",
          "window " + nb + " order out", "window " + nb + " hidden", "window " + nb + " notkey"}));
}

// Catches window numbers that repeat or go down, or a destroyed window left
// in the application's lists.
TEST(NSWindow, NumbersAreUniqueAndDestroyedWindowsLeave) {
  NSApplication app;
  auto a = window();
  auto b = window();
  EXPECT_GT(b->windowNumber(), a->windowNumber());
  b->makeKeyAndOrderFront(nullptr);
  b.reset();
  EXPECT_EQ(app.windows().size(), 1u);
  EXPECT_TRUE(app.orderedWindows().empty());
  EXPECT_EQ(app.keyWindow(), nullptr);
  auto c = window();
  EXPECT_GT(c->windowNumber(), a->windowNumber() + 1) << "numbers are never reused";
}

// Catches an ordering operation that bypasses order(), so a subclass (the
// main window) would miss it.
TEST(NSWindow, EveryOrderingGoesThroughOrder) {
  using Orders = std::vector<std::pair<NSWindowOrderingMode, int>>;
  struct Case {
    const char* name;
    std::function<void(NSApplication&, OrderRecordingWindow&)> act;
    Orders expected;
  } cases[] = {
      {"orderFront", [](auto&, auto& w) { w.orderFront(nullptr); }, {{NSWindowAbove, 0}}},
      {"orderBack", [](auto&, auto& w) { w.orderBack(nullptr); }, {{NSWindowBelow, 0}}},
      {"makeKeyAndOrderFront",
       [](auto&, auto& w) { w.makeKeyAndOrderFront(nullptr); },
       {{NSWindowAbove, 0}}},
      {"setIsVisible",
       [](auto&, auto& w) {
         w.setIsVisible(true);
         w.setIsVisible(false);
       },
       {{NSWindowAbove, 0}, {NSWindowOut, 0}}},
      {"close",
       [](auto&, auto& w) {
         w.orderFront(nullptr);
         w.close();
       },
       {{NSWindowAbove, 0}, {NSWindowOut, 0}}},
      {"hide and unhide",
       [](NSApplication& app, auto& w) {
         w.orderFront(nullptr);
         app.hide(nullptr);
         app.unhide(nullptr);
       },
       {{NSWindowAbove, 0}, {NSWindowOut, 0}, {NSWindowAbove, 0}}},
  };
  for (const Case& c : cases) {
    NSApplication app;
    OrderRecordingWindow w;
    c.act(app, w);
    EXPECT_EQ(w.orders, c.expected) << c.name;
  }
}

// Catches a content view controller that does not size the window, one that
// moves its origin, or a zero preferred size applied.
TEST(NSWindow, ContentViewControllerSizesTheWindowKeepingItsOrigin) {
  NSApplication app;
  auto w = window({10, 20, 300, 200});
  auto sized = std::make_unique<NSViewController>();
  sized->setPreferredContentSize({640, 480});
  NSViewController* sizedPointer = sized.get();
  w->setContentViewController(std::move(sized));
  EXPECT_EQ(w->contentViewController(), sizedPointer);
  EXPECT_EQ(w->frame(), (NSRect{10, 20, 640, 480}));
  w->setContentViewController(std::make_unique<NSViewController>());
  EXPECT_EQ(w->frame(), (NSRect{10, 20, 640, 480}));
}

// Catches closing that quits by itself, that does not ask the delegate when
// the last visible window goes, asks while others are still visible, or
// ignores the delegate's answers.
TEST(NSWindow, ClosingTheLastWindowAsksTheDelegate) {
  struct Case {
    const char* name;
    bool otherWindowVisible;
    bool quitAfterLastWindow;
    NSApplicationTerminateReply reply;
    int lastWindowQuestions;
    int terminateQuestions;
    bool stops;
  } cases[] = {
      {"another window visible", true, true, NSTerminateNow, 0, 0, false},
      {"delegate keeps running", false, false, NSTerminateNow, 1, 0, false},
      {"delegate quits", false, true, NSTerminateNow, 1, 1, true},
      {"delegate quits, quit cancelled", false, true, NSTerminateCancel, 1, 1, false},
  };
  for (const Case& c : cases) {
    NSApplication app;
    ClosingDelegate delegate(c.quitAfterLastWindow, c.reply);
    app.setDelegate(&delegate);
    auto closing = window(), other = window();
    closing->orderFront(nullptr);
    if (c.otherWindowVisible) other->orderFront(nullptr);
    closing->close();
    EXPECT_FALSE(closing->isVisible()) << c.name;
    EXPECT_EQ(app.windows().size(), 2u) << c.name << ": a closed window stays in the list";
    EXPECT_EQ(delegate.lastWindowQuestions, c.lastWindowQuestions) << c.name;
    EXPECT_EQ(delegate.terminateQuestions, c.terminateQuestions) << c.name;
    EXPECT_EQ(app.stopRequested(), c.stops) << c.name;
  }
  // Without a delegate AppKit's answer is false: nothing quits.
  NSApplication app;
  auto w = window();
  w->orderFront(nullptr);
  w->close();
  EXPECT_FALSE(app.stopRequested());
}

// Catches a frame change that is lost or not recorded.
TEST(NSWindow, SetFrameRecordsTheChange) {
  NSApplication app;
  auto w = window({0, 0, 10, 10});
  app.clearChangeLog();
  w->setFrame({1.4, -2, 1280.6, 720}, true);
  EXPECT_EQ(w->frame(), (NSRect{1.4, -2, 1280.6, 720}));
  w->setFrame({1.4, -2, 1280.6, 720}, true);
  EXPECT_EQ(app.changeLog(),
            std::vector<std::string>{"window " + std::to_string(w->windowNumber()) +
                                     " frame 1,-2,1281,720"});
}

}  // namespace
}  // namespace korvane

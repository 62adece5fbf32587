#include "platform/linux/appkit/instance_requests.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace korvane {
namespace {

constexpr int32_t kPid = 4242;

std::unique_ptr<NSWindow> window(NSRect frame) {
  return std::make_unique<NSWindow>(frame, NSWindowStyleMaskTitled, NSBackingStoreBuffered, false);
}

// Answers quit, reopen and the last-window question as told; records reopens.
class Delegate : public NSApplicationDelegate {
 public:
  bool applicationShouldTerminateAfterLastWindowClosed(NSApplication&) override {
    return quitAfterLastWindow;
  }
  NSApplicationTerminateReply applicationShouldTerminate(NSApplication&) override {
    return terminateReply;
  }
  bool applicationShouldHandleReopen(NSApplication&, bool hasVisibleWindows) override {
    reopens.push_back(hasVisibleWindows);
    return true;
  }
  bool quitAfterLastWindow = false;
  NSApplicationTerminateReply terminateReply = NSTerminateCancel;
  std::vector<bool> reopens;
};

class InstanceRequests : public ::testing::Test {
 protected:
  void SetUp() override {
    app_.setDelegate(&delegate_);
    front_->setFrame({0, 0, 1280, 720}, true);
    front_->makeKeyAndOrderFront(nullptr);
  }
  std::string ask(std::string_view request) { return answerInstanceRequest(app_, request, kPid); }
  std::string n(const std::unique_ptr<NSWindow>& w) { return std::to_string(w->windowNumber()); }

  NSApplication app_;
  Delegate delegate_;
  std::unique_ptr<NSWindow> front_ = window({0, 0, 1, 1});
  std::unique_ptr<NSWindow> back_ = window({10.4, 20.6, 300, 200});
};

// Catches a state line with a field missing, misnamed, out of order, with
// fractions, or windows listed in another order than the application's.
TEST_F(InstanceRequests, StateDescribesTheApplication) {
  EXPECT_EQ(ask("state"), "ok pid=4242 active=0 hidden=0 reopens=0 windows=2 window=" + n(front_) +
                              ",visible,key,0,0,1280,720 window=" + n(back_) +
                              ",hidden,notkey,10,21,300,200");
}

// Catches a request that does not reach the application, reaches the wrong
// operation, or replies with anything but "ok pid=<pid>".
TEST_F(InstanceRequests, RequestsChangeTheApplication) {
  EXPECT_EQ(ask("ping"), "ok pid=4242");
  EXPECT_EQ(ask("activate"), "ok pid=4242");
  EXPECT_TRUE(app_.isActive());
  EXPECT_EQ(ask("hide"), "ok pid=4242");
  EXPECT_TRUE(app_.isHidden());
  EXPECT_FALSE(front_->isVisible());
  EXPECT_EQ(ask("reopen"), "ok pid=4242");
  EXPECT_EQ(ask("unhide"), "ok pid=4242");
  EXPECT_FALSE(app_.isHidden());
  EXPECT_TRUE(front_->isVisible());
  EXPECT_EQ(ask("reopen"), "ok pid=4242");
  EXPECT_EQ(delegate_.reopens, (std::vector<bool>{false, true})) << "visibility as it was";
  EXPECT_EQ(ask("state"), "ok pid=4242 active=0 hidden=0 reopens=2 windows=2 window=" + n(front_) +
                              ",visible,key,0,0,1280,720 window=" + n(back_) +
                              ",hidden,notkey,10,21,300,200");
  back_->orderFront(nullptr);
  EXPECT_EQ(ask("close"), "ok pid=4242");
  EXPECT_FALSE(front_->isVisible());
  EXPECT_FALSE(back_->isVisible());
  EXPECT_EQ(app_.windows().size(), 2u);
  EXPECT_FALSE(app_.stopRequested()) << "the delegate keeps the application running";
}

// Catches a quit reply that does not carry the delegate's answer, or a stop
// made against it.
TEST_F(InstanceRequests, QuitRepliesWithTheDelegatesAnswer) {
  delegate_.terminateReply = NSTerminateCancel;
  EXPECT_EQ(ask("quit"), "ok pid=4242 terminate=cancel");
  delegate_.terminateReply = NSTerminateLater;
  EXPECT_EQ(ask("quit"), "ok pid=4242 terminate=later");
  EXPECT_FALSE(app_.stopRequested());
  delegate_.terminateReply = NSTerminateNow;
  EXPECT_EQ(ask("quit"), "ok pid=4242 terminate=now");
  EXPECT_TRUE(app_.stopRequested());
}

// Catches closing every window that skips the delegate's last-window question.
TEST_F(InstanceRequests, CloseLetsTheDelegateQuit) {
  delegate_.quitAfterLastWindow = true;
  delegate_.terminateReply = NSTerminateNow;
  EXPECT_EQ(ask("close"), "ok pid=4242");
  EXPECT_TRUE(app_.stopRequested());
}

// Catches an unknown or differently spelt request that changes something or
// is answered ok.
TEST_F(InstanceRequests, UnknownRequestsAreErrors) {
  const std::vector<std::string> before = app_.changeLog();
  for (const char* request : {"", "Hide", "quit ", "state\r", "terminate"}) {
    EXPECT_EQ(ask(request).rfind("error ", 0), 0u) << request;
  }
  EXPECT_EQ(app_.changeLog(), before);
  EXPECT_FALSE(app_.isHidden());
  EXPECT_FALSE(app_.stopRequested());
}

}  // namespace
}  // namespace korvane

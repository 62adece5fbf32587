#include "platform/appkit/application_main.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/dispatch_queue.h"
#include "testing/loop_watchdog.h"
#include "testing/stderr_capture.h"
#include "testing/temp_dir.h"

namespace korvane {
namespace {

// Records the steps of launching in one list, and quits when launching is done.
class SteppingDelegate : public NSApplicationDelegate {
 public:
  explicit SteppingDelegate(std::vector<std::string>& steps) : steps_(steps) {}
  void applicationDidFinishLaunching(NSApplication& app) override {
    steps_.push_back("did finish launching");
    mainQueue().async([&app] { app.terminate(nullptr); });
  }

 private:
  std::vector<std::string>& steps_;
};

class SteppingWindow : public NSWindow {
 public:
  explicit SteppingWindow(std::vector<std::string>& steps)
      : NSWindow({0, 0, 1, 1}, NSWindowStyleMaskTitled, NSBackingStoreBuffered, false),
        steps_(steps) {}
  ~SteppingWindow() override { steps_.push_back("window torn down"); }

 private:
  std::vector<std::string>& steps_;
};

class ApplicationMain : public ::testing::Test {
 protected:
  void SetUp() override {
    // The instance endpoint lives in this test's folder.
    setenv("XDG_RUNTIME_DIR", dir_.path().c_str(), 1);
  }

  // An interface file that records its steps, with a launch task that fails
  // with `taskFailure` when given.
  MainInterfaceLoader loader(const char* taskFailure = nullptr) {
    return [this, taskFailure](NSApplication& app) {
      steps_.push_back("load");
      socketSeen_ = app.launchArguments().interfaceSocket;
      app.adoptDelegate(std::make_unique<SteppingDelegate>(steps_));
      app.adoptWindow(std::make_unique<SteppingWindow>(steps_));
      app.addLaunchTask([this, taskFailure]() -> std::optional<std::string> {
        steps_.push_back("launch task");
        if (taskFailure == nullptr) return std::nullopt;
        return taskFailure;
      });
    };
  }

  testing::TempDir dir_;
  std::vector<std::string> steps_;
  std::optional<std::string> socketSeen_;
};

// Catches steps of launching run out of order or skipped, launch arguments
// the interface cannot read, a quit that does not end the loop, or windows
// left alive on the way out.
TEST_F(ApplicationMain, LaunchesRunsAndTearsDown) {
  NSApplication app;
  testing::LoopWatchdog watchdog;
  const char* argv[] = {"korvane", "--interface-socket", "/x/y.sock", "-NSQuitAlwaysKeepsWindows",
                        "NO"};
  EXPECT_EQ(NSApplicationMain(5, argv, loader()), 0);
  EXPECT_FALSE(watchdog.fired()) << "the main loop did not stop";
  EXPECT_EQ(steps_, (std::vector<std::string>{"load", "launch task", "did finish launching",
                                              "window torn down"}));
  EXPECT_EQ(socketSeen_, "/x/y.sock");
  EXPECT_TRUE(app.windows().empty());
  EXPECT_EQ(app.delegate(), nullptr);
}

// Catches a failing launch task that does not fail the process, whose message
// is lost, or after which launching goes on.
TEST_F(ApplicationMain, AFailingLaunchTaskEndsWithStatusOne) {
  NSApplication app;
  const char* argv[] = {"korvane"};
  int status = -1;
  const std::string err = testing::captureStderr(
      [&] { status = NSApplicationMain(1, argv, loader("cannot listen at /x: refused")); });
  EXPECT_EQ(status, 1);
  EXPECT_EQ(err, "korvane: cannot listen at /x: refused\n");
  EXPECT_EQ(steps_, (std::vector<std::string>{"load", "launch task", "window torn down"}));
}

// Catches --help that launches, writes elsewhere than standard output, or
// fails; and a bad option that launches or is not reported with the usage.
TEST_F(ApplicationMain, HelpAndBadOptionsDoNotLaunch) {
  NSApplication app;
  const char* help[] = {"korvane", "--help"};
  int status = -1;
  std::string err;
  const std::string out = testing::captureStdout([&] {
    err = testing::captureStderr([&] { status = NSApplicationMain(2, help, loader()); });
  });
  EXPECT_EQ(status, 0);
  EXPECT_EQ(out, launchUsage());
  EXPECT_EQ(err, "");

  const char* bad[] = {"korvane", "--interface-socket"};
  err = testing::captureStderr([&] { status = NSApplicationMain(2, bad, loader()); });
  EXPECT_EQ(status, 2);
  EXPECT_EQ(err, std::string("korvane: --interface-socket needs a path\n") + launchUsage());
  EXPECT_TRUE(steps_.empty());
}

// Catches a host that launches without its instance endpoint (other copies
// could not reach it) or that goes on past the failure.
TEST_F(ApplicationMain, AnEndpointThatCannotListenEndsWithStatusOne) {
  // Both default socket folders are links, which the endpoint refuses.
  setenv("TMPDIR", dir_.path().c_str(), 1);
  std::filesystem::create_directory(dir_.file("elsewhere"));
  std::filesystem::create_directory_symlink(dir_.file("elsewhere"), dir_.file("korvane"));
  std::filesystem::create_directory_symlink(dir_.file("elsewhere"),
                                            dir_.file("korvane-" + std::to_string(getuid())));
  NSApplication app;
  const char* argv[] = {"korvane"};
  int status = -1;
  const std::string err =
      testing::captureStderr([&] { status = NSApplicationMain(1, argv, loader()); });
  EXPECT_EQ(status, 1);
  EXPECT_NE(err.find(dir_.path()), std::string::npos) << err;
  EXPECT_EQ(steps_, (std::vector<std::string>{"load", "window torn down"}));
}

}  // namespace
}  // namespace korvane

#include "app_shell/main_interface.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "app_shell/app_delegate.h"
#include "app_shell/main_flutter_window.h"
#include "platform/appkit/flutter_view_controller.h"
#include "testing/stderr_capture.h"
#include "testing/temp_dir.h"

namespace korvane {
namespace {

class MainInterfaceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("XDG_CONFIG_HOME", dir_.file("config").c_str(), 1);
    loadMainInterface(app_);
    ASSERT_EQ(app_.windows().size(), 1u);
    window_ = dynamic_cast<MainFlutterWindow*>(app_.windows().front());
    ASSERT_NE(window_, nullptr);
  }

  testing::TempDir dir_;
  NSApplication app_;
  MainFlutterWindow* window_ = nullptr;
};

// Catches an interface file that makes the wrong delegate or window, leaves
// the window unwoken, hidden or not key, or loses its frame.
TEST_F(MainInterfaceTest, MakesTheDelegateAndAVisibleMainWindow) {
  EXPECT_NE(dynamic_cast<AppDelegate*>(app_.delegate()), nullptr);
  EXPECT_EQ(window_->title(), "Korvane");
  EXPECT_EQ(window_->frame(), kMainWindowFrame);
  EXPECT_TRUE(window_->isVisible());
  EXPECT_TRUE(window_->isKeyWindow());
  auto* controller = dynamic_cast<FlutterViewController*>(window_->contentViewController());
  ASSERT_NE(controller, nullptr);
  EXPECT_EQ(controller->registrarKeys().size(), 21u);
}

// Catches closing the last window ending the application, or a reopen that
// does not bring it back.
TEST_F(MainInterfaceTest, ClosingTheLastWindowKeepsRunningAndReopenShowsIt) {
  window_->close();
  EXPECT_FALSE(window_->isVisible());
  EXPECT_FALSE(app_.stopRequested());
  EXPECT_EQ(app_.windows().size(), 1u);
  EXPECT_TRUE(app_.handleReopen());
  EXPECT_TRUE(window_->isVisible());
  EXPECT_TRUE(window_->isKeyWindow());
  EXPECT_TRUE(app_.isActive());
}

// Catches an engine that the launch does not start, a ready line that is not
// the only output, or a socket file left behind after the windows are torn down.
TEST_F(MainInterfaceTest, LaunchStartsTheEngineAndTearDownRemovesTheSocket) {
  const std::string socket = dir_.file("interface.sock");
  app_.setLaunchArguments({.interfaceSocket = socket});
  std::optional<std::string> failure = "not run";
  const std::string out = testing::captureStdout([&] { failure = app_.runLaunchTasks(); });
  EXPECT_EQ(failure, std::nullopt);
  EXPECT_EQ(out, "interface-socket=" + socket + "\n");
  EXPECT_TRUE(std::filesystem::is_socket(std::filesystem::symlink_status(socket)));
  app_.tearDown();
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(socket)));
  EXPECT_TRUE(app_.windows().empty());
}

}  // namespace
}  // namespace korvane

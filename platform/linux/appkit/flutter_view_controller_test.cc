#include "platform/appkit/flutter_view_controller.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "platform/appkit/ns_application.h"
#include "testing/stderr_capture.h"
#include "testing/temp_dir.h"

namespace korvane {
namespace {

// Catches a launch task that starts the engine of a controller already gone.
// (The engine's start, its ready line and its failures are checked with the
// main interface and end to end.)
TEST(FlutterViewController, LaunchTaskOfAGoneControllerDoesNothing) {
  testing::TempDir dir;
  NSApplication app;
  app.setLaunchArguments({.interfaceSocket = dir.file("interface.sock")});
  std::make_unique<FlutterViewController>().reset();
  std::optional<std::string> failure = "not run";
  EXPECT_EQ(testing::captureStdout([&] { failure = app.runLaunchTasks(); }), "");
  EXPECT_EQ(failure, std::nullopt);
  EXPECT_NE(access(dir.file("interface.sock").c_str(), F_OK), 0);
}

}  // namespace
}  // namespace korvane

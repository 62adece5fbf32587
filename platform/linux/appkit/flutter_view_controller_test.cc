#include "platform/appkit/flutter_view_controller.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "platform/appkit/ns_application.h"
#include "platform/linux/engine/interface_engine.h"
#include "testing/stderr_capture.h"
#include "testing/temp_dir.h"

namespace korvane {
namespace {

bool exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

// Catches an engine made anew on each read, registrars made anew for a key
// already asked for (a plug-in would lose what it installed), keys not
// recorded in order, or registrars on another messenger than the engine's.
TEST(FlutterViewController, OneEngineAndOneRegistrarPerKey) {
  NSApplication app;
  FlutterViewController controller;
  EXPECT_EQ(&controller.engine(), &controller.engine());
  EXPECT_EQ(controller.preferredContentSize(), FlutterViewController::kDefaultContentSize);
  FlutterPluginRegistry& registry = controller;
  auto a = registry.registrarForPlugin("APlugin");
  auto b = registry.registrarForPlugin("BPlugin");
  auto again = registry.registrarForPlugin("APlugin");
  EXPECT_EQ(a, again);
  EXPECT_NE(a, b);
  EXPECT_EQ(a->key(), "APlugin");
  EXPECT_EQ(&a->messenger(), &controller.engine().binaryMessenger());
  EXPECT_EQ(controller.registrarKeys(),
            (std::vector<std::string>{"APlugin", "BPlugin", "APlugin"}));
}

// Catches an engine that does not start at the launch arguments' socket, a
// ready line that is missing, malformed or printed before the socket listens,
// or an engine that outlives its controller.
TEST(FlutterViewController, LaunchTaskStartsTheEngineAndPrintsTheReadyLine) {
  testing::TempDir dir;
  const std::string socket = dir.file("interface.sock");
  NSApplication app;
  app.setLaunchArguments({.interfaceSocket = socket});
  auto controller = std::make_unique<FlutterViewController>();
  std::optional<std::string> failure = "not run";
  bool listeningWhenPrinted = false;
  const std::string out = testing::captureStdout([&] {
    failure = app.runLaunchTasks();
    listeningWhenPrinted = exists(socket);
  });
  EXPECT_EQ(failure, std::nullopt);
  EXPECT_EQ(out, "interface-socket=" + socket + "\n");
  EXPECT_TRUE(listeningWhenPrinted);
  EXPECT_EQ(static_cast<InterfaceEngine&>(controller->engine()).interfaceSocketPath(), socket);
  controller.reset();
  EXPECT_FALSE(exists(socket)) << "the engine stops with its controller";
}

// Catches a start failure that is not reported, or a ready line printed
// anyway.
TEST(FlutterViewController, LaunchTaskReportsAnEngineThatCannotStart) {
  testing::TempDir dir;
  const std::string socket = dir.file("missing/interface.sock");
  NSApplication app;
  app.setLaunchArguments({.interfaceSocket = socket});
  FlutterViewController controller;
  std::optional<std::string> failure;
  const std::string out = testing::captureStdout([&] { failure = app.runLaunchTasks(); });
  ASSERT_TRUE(failure.has_value());
  EXPECT_NE(failure->find(socket), std::string::npos) << *failure;
  EXPECT_EQ(out, "");
}

// Catches a launch task that starts the engine of a controller already gone.
TEST(FlutterViewController, LaunchTaskOfAGoneControllerDoesNothing) {
  testing::TempDir dir;
  NSApplication app;
  app.setLaunchArguments({.interfaceSocket = dir.file("interface.sock")});
  std::make_unique<FlutterViewController>().reset();
  std::optional<std::string> failure = "not run";
  const std::string out = testing::captureStdout([&] { failure = app.runLaunchTasks(); });
  EXPECT_EQ(failure, std::nullopt);
  EXPECT_EQ(out, "");
  EXPECT_FALSE(exists(dir.file("interface.sock")));
}

}  // namespace
}  // namespace korvane

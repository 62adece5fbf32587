// The other running instances of this application: finding them
// (running_instances.h) and bringing them to the front (activation.h).
#include "install_location/probe/running_instances.h"

#include <gtest/gtest.h>

#include <thread>

#include "install_location/probe/activation.h"
#include "platform/process.h"
#include "testing/fakes/test_services.h"

namespace korvane::InstallLocationProbe {
namespace {

using testing::runningApp;
constexpr char kId[] = "com.example.korvane", kApp[] = "/Applications/Korvane.app",
               kOdd[] = "//Applications/./Korvane.app/",
               kUser[] = "/Users/u/Applications/Korvane.app";

// The workspace lists this process, another application, one without an
// identifier, one without a bundle, then the instances 103 (at kApp, spelled
// otherwise), 104 (at kApp) and 105 (at kUser).
class OtherInstancesTest : public ::testing::Test {
 protected:
  OtherInstancesTest() {
    test_.bundles.main.info = PropertyListStrings{{"CFBundleIdentifier", kId}};
    const auto app = runningApp;
    const int32_t me = currentProcessIdentifier();
    test_.workspace.running = {app(me, kId, kApp),  app(100, "x", kApp), app(101, {}, kApp),
                               app(102, kId, {}),   app(103, kId, kOdd), app(104, kId, kApp),
                               app(105, kId, kUser)};
  }
  testing::TestServices test_;
};

// Matching this process, another app, a later instance or a path loosely would pick the wrong one.
TEST_F(OtherInstancesTest, FindsTheOtherInstances) {
  const auto pidAt = [&](const char* path) {
    return runningAppAtPath(test_.services, path).value_or(RunningApplication{}).processIdentifier;
  };
  EXPECT_EQ(pidAt("/Applications/x/../Korvane.app"), 103);
  EXPECT_EQ(pidAt("/applications/korvane.app"), 0);
  EXPECT_EQ(pidAt(kUser), 105);
  EXPECT_EQ(runningSiblingPaths(test_.services), (std::vector<std::string>{kApp, kApp, kUser}));
  test_.bundles.main.info = std::nullopt;
  EXPECT_EQ(pidAt(kApp), 0) << "without an identifier of its own, 101 is no instance";
  EXPECT_EQ(runningSiblingPaths(test_.services), std::vector<std::string>{kApp}) << "but a sibling";
}

// Activating this process or another app, or steps skipped or reordered, would raise wrong windows.
TEST_F(OtherInstancesTest, ActivatesEveryOtherInstanceInListOrder) {
  auto& running = test_.workspace.running;
  running.erase(running.begin() + 3, running.end());
  EXPECT_FALSE(activateOtherInstance(test_.services));
  running.push_back(runningApp(102, kId, {}));
  running.push_back(runningApp(105, kId, kUser));
  test_.bundles.main.info = std::nullopt;
  EXPECT_FALSE(activateOtherInstance(test_.services));
  test_.bundles.main.info = PropertyListStrings{{"CFBundleIdentifier", kId}};
  EXPECT_TRUE(activateOtherInstance(test_.services));
  EXPECT_EQ(test_.workspace.requests,
            (std::vector<std::string>{
                "unhide 102", "activate 102 options=2", "unhide 105", "activate 105 options=2",
                "open /Users/u/Applications/Korvane.app substitution=0 new=0 activates=1"}));
}

// A reopen logged when it landed, or logged with the wrong text or ids, would mislead the reader.
TEST_F(OtherInstancesTest, ReopenCompletionLogsOnlyWhatWentAmiss) {
  for (int32_t pid : {400, 401, 402, 403})
    requestReopen(test_.services, runningApp(pid, kId, kApp));
  std::thread([&] {  // as the workspace does, off the main thread
    auto& done = test_.workspace.completions;
    done.at(0)(std::nullopt, WorkspaceError{"the application is damaged"});
    done.at(1)(runningApp(777, kId, kApp), std::nullopt);
    done.at(2)(runningApp(402, kId, kApp), std::nullopt);
    done.at(3)(std::nullopt, std::nullopt);
  })
      .join();
  EXPECT_EQ(test_.logger.lines(),
            (std::vector<std::string>{
                "[install-location] reopen failed pid=400: the application is damaged",
                "[install-location] reopen landed pid=777, expected 401"}));
}

}  // namespace
}  // namespace korvane::InstallLocationProbe

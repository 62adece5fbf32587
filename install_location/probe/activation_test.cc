#include "install_location/probe/activation.h"

#include <gtest/gtest.h>

#include <thread>

#include "platform/process.h"
#include "testing/fake_services.h"

namespace korvane::InstallLocationProbe {
namespace {

constexpr char kId[] = "com.example.korvane";

using testing::runningApp;

class ActivationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test_.bundles.main.path = "/Applications/Korvane.app";
    test_.bundles.main.info = PropertyListStrings{{"CFBundleIdentifier", kId}};
  }
  // Runs the completion of open `index` on another thread, as the workspace does.
  void complete(size_t index, std::optional<RunningApplication> answered,
                std::optional<WorkspaceError> error) {
    std::thread([&] { test_.workspace.opens.at(index).completion(answered, error); }).join();
  }

  testing::TestServices test_;
  const int32_t self_ = currentProcessIdentifier();
};

// Catches an activation without an identifier to compare, or of this process.
TEST_F(ActivationTest, NothingToActivate) {
  test_.workspace.running = {runningApp(self_, kId, "/Applications/Korvane.app"),
                             runningApp(300, "com.other", "/Applications/Other.app")};
  EXPECT_FALSE(activateOtherInstance(test_.services));
  EXPECT_TRUE(test_.workspace.requests.empty());

  test_.bundles.main.info = PropertyListStrings{};  // no identifier at all
  test_.workspace.running.push_back(runningApp(301, std::nullopt, "/Applications/Korvane.app"));
  EXPECT_FALSE(activateOtherInstance(test_.services));
  EXPECT_TRUE(test_.workspace.requests.empty());
}

// Catches the sequence run out of order, once after the loop, on the wrong
// applications, or a reopen sent to an instance that has no bundle to open.
TEST_F(ActivationTest, EveryOtherInstanceInListOrder) {
  test_.workspace.running = {
      runningApp(200, kId, "/Users/u/Applications/Korvane.app"),  // another copy
      runningApp(self_, kId, "/Applications/Korvane.app"),
      runningApp(201, "com.other", "/Applications/Korvane.app"),  // another application, same path
      runningApp(202, std::nullopt, "/Applications/Korvane.app"),
      runningApp(203, kId, std::nullopt),  // no bundle: unhidden and activated only
      runningApp(204, kId, "/Applications/Korvane.app"),
  };
  EXPECT_TRUE(activateOtherInstance(test_.services));
  const std::vector<std::string> expected = {
      "unhide 200",
      "activate 200 options=2",
      "open /Users/u/Applications/Korvane.app substitution=0 new=0 activates=1",
      "unhide 203",
      "activate 203 options=2",
      "unhide 204",
      "activate 204 options=2",
      "open /Applications/Korvane.app substitution=0 new=0 activates=1",
  };
  EXPECT_EQ(test_.workspace.requests, expected);
  EXPECT_TRUE(test_.logger.lines().empty());  // nothing is logged before a completion
}

// Catches the two log formats swapped, the process identifiers in the wrong
// places, or a line written when the request reached the expected process.
TEST_F(ActivationTest, ReopenCompletionLogsOnlyWhatWentAmiss) {
  requestReopen(test_.services, runningApp(400, kId, "/Applications/Korvane.app"));
  requestReopen(test_.services, runningApp(401, kId, "/Applications/Korvane.app"));
  requestReopen(test_.services, runningApp(402, kId, "/Applications/Korvane.app"));
  requestReopen(test_.services, runningApp(403, kId, "/Applications/Korvane.app"));
  ASSERT_EQ(test_.workspace.opens.size(), 4u);

  complete(0, std::nullopt, WorkspaceError{"the application is damaged"});
  complete(1, runningApp(777, kId, "/Applications/Korvane.app"), std::nullopt);
  complete(2, runningApp(402, kId, "/Applications/Korvane.app"), std::nullopt);
  complete(3, std::nullopt, std::nullopt);
  EXPECT_EQ(test_.logger.lines(),
            (std::vector<std::string>{
                "[install-location] reopen failed pid=400: the application is damaged",
                "[install-location] reopen landed pid=777, expected 401",
            }));
}

// Catches a reopen of an instance whose bundle is unknown.
TEST_F(ActivationTest, NoBundleNoReopen) {
  requestReopen(test_.services, runningApp(500, kId, std::nullopt));
  EXPECT_TRUE(test_.workspace.requests.empty());
}

}  // namespace
}  // namespace korvane::InstallLocationProbe

#include "platform/linux/desktop/application_open.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "platform/linux/desktop/application_launch.h"
#include "platform/main_loop.h"
#include "testing/bundle_maker.h"
#include "testing/instance_test_app.h"
#include "testing/temp_dir.h"

namespace korvane {
namespace {

using namespace std::chrono_literals;
using korvane::testing::AdoptedProcess;
using korvane::testing::makeAppBundle;
using korvane::testing::requestsSeenBy;
using korvane::testing::ScopedSocketFolders;
using korvane::testing::StartedProcess;
using korvane::testing::TempDir;

// Every process of this user is a candidate: an identifier of this test
// process's own keeps others' stand-ins out.
const std::string kIdentifier = "com.example.korvane-test." + std::to_string(getpid());

class ApplicationOpenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    inputs = InterfaceAddressInputs::fromProcess(std::nullopt);
    environment = environmentForLaunch();
  }

  OpenRequest request(const std::string& bundle, OpenConfiguration configuration,
                      std::chrono::milliseconds limit = 5s) {
    return OpenRequest{bundle, configuration, inputs, environment, limit};
  }

  std::string bundleWithTestApp(const std::string& name) {
    const std::string bundle = dir.file(name);
    EXPECT_TRUE(makeAppBundle(bundle, kIdentifier, "TestApp", testing::instanceTestAppBinary()));
    return bundle;
  }

  TempDir dir;
  ScopedSocketFolders folders{dir.path()};
  InterfaceAddressInputs inputs;
  std::vector<std::string> environment;
};

// Catches an open that waits past its time limit for an executable that never
// serves its endpoint, or whose error does not say what happened.
TEST_F(ApplicationOpenTest, GivesUpOnAnExecutableThatNeverAnswers) {
  const std::string bundle = dir.file("Slow.app");
  ASSERT_TRUE(testing::makeBundle(bundle, {{"CFBundleExecutable", std::string("Slow")}}));
  ASSERT_EQ(mkdir(dir.file("Slow.app/Contents/MacOS").c_str(), 0755), 0);
  const std::string pidFile = dir.file("slow.pid");
  std::ofstream(dir.file("Slow.app/Contents/MacOS/Slow"))
      << "#!/bin/sh\necho $$ > " << pidFile << "\nexec sleep 30\n";
  chmod(dir.file("Slow.app/Contents/MacOS/Slow").c_str(), 0755);

  const auto started = std::chrono::steady_clock::now();
  const OpenOutcome outcome = openApplication(request(bundle, {}, 300ms));
  const auto took = std::chrono::steady_clock::now() - started;
  int32_t pid = 0;
  runMainLoopUntil([&] { return static_cast<bool>(std::ifstream(pidFile) >> pid); }, 5s);
  AdoptedProcess slow(pid);
  ASSERT_NE(pid, 0);
  EXPECT_FALSE(outcome.application.has_value());
  ASSERT_TRUE(outcome.error.has_value());
  EXPECT_EQ(outcome.error->localizedDescription,
            "cannot open the application at " + bundle + ": Contents/MacOS/Slow (pid " +
                std::to_string(pid) + ") did not answer within 300 ms");
  EXPECT_GE(took, 300ms);
  EXPECT_LT(took, 2s);
}

// Catches substitution being ignored (a second copy started) or applied when
// it is not allowed (the request going to an instance of another bundle).
TEST_F(ApplicationOpenTest, SubstitutionDecidesWhetherAnotherCopyStandsIn) {
  const std::string running = bundleWithTestApp("Running.app");
  const std::string idle = bundleWithTestApp("Idle.app");
  StartedProcess instance(running + "/Contents/MacOS/TestApp");
  ASSERT_NE(instance.pid(), 0);
  ASSERT_EQ(requestsSeenBy(inputs, instance.pid()), "requests=");

  OpenConfiguration substitute;
  substitute.activates = false;
  OpenOutcome outcome = openApplication(request(idle, substitute));
  ASSERT_TRUE(outcome.application.has_value()) << outcome.error->localizedDescription;
  EXPECT_EQ(outcome.application->processIdentifier, instance.pid());
  EXPECT_EQ(outcome.application->bundleURL, FileURL::fileURLWithPath(running));
  EXPECT_EQ(requestsSeenBy(inputs, instance.pid()), "requests=reopen");

  OpenConfiguration exact = substitute;
  exact.allowsRunningApplicationSubstitution = false;
  outcome = openApplication(request(idle, exact));
  ASSERT_TRUE(outcome.application.has_value()) << outcome.error->localizedDescription;
  AdoptedProcess started(outcome.application->processIdentifier);
  EXPECT_NE(outcome.application->processIdentifier, instance.pid());
  EXPECT_EQ(outcome.application->bundleIdentifier, kIdentifier);
  EXPECT_EQ(outcome.application->bundleURL, FileURL::fileURLWithPath(idle));
  EXPECT_EQ(requestsSeenBy(inputs, outcome.application->processIdentifier), "requests=ping");
  EXPECT_EQ(requestsSeenBy(inputs, instance.pid()), "requests=reopen");
}

// Catches "creates new application instance" being ignored: the instance that
// runs from the bundle must not be asked at all.
TEST_F(ApplicationOpenTest, NewInstanceIsStartedBesideARunningOne) {
  const std::string bundle = bundleWithTestApp("Korvane.app");
  StartedProcess instance(bundle + "/Contents/MacOS/TestApp");
  ASSERT_EQ(requestsSeenBy(inputs, instance.pid()), "requests=");
  OpenConfiguration fresh;
  fresh.createsNewApplicationInstance = true;
  const OpenOutcome outcome = openApplication(request(bundle, fresh));
  ASSERT_TRUE(outcome.application.has_value()) << outcome.error->localizedDescription;
  AdoptedProcess started(outcome.application->processIdentifier);
  EXPECT_NE(outcome.application->processIdentifier, instance.pid());
  EXPECT_EQ(requestsSeenBy(inputs, instance.pid()), "requests=");
}

// Catches a running instance without an endpoint being passed over (a second
// copy started) or reported without saying which process could not be reached.
TEST_F(ApplicationOpenTest, RunningInstanceWithoutEndpointIsAnError) {
  const std::string bundle = dir.file("Mute.app");
  ASSERT_TRUE(makeAppBundle(bundle, kIdentifier, "Mute", "/bin/sleep"));
  StartedProcess mute(bundle + "/Contents/MacOS/Mute", {"30"});
  ASSERT_NE(mute.pid(), 0);
  // Listed with its bundle once it has exec'd.
  ASSERT_TRUE(runMainLoopUntil([&] {
    std::ifstream comm("/proc/" + std::to_string(mute.pid()) + "/comm");
    std::string name;
    comm >> name;
    return name == "Mute";
  }));
  const OpenOutcome outcome = openApplication(request(bundle + "/.", {}));
  ASSERT_TRUE(outcome.error.has_value());
  EXPECT_FALSE(outcome.application.has_value());
  const std::string expected = "cannot open the application at " + bundle +
                               ": the running instance (pid " + std::to_string(mute.pid()) +
                               ") cannot be reached: no instance endpoint ";
  EXPECT_TRUE(outcome.error->localizedDescription.starts_with(expected))
      << outcome.error->localizedDescription;
}

}  // namespace
}  // namespace korvane

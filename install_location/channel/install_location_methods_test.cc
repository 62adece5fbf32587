// The channel methods that run the install-location operations: what each
// works out on the main thread, what it queues, and what it replies.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "install_location/channel/macos_install_location_channel.h"
#include "platform/main_loop.h"
#include "platform/process.h"
#include "testing/bundle_maker.h"
#include "testing/fake_services.h"
#include "testing/temp_dir.h"

namespace korvane {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// This run's own identifier: a copy of the application that happens to run
// on the machine (the README's examples use com.example.korvane) is no
// instance of it.
const std::string kId = "com.example.korvane.test" + std::to_string(getpid());

class MethodsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    apps_ = dir_.file("Applications");
    fs::create_directories(apps_);
    test_.folders.system = apps_;
    test_.bundles.main.path = dir_.file("Running/Korvane.app");
    test_.bundles.main.info =
        PropertyListStrings{{"CFBundleIdentifier", kId}, {"CFBundleName", "Korvane"}};
  }

  FlutterResultValue call(const std::string& method, EncodableValue args,
                          const PlatformServices& services) {
    std::optional<FlutterResultValue> reply;
    MacosInstallLocationChannel::handleMethodCall(
        FlutterMethodCall{method, std::move(args)},
        FlutterResult([&](FlutterResultValue v) { reply = std::move(v); }), services);
    EXPECT_TRUE(runMainLoopUntil([&] { return reply.has_value(); }, 10s)) << method;
    return reply.value_or(FlutterResultValue(FlutterMethodNotImplemented));
  }
  FlutterResultValue call(const std::string& method, EncodableValue args = {}) {
    return call(method, std::move(args), test_.services);
  }
  static const EncodableMap& map(const FlutterResultValue& v) {
    return *std::get<EncodableValue>(v).asMap();
  }

  testing::TempDir dir_;
  testing::TestServices test_;
  std::string apps_;
};

// Catches a missing argument queued, moved, logged or answered otherwise.
TEST_F(MethodsTest, AtomicReplaceMissingArgumentsAnswerAtOnce) {
  const FlutterResultValue missing =
      EncodableValue(EncodableMap{{"status", "failed"}, {"error", "missing temp/dest arguments"}});
  const EncodableValue cases[] = {
      EncodableValue(),
      EncodableValue(EncodableMap{{"temp", dir_.file("t")}}),
      EncodableValue(EncodableMap{{"temp", dir_.file("t")}, {"dest", EncodableValue()}}),
      EncodableValue(EncodableMap{{"dest", dir_.file("d")}, {"temp", EncodableValue(int32_t{1})}}),
      EncodableValue(EncodableList{dir_.file("t"), dir_.file("d")}),
  };
  fs::create_directories(dir_.file("t"));
  for (const auto& args : cases) {
    std::optional<FlutterResultValue> reply;
    MacosInstallLocationChannel::handleMethodCall(
        FlutterMethodCall{"atomicReplace", args},
        FlutterResult([&](FlutterResultValue v) { reply = std::move(v); }), test_.services);
    ASSERT_TRUE(reply.has_value()) << "answered before the handler returned";
    EXPECT_EQ(*reply, missing);
  }
  EXPECT_TRUE(fs::exists(dir_.file("t")));
  EXPECT_TRUE(test_.logger.lines().empty());

  const FlutterResultValue committed =
      call("atomicReplace", EncodableMap{{"temp", dir_.file("t")}, {"dest", dir_.file("K.app")}});
  EXPECT_EQ(committed, FlutterResultValue(EncodableValue(EncodableMap{
                           {"status", "committed"}, {"resultingPath", dir_.file("K.app")}})));
}

// Catches arguments changing the probe's answer.
TEST_F(MethodsTest, ProbeIgnoresArguments) {
  EXPECT_EQ(map(call("probe")).size(), 5u);
  EXPECT_EQ(call("probe"), call("probe", EncodableMap{{"path", "/elsewhere"}}));
}

RunningApplication instance(int32_t pid, const std::string& bundle) {
  RunningApplication app;
  app.processIdentifier = pid;
  app.bundleIdentifier = kId;
  app.bundleURL = FileURL::fileURLWithPath(bundle);
  return app;
}

// Answers made before the handler returns, as the quick methods must.
std::optional<FlutterResultValue> callNow(const std::string& method, EncodableValue args,
                                          const PlatformServices& services) {
  std::optional<FlutterResultValue> reply;
  MacosInstallLocationChannel::handleMethodCall(
      FlutterMethodCall{method, std::move(args)},
      FlutterResult([&](FlutterResultValue v) { reply = std::move(v); }), services);
  return reply;
}

// Catches a path read against the argument rule, this process activated, the
// wrong instance picked, the sequence incomplete, or a reply queued.
TEST_F(MethodsTest, ActivateInstalledActivatesTheInstanceAtThePath) {
  const int32_t self = currentProcessIdentifier();
  test_.workspace.running = {instance(self, test_.bundles.main.path),
                             instance(71, apps_ + "/Korvane.app")};
  struct Case {
    EncodableValue args;
    bool expected;
  } cases[] = {
      {EncodableValue(), false},
      {EncodableMap{{"path", EncodableValue(int32_t{7})}}, false},
      {EncodableMap{{"dest", apps_ + "/Korvane.app"}}, false},
      {EncodableMap{{"path", test_.bundles.main.path}}, false},  // only this process runs there
      {EncodableMap{{"path", apps_ + "/korvane.app"}}, false},   // letter case differs
      {EncodableMap{{"path", apps_ + "/./Korvane.app/"}}, true},
  };
  for (auto& c : cases) {
    test_.workspace.requests.clear();
    const auto reply = callNow("activateInstalled", c.args, test_.services);
    ASSERT_TRUE(reply.has_value()) << "answered before the handler returned";
    EXPECT_EQ(*reply, FlutterResultValue(EncodableValue(c.expected)));
    if (!c.expected) {
      EXPECT_TRUE(test_.workspace.requests.empty());
      continue;
    }
    EXPECT_EQ(test_.workspace.requests,
              (std::vector<std::string>{
                  "unhide 71", "activate 71 options=2",
                  "open " + apps_ + "/Korvane.app substitution=0 new=0 activates=1"}));
  }
}

// Catches arguments steering "activateOtherInstance" or a reply queued.
TEST_F(MethodsTest, ActivateOtherInstanceIgnoresArguments) {
  const EncodableValue argumentSets[] = {
      EncodableValue(), EncodableMap{{"path", "/nowhere/Else.app"}}, EncodableList{1, 2}};
  for (const auto& args : argumentSets) {
    test_.workspace.running.clear();
    EXPECT_EQ(callNow("activateOtherInstance", args, test_.services),
              FlutterResultValue(EncodableValue(false)));
    test_.workspace.running = {instance(72, apps_ + "/Korvane.app")};
    test_.workspace.requests.clear();
    EXPECT_EQ(callNow("activateOtherInstance", args, test_.services),
              FlutterResultValue(EncodableValue(true)));
    EXPECT_EQ(test_.workspace.requests.size(), 3u);
  }
}

// Catches the running flag not worked out, or worked out for a missing path.
TEST_F(MethodsTest, ProbeCandidateTakesTheRunningFlagFromTheWorkspace) {
  ASSERT_TRUE(testing::makeBundle(apps_ + "/Korvane.app", testing::bundleInfo(kId, "12")));
  test_.workspace.running = {instance(4242, apps_ + "/Korvane.app/")};
  EXPECT_EQ(
      map(call("probeCandidate", EncodableMap{{"path", apps_ + "/Korvane.app"}})),
      (EncodableMap{
          {"identity", "sameBundle"}, {"build", EncodableValue::integer(12)}, {"running", true}}));
  EXPECT_EQ(
      map(call("probeCandidate", EncodableMap{{"path", EncodableValue(int32_t{7})}})),
      (EncodableMap{
          {"identity", "absent"}, {"build", EncodableValue::integer(0)}, {"running", false}}));
  test_.workspace.running.clear();
  EXPECT_FALSE(*map(call("probeCandidate", EncodableMap{{"path", apps_ + "/Korvane.app"}}))
                    .find("running")
                    ->asBool());
}

// Catches siblings gathered wrongly before the scan is queued.
TEST_F(MethodsTest, ScanGetsTheSiblingsOfTheMainThread) {
  ASSERT_TRUE(testing::makeBundle(apps_ + "/Korvane.app", testing::bundleInfo(kId, "3")));
  test_.workspace.running = {instance(11, apps_ + "/Korvane.app"),
                             instance(12, apps_ + "/./Korvane.app")};
  const EncodableMap result = map(call("scanInstalledCopies", EncodableMap{{"ignored", 1}}));
  const EncodableList& candidates = *result.find("candidates")->asList();
  ASSERT_EQ(candidates.size(), 1u);
  EXPECT_TRUE(*candidates[0].asMap()->find("running")->asBool());
  EXPECT_FALSE(*result.find("otherInstanceRunning")->asBool());
}

// Catches real running instances missed: a process started from a copy of the
// bundle makes the sibling list, the copy's running flag and probeCandidate's
// running flag come out right; this process never counts.
TEST_F(MethodsTest, AProcessStartedFromACopyIsASibling) {
  const std::string copy = apps_ + "/Korvane.app";
  ASSERT_TRUE(testing::makeBundle(copy, testing::bundleInfo(kId, "5")));
  fs::create_directories(copy + "/Contents/MacOS");
  fs::copy_file("/bin/sleep", copy + "/Contents/MacOS/Korvane");
  const pid_t child = fork();
  if (child == 0) {
    execl((copy + "/Contents/MacOS/Korvane").c_str(), "Korvane", "30", nullptr);
    _exit(127);
  }
  PlatformServices real{test_.fileSystem,       sharedWorkspace(),   test_.logger,
                        test_.bundles,          test_.folders,       realLoginItems(),
                        standardUserDefaults(), realSystemVersion(), realLoginItemLogger()};
  // The child is listed once its executable has been replaced by exec.
  bool listed = false;
  for (int i = 0; i < 1000 && !listed; ++i) {
    for (const auto& app : sharedWorkspace().runningApplications()) {
      listed = listed || (app.processIdentifier == child && app.bundleURL.has_value());
    }
    if (!listed) usleep(10000);
  }
  EXPECT_TRUE(listed);
  const EncodableMap scan = map(call("scanInstalledCopies", EncodableValue(), real));
  const EncodableList& candidates = *scan.find("candidates")->asList();
  ASSERT_EQ(candidates.size(), 1u);
  EXPECT_TRUE(*candidates[0].asMap()->find("running")->asBool());
  EXPECT_FALSE(*scan.find("otherInstanceRunning")->asBool());
  EXPECT_TRUE(
      *map(call("probeCandidate", EncodableMap{{"path", copy}}, real)).find("running")->asBool());
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  EXPECT_FALSE(
      *map(call("probeCandidate", EncodableMap{{"path", copy}}, real)).find("running")->asBool());
}

}  // namespace
}  // namespace korvane

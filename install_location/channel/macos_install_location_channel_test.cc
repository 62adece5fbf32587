// The channel: its method table, the argument rule (argument_rule.h), the
// replies, and the worker queue that runs the slow methods.
#include "install_location/channel/macos_install_location_channel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "install_location/copies/installed_copies.h"
#include "install_location/probe/candidate_probe.h"
#include "install_location/probe/self_probe.h"
#include "platform/main_loop.h"
#include "platform/main_thread.h"
#include "platform/process.h"
#include "testing/backend_access.h"
#include "testing/bundle_maker.h"
#include "testing/fakes/test_services.h"
#include "testing/temp_dir.h"

namespace korvane {
namespace {

namespace probe = InstallLocationProbe;
constexpr char kId[] = "com.example.korvane";
enum When { atOnce, queued };

EncodableValue pathArg(EncodableValue path) { return EncodableMap{{"path", std::move(path)}}; }

// A loose method table or argument rule, a wrong reply, or work off its queue would break calls.
TEST(InstallLocationChannel, AnswersEachMethodOnTheRightThreadInOrder) {
  testing::TempDir dir;
  testing::TestServices test;
  const std::string apps = dir.file("Applications"), copy = apps + "/Korvane.app";
  const std::string temp = dir.file(".flc-move.1"), here = dir.path();
  ASSERT_TRUE(testing::makeBundle(copy, testing::bundleInfo(kId, "12")));
  std::filesystem::create_directory(temp);
  // Without user attributes here, the lookup fails: "unknown" (2) instead of "quarantined" (1).
  const int marked = testing::setExtendedAttribute(apps, "com.apple.quarantine", "") ? 1 : 2;
  test.folders.system = apps;
  test.bundles.main.path = dir.file("Running/Korvane.app");
  test.bundles.main.info = PropertyListStrings{{"CFBundleIdentifier", kId}};
  test.workspace.running = {
      testing::runningApp(currentProcessIdentifier(), kId, test.bundles.main.path),
      testing::runningApp(71, kId, copy)};
  std::atomic<int> running{0};
  std::vector<std::thread::id> workers;  // written by queued work, one item at a time
  test.fileSystem.beforeCall = [&](std::string_view, const std::string&) {
    EXPECT_EQ(running++, 0) << "queued work ran side by side";
    workers.push_back(std::this_thread::get_id());
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    --running;
  };
  const EncodableMap missing{{"status", "failed"}, {"error", "missing temp/dest arguments"}};
  const EncodableMap tempOnly{{"temp", temp}}, tempNumber{{"dest", copy}, {"temp", 1}};
  const EncodableMap oddKey{{"path", here}, {1, "x"}}, twice{{"path", here}, {"path", "/none"}};
  const struct {
    When when;
    const char* method;
    EncodableValue args;
    std::optional<EncodableValue> reply;  // none: not implemented
  } cases[] = {
      {queued, "hasQuarantine", pathArg(apps), marked},  // an empty mark counts
      {queued, "hasQuarantine", pathArg(here), 0},
      {queued, "hasQuarantine", pathArg(dir.file("none")), 2},
      {queued, "hasQuarantine", EncodableValue(), 2},
      {queued, "isDirWritable", pathArg(here), true},
      {queued, "isDirWritable", EncodableList{"path", here}, false},
      {queued, "isDirWritable", here, false},
      {queued, "isDirWritable", oddKey, false},
      {queued, "isDirWritable", EncodableMap{{"Path", here}}, false},
      {queued, "isDirWritable", pathArg(std::vector<uint8_t>{'/'}), false},
      {queued, "isDirWritable", twice, true},
      {atOnce, "HasQuarantine", pathArg(here), std::nullopt},
      {atOnce, "hasQuarantine ", pathArg(here), std::nullopt},
      {atOnce, "revealInFinder", pathArg(" ~/a/../b "), true},
      {atOnce, "revealInFinder", pathArg(5), true},
      {atOnce, "activateInstalled", pathArg(5), false},
      {atOnce, "activateInstalled", pathArg(apps + "/./Korvane.app/"), true},
      {queued, "probeCandidate", pathArg(copy), probe::probeCandidate(test.services, copy, true)},
      {queued, "scanInstalledCopies", {}, probe::scanInstalledCopies(test.services, {copy})},
      {queued, "probe", pathArg("/elsewhere"), probe::probeMap(test.services)},
      {atOnce, "atomicReplace", tempOnly, missing},
      {atOnce, "atomicReplace", tempNumber, missing},
      {queued, "atomicReplace", EncodableMap{{"temp", temp}, {"dest", dir.file("K.app")}},
       EncodableMap{{"status", "committed"}, {"resultingPath", dir.file("K.app")}}}};
  std::vector<std::optional<FlutterResultValue>> replies(std::size(cases));
  std::vector<size_t> queuedOrder;
  for (size_t i = 0; i < std::size(cases); ++i) {
    MacosInstallLocationChannel::handleMethodCall({cases[i].method, cases[i].args},
                                                  FlutterResult([&, i](FlutterResultValue value) {
                                                    EXPECT_TRUE(isMainThread()) << i;
                                                    if (cases[i].when == queued)
                                                      queuedOrder.push_back(i);
                                                    replies[i] = std::move(value);
                                                  }),
                                                  test.services);
    EXPECT_EQ(replies[i].has_value(), cases[i].when == atOnce) << i;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // replies wait for the main thread
  ASSERT_TRUE(
      runMainLoopUntil([&] { return replies.back().has_value(); }, std::chrono::seconds(10)));
  for (size_t i = 0; i < std::size(cases); ++i) {
    const auto& reply = cases[i].reply;
    EXPECT_EQ(replies[i], reply ? FlutterResultValue(*reply) : FlutterMethodNotImplemented) << i;
  }
  EXPECT_TRUE(std::is_sorted(queuedOrder.begin(), queuedOrder.end()));
  EXPECT_EQ(std::count(workers.begin(), workers.end(), workers.at(0)), 4);
  EXPECT_NE(workers[0], std::this_thread::get_id());
  const std::string reveal = "reveal " + (std::filesystem::current_path() / " ~/a/../b ").string();
  EXPECT_EQ(test.workspace.requests,
            (std::vector<std::string>{reveal, "unhide 71", "activate 71 options=2",
                                      "open " + copy + " substitution=0 new=0 activates=1"}));
  EXPECT_TRUE(test.logger.lines().empty());
}

}  // namespace
}  // namespace korvane

// Two installed copies of the built Korvane.app running side by side: one
// brings the other to the front over the workspace, and reopen and quit
// requests land where they should. Real processes, real bundles in temporary
// application folders, one runtime folder shared by both.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <thread>

#include "install_location/probe/activation.h"
#include "platform/embedding/standard_method_codec.h"
#include "platform/main_loop.h"
#include "platform/services.h"
#include "testing/capturing_logger.h"
#include "testing/interface_test_client.h"
#include "testing/stand_in_app.h"
#include "testing/temp_dir.h"

namespace korvane {
namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;
using ::testing::Not;
namespace fs = std::filesystem;
const auto& kCodec = StandardMethodCodec::instance();

// The value at `key` of a map, or "missing".
const EncodableValue& at(const EncodableValue& map, const std::string& key) {
  static const EncodableValue missing("missing");
  const EncodableValue* value = map.asMap() != nullptr ? map.asMap()->find(key) : nullptr;
  return value != nullptr ? *value : missing;
}

class TwoInstancesTest : public ::testing::Test {
 protected:
  // Both copies, and the workspace of this test, meet in one runtime folder;
  // their preferences, login items and home folder (reached through a link,
  // as some systems have it) stay in this test's folder.
  void SetUp() override {
    ASSERT_EQ(mkdir(run_.c_str(), S_IRWXU) | mkdir(dir_.file("real-home").c_str(), S_IRWXU), 0);
    fs::create_directory_symlink(dir_.file("real-home"), dir_.file("home"));
    setenv("XDG_RUNTIME_DIR", run_.c_str(), 1);
    setenv("XDG_CONFIG_HOME", dir_.file("config").c_str(), 1);
    setenv("HOME", dir_.file("home").c_str(), 1);
    unsetenv("KORVANE_INTERFACE_SOCKET");
  }
  void TearDown() override { setenv("HOME", home_.c_str(), 1); }

  // A copy of the built bundle in a new application folder. Its identifier
  // is this test's own, so that copies started by tests running at the same
  // time are not other instances of it.
  std::string install(const std::string& folder) {
    const std::string bundle = dir_.file(folder + "/Korvane.app");
    fs::create_directories(dir_.file(folder));
    fs::copy(KORVANE_BUNDLE, bundle, fs::copy_options::recursive);
    EXPECT_TRUE(testing::makeBundle(bundle, {{"CFBundleIdentifier", identifier_},
                                             {"CFBundleVersion", "1"},
                                             {"CFBundleName", "Korvane"},
                                             {"CFBundleExecutable", "Korvane"}}));
    return bundle;
  }

  // The copy at `bundle` started, once it has printed its ready line; its
  // standard error goes to "<name>.log".
  std::unique_ptr<testing::StartedProcess> start(const std::string& bundle,
                                                 const std::string& name) {
    auto copy = std::make_unique<testing::StartedProcess>(
        bundle + "/Contents/MacOS/Korvane", std::vector<std::string>{}, dir_.file(name + ".log"));
    const std::string ready = copy->readLine();
    EXPECT_EQ(ready.rfind("interface-socket=", 0), 0u) << bundle;
    sockets_[copy->pid()] = ready.substr(17, ready.size() - 18);
    return copy;
  }

  std::string ask(pid_t pid, std::string_view request) {
    return testing::askInstance(InterfaceAddressInputs::fromProcess(std::nullopt), pid, request);
  }
  // How often the instance `pid` was reopened; -1 when it does not say.
  int reopens(pid_t pid) {
    const std::string state = ask(pid, "state");
    const size_t at = state.find(" reopens=");
    return at == std::string::npos ? -1 : std::atoi(state.c_str() + at + 9);
  }
  bool awaitReopens(pid_t pid, int count) {
    return runMainLoopUntil([&] { return reopens(pid) == count; });
  }

  // A method call to an instance's interface connection and its result.
  EncodableValue call(pid_t pid, const std::string& method, EncodableValue args = {}) {
    testing::InterfaceTestClient client(sockets_[pid]);
    client.sendMessage(1, "macos_install_location", kCodec.encodeMethodCall({method, args}));
    const auto& replies = client.awaitReplies(1);
    const auto envelope =
        kCodec.decodeEnvelope(replies.empty() ? std::vector<uint8_t>{} : replies[0].payload);
    const auto* result = std::get_if<MethodEnvelope>(&envelope);
    const auto* value = result != nullptr ? std::get_if<EncodableValue>(result) : nullptr;
    return value != nullptr ? *value : EncodableValue("no result");
  }
  EncodableValue activate(pid_t pid, const std::string& path) {
    return call(pid, "activateInstalled", EncodableMap{{"path", path}});
  }

  testing::TempDir dir_;
  const std::string home_ = std::getenv("HOME") != nullptr ? std::getenv("HOME") : "/";
  const std::string identifier_ = "app.korvane.Korvane.test" + std::to_string(getpid());
  const std::string run_ = dir_.file("run");
  const std::string first_ = install("first/Applications");
  const std::string second_ = install("second/Applications");
  std::map<pid_t, std::string> sockets_;
};

// Catches another instance not found across copies, or found when there is
// none (the list of running applications stale by one call), the caller's
// own bundle taken for another's, an activation that leaves the other hidden,
// not key or not active, the reopen of an instance of the caller's own copy
// going to the caller itself, and a reopen that comes back logged as
// misdirected.
TEST_F(TwoInstancesTest, OneCopyBringsTheOtherToTheFront) {
  auto first = start(first_, "first");
  EXPECT_EQ(call(first->pid(), "activateOtherInstance"), EncodableValue(false));
  auto second = start(second_, "second");
  // The second copy's user closes its window and switches away.
  ASSERT_EQ(ask(second->pid(), "close") + ask(second->pid(), "hide"), "");
  EXPECT_THAT(ask(second->pid(), "state"), HasSubstr("active=0 hidden=1 reopens=0"));
  EXPECT_EQ(activate(first->pid(), first_), EncodableValue(false));
  EXPECT_EQ(call(first->pid(), "activateOtherInstance"), EncodableValue(true));
  EXPECT_TRUE(awaitReopens(second->pid(), 1));
  EXPECT_THAT(ask(second->pid(), "state"), HasSubstr("active=1 hidden=0 reopens=1 windows=1 "));
  EXPECT_THAT(ask(second->pid(), "state"), HasSubstr(",visible,key,"));
  EXPECT_EQ(activate(first->pid(), second_ + "/"), EncodableValue(true));
  EXPECT_TRUE(awaitReopens(second->pid(), 2));
  kill(second->pid(), SIGTERM);
  second->wait();
  EXPECT_EQ(call(first->pid(), "activateOtherInstance"), EncodableValue(false));
  EXPECT_EQ(activate(first->pid(), second_), EncodableValue(false));
  EXPECT_EQ(at(call(first->pid(), "scanInstalledCopies"), "otherInstanceRunning"),
            EncodableValue(false));
  auto twin = start(first_, "twin");
  EXPECT_EQ(activate(first->pid(), first_), EncodableValue(true));
  EXPECT_TRUE(awaitReopens(twin->pid(), 1));
  std::this_thread::sleep_for(300ms);  // room for a misdirected reopen and its line
  EXPECT_EQ(reopens(first->pid()), 0);
  EXPECT_THAT(testing::readFile(dir_.file("first.log")), Not(HasSubstr("reopen")));
}

// Catches a quit request that ends the host, skips the hand-over to the
// interface, or hands it over more than once.
TEST_F(TwoInstancesTest, QuitIsHandedToTheInterfaceAndCancelled) {
  auto first = start(first_, "first");
  testing::InterfaceTestClient interface(sockets_[first->pid()]);
  runMainLoopFor(50ms);  // the host accepts the connection
  for (size_t quits = 1; quits <= 2; ++quits) {
    EXPECT_EQ(ask(first->pid(), "quit"), "terminate=cancel");
    const auto& messages = interface.awaitHostMessages(quits);
    ASSERT_EQ(messages.size(), quits);
    EXPECT_EQ(messages.back().channel, "window_ext");
    EXPECT_EQ(messages.back().payload, kCodec.encodeMethodCall({"onTerminateRequest", {}}));
    interface.sendHostReply(messages.back().id, {});
    runMainLoopFor(200ms);
    EXPECT_EQ(interface.hostMessages().size(), quits);
    EXPECT_EQ(ask(first->pid(), "ping"), "");  // still running
  }
}

// Catches a reopen of an instance that has gone not starting its copy again,
// or its landing in a new process not logged with both identifiers.
TEST_F(TwoInstancesTest, ReopenOfAnExitedInstanceStartsANewOne) {
  const pid_t gone = start(second_, "second")->pid();
  testing::CapturingLogger logger;
  const PlatformServices& real = realPlatformServices();
  RunningApplication instance;
  instance.processIdentifier = gone;
  instance.bundleIdentifier = identifier_;
  instance.bundleURL = FileURL::fileURLWithPath(second_);
  InstallLocationProbe::requestReopen(
      PlatformServices{real.fileSystem, real.workspace, logger, real.bundles,
                       real.applicationFolders, real.loginItems, real.userDefaults,
                       real.systemVersion, real.loginItemLogger},
      instance);
  ASSERT_TRUE(runMainLoopUntil([&] { return !logger.lines().empty(); }));
  int started = 0, named = 0;
  char tail = 0;
  ASSERT_EQ(std::sscanf(logger.lines()[0].c_str(),
                        "[install-location] reopen landed pid=%d, expected %d%c", &started, &named,
                        &tail),
            2)
      << logger.lines()[0];
  EXPECT_EQ(named, gone);
  EXPECT_EQ(fs::read_symlink("/proc/" + std::to_string(started) + "/exe"),
            fs::path(second_ + "/Contents/MacOS/Korvane"));
  EXPECT_EQ(ask(started, "ping"), "");
  kill(started, SIGTERM);  // a child of the workspace, reaped by it
  EXPECT_TRUE(runMainLoopUntil([&] { return kill(started, 0) != 0; }));
  EXPECT_EQ(logger.lines().size(), 1u);
}

// Catches who is who read from disk on every call: an update that deletes
// the other copy's bundle hides that instance, and one that deletes the
// running copy's own bundle makes a fresh copy of the same application look
// foreign.
TEST_F(TwoInstancesTest, DeletedBundlesDoNotChangeWhoIsWho) {
  auto first = start(first_, "first");
  auto second = start(second_, "second");
  fs::remove_all(second_);
  EXPECT_EQ(call(first->pid(), "activateOtherInstance"), EncodableValue(true));
  EXPECT_EQ(at(call(first->pid(), "scanInstalledCopies"), "otherInstanceRunning"),
            EncodableValue(true));
  fs::remove_all(first_);
  const std::string fresh = install("home/Applications");
  const EncodableValue probe = call(first->pid(), "probeCandidate", EncodableMap{{"path", fresh}});
  EXPECT_EQ(at(probe, "identity"), EncodableValue("sameBundle"));
  EXPECT_EQ(at(probe, "build"), EncodableValue::integer(1));
  const EncodableValue scan = call(first->pid(), "scanInstalledCopies");
  const EncodableList* listed = at(scan, "candidates").asList();
  ASSERT_TRUE(listed != nullptr && listed->size() == 1);
  EXPECT_EQ(at((*listed)[0], "path"), EncodableValue(fresh));
}

// Catches a running copy not matched to its installed copy when the home
// folder is reached through a symbolic link (the system reports the running
// copy's bundle with links resolved), while a bundle path that is itself a
// link still is not the bundle.
TEST_F(TwoInstancesTest, AHomeBehindALinkIsOneFolder) {
  const std::string copy = install("home/Applications"),
                    link = dir_.file("home/Applications/L.app");
  fs::create_directory_symlink(copy, link);
  auto first = start(first_, "first");
  auto second = start(copy, "second");
  const EncodableValue scan = call(first->pid(), "scanInstalledCopies");
  const EncodableList* listed = at(scan, "candidates").asList();
  ASSERT_TRUE(listed != nullptr && listed->size() == 1);
  EXPECT_EQ(at((*listed)[0], "path"), EncodableValue(copy));
  EXPECT_EQ(at((*listed)[0], "running"), EncodableValue(true));
  EXPECT_EQ(at(scan, "otherInstanceRunning"), EncodableValue(false));
  for (const auto& [path, running] : {std::pair{copy, true}, std::pair{link, false}}) {
    EXPECT_EQ(at(call(first->pid(), "probeCandidate", EncodableMap{{"path", path}}), "running"),
              EncodableValue(running))
        << path;
  }
  EXPECT_EQ(activate(first->pid(), copy), EncodableValue(true));
  EXPECT_TRUE(awaitReopens(second->pid(), 1));
}

}  // namespace
}  // namespace korvane

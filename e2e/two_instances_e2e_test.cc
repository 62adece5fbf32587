// Two installed copies of the built Korvane.app running side by side: one
// brings the other to the front over the workspace, and reopen requests land
// where they should. Real processes, real bundles in temporary application
// folders, one runtime folder shared by both.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "install_location/probe/activation.h"
#include "platform/embedding/standard_method_codec.h"
#include "platform/linux/ipc/instance_endpoint.h"
#include "platform/main_loop.h"
#include "platform/services.h"
#include "testing/bundle_maker.h"
#include "testing/capturing_logger.h"
#include "testing/child_process.h"
#include "testing/interface_test_client.h"
#include "testing/temp_dir.h"

namespace korvane {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// A started copy of the application: its bundle's executable, standard output
// read for the ready line, standard error kept in a file.
class Instance {
 public:
  Instance(const std::string& bundle, const std::string& errorLog) : bundle_(bundle) {
    int out[2];
    if (pipe(out) != 0) return;
    const std::string executable = bundle + "/Contents/MacOS/Korvane";
    pid_ = fork();
    if (pid_ == 0) {
      const int err = open(errorLog.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
      dup2(out[1], STDOUT_FILENO);
      dup2(err, STDERR_FILENO);
      close(out[0]);
      execl(executable.c_str(), executable.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    close(out[1]);
    out_ = out[0];
  }
  ~Instance() { stop(); }

  // The interface socket from the ready line, or empty.
  std::string awaitReady(std::chrono::milliseconds timeout = 10s) {
    const std::string line = testing::readLineWithin(out_, timeout);
    const std::string prefix = "interface-socket=";
    if (line.rfind(prefix, 0) != 0 || line.back() != '\n') return {};
    return line.substr(prefix.size(), line.size() - prefix.size() - 1);
  }

  void stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
    if (out_ >= 0) close(out_);
    out_ = -1;
  }

  pid_t pid() const { return pid_; }
  const std::string& bundle() const { return bundle_; }

 private:
  std::string bundle_;
  pid_t pid_ = -1;
  int out_ = -1;
};

// Ends a process this test did not start itself (one the workspace launched).
void endForeignProcess(pid_t pid) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  // A process the workspace started is its child, reaped from the main loop.
  if (!runMainLoopUntil([pid] { return kill(pid, 0) != 0; }, 5s)) kill(pid, SIGKILL);
}

std::string readFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class TwoInstancesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    run_ = dir_.file("run");
    fs::create_directories(run_);
    fs::permissions(run_, fs::perms::owner_all, fs::perm_options::replace);
    // Both copies, and the workspace of this test, meet in this runtime folder;
    // their preferences and login items stay in this test's folder.
    setenv("XDG_RUNTIME_DIR", run_.c_str(), 1);
    setenv("XDG_CONFIG_HOME", dir_.file("config").c_str(), 1);
    unsetenv("KORVANE_INTERFACE_SOCKET");
    // The copies' user applications folder is in this test's home folder.
    if (const char* home = std::getenv("HOME")) savedHome_ = home;
    setHome(dir_.file("home"));
    first_ = install("first/Applications");
    second_ = install("second/Applications");
  }

  void TearDown() override {
    if (savedHome_) setenv("HOME", savedHome_->c_str(), 1);
  }

  void setHome(const std::string& home) {
    fs::create_directories(home);
    setenv("HOME", home.c_str(), 1);
  }

  // A copy of the built bundle in a new application folder. Its identifier is
  // this test's own, so that copies started by tests running at the same time
  // are not other instances of it.
  std::string install(const std::string& folder) {
    const std::string bundle = dir_.file(folder + "/Korvane.app");
    fs::create_directories(dir_.file(folder));
    fs::copy(KORVANE_BUNDLE, bundle, fs::copy_options::recursive);
    EXPECT_TRUE(testing::writePropertyList(bundle + "/Contents/Info.plist",
                                           {{"CFBundleIdentifier", identifier_},
                                            {"CFBundleVersion", "1"},
                                            {"CFBundleName", "Korvane"},
                                            {"CFBundleExecutable", "Korvane"}},
                                           testing::PlistFormat::xml));
    return bundle;
  }

  std::unique_ptr<Instance> start(const std::string& bundle, const std::string& log) {
    auto instance = std::make_unique<Instance>(bundle, dir_.file(log));
    sockets_[instance->pid()] = instance->awaitReady();
    EXPECT_FALSE(sockets_[instance->pid()].empty()) << "no ready line from " << bundle;
    return instance;
  }

  // One request to a running instance's endpoint, from a thread of its own
  // (the client blocks); the reply's fields, or "failed: ..." .
  std::string request(pid_t pid, std::string_view line) {
    InterfaceAddressInputs inputs = InterfaceAddressInputs::fromProcess(std::nullopt);
    return std::async(std::launch::async,
                      [&] {
                        std::string error;
                        auto client = InstanceEndpointClient::connect(inputs, pid, 2s, &error);
                        if (!client) return "failed: " + error;
                        auto reply = client->send(line, 2s, &error);
                        if (!reply) return "failed: " + error;
                        return std::string(reply->ok ? "" : "error ") + reply->fields;
                      })
        .get();
  }

  // A method call to an instance's interface connection and its decoded reply.
  EncodableValue call(pid_t pid, const std::string& method, EncodableValue args = {}) {
    testing::InterfaceTestClient client(sockets_[pid]);
    EXPECT_TRUE(client.connected());
    client.sendMessage(1, "macos_install_location",
                       StandardMethodCodec::instance().encodeMethodCall({method, std::move(args)}));
    const auto& replies = client.awaitReplies(1);
    if (replies.empty()) return EncodableValue("no reply");
    auto envelope = StandardMethodCodec::instance().decodeEnvelope(replies[0].payload);
    if (!std::holds_alternative<MethodEnvelope>(envelope)) return EncodableValue("undecodable");
    const auto& value = std::get<MethodEnvelope>(envelope);
    if (!std::holds_alternative<EncodableValue>(value)) return EncodableValue("error envelope");
    return std::get<EncodableValue>(value);
  }

  // The value of " name=value" (or a leading "name=value") in a state line.
  static std::string field(const std::string& state, const std::string& name) {
    const std::string spaced = " " + state;
    const size_t at = spaced.find(" " + name + "=");
    if (at == std::string::npos) return {};
    const size_t start = at + name.size() + 2;
    return spaced.substr(start, spaced.find(' ', start) - start);
  }

  // The "candidates" of a scan reply, and its "otherInstanceRunning".
  static const EncodableList* candidates(const EncodableValue& scan) {
    const EncodableMap* map = scan.asMap();
    const EncodableValue* list = map != nullptr ? map->find("candidates") : nullptr;
    return list != nullptr ? list->asList() : nullptr;
  }
  static EncodableValue otherInstanceRunning(const EncodableValue& scan) {
    const EncodableMap* map = scan.asMap();
    const EncodableValue* value = map != nullptr ? map->find("otherInstanceRunning") : nullptr;
    return value != nullptr ? *value : EncodableValue("missing");
  }
  static EncodableValue entry(const EncodableValue& map, const std::string& key) {
    const EncodableValue* value = map.asMap() != nullptr ? map.asMap()->find(key) : nullptr;
    return value != nullptr ? *value : EncodableValue("missing");
  }

  testing::TempDir dir_;
  std::optional<std::string> savedHome_;
  const std::string identifier_ = "app.korvane.Korvane.test" + std::to_string(getpid());
  std::string run_;
  std::string first_, second_;
  std::map<pid_t, std::string> sockets_;
};

// Catches another instance not found across copies, an activation sequence
// that leaves it hidden, not key or not active, or a reopen that the other
// delegate does not answer (or that comes back logged as misdirected).
TEST_F(TwoInstancesTest, ActivateOtherInstanceBringsTheOtherToTheFront) {
  auto first = start(first_, "first.log");
  auto second = start(second_, "second.log");
  // The second copy's user closes its window and switches away.
  ASSERT_EQ(request(second->pid(), "close"), "");
  ASSERT_EQ(request(second->pid(), "hide"), "");
  const std::string before = request(second->pid(), "state");
  ASSERT_EQ(field(before, "reopens"), "0") << before;
  ASSERT_NE(before.find(",hidden,"), std::string::npos) << before;
  ASSERT_EQ(field(before, "active"), "0") << before;

  EXPECT_EQ(call(first->pid(), "activateOtherInstance"), EncodableValue(true));
  std::string after;
  EXPECT_TRUE(runMainLoopUntil([&] {
    after = request(second->pid(), "state");
    return field(after, "reopens") == "1";
  })) << after;
  EXPECT_EQ(field(after, "active"), "1") << after;
  EXPECT_EQ(field(after, "hidden"), "0") << after;
  EXPECT_NE(after.find(",visible,key,"), std::string::npos) << after;
  // The first copy is not brought forward by its own call.
  EXPECT_EQ(field(request(first->pid(), "state"), "reopens"), "0");

  std::this_thread::sleep_for(300ms);  // room for a completion to log
  EXPECT_EQ(readFile(dir_.file("first.log")).find("reopen"), std::string::npos)
      << readFile(dir_.file("first.log"));
}

// Catches the reopen of an instance started from the same copy going to the
// caller itself instead (both run from one bundle).
TEST_F(TwoInstancesTest, TwoInstancesOfOneCopy) {
  auto first = start(first_, "first.log");
  auto second = start(first_, "second.log");
  EXPECT_EQ(call(first->pid(), "activateInstalled", EncodableMap{{"path", first_}}),
            EncodableValue(true));
  EXPECT_TRUE(
      runMainLoopUntil([&] { return field(request(second->pid(), "state"), "reopens") == "1"; }));
  std::this_thread::sleep_for(300ms);  // room for a misdirected reopen and its line
  EXPECT_EQ(field(request(first->pid(), "state"), "reopens"), "0");
  EXPECT_EQ(readFile(dir_.file("first.log")).find("reopen"), std::string::npos)
      << readFile(dir_.file("first.log"));
}

// Catches a quit request that ends the host, skips the hand-over to the
// interface, or hands it over more than once.
TEST_F(TwoInstancesTest, QuitIsHandedToTheInterfaceAndCancelled) {
  auto first = start(first_, "first.log");
  testing::InterfaceTestClient interface(sockets_[first->pid()]);
  ASSERT_TRUE(interface.connected());
  runMainLoopFor(50ms);  // the host accepts the connection
  EXPECT_EQ(request(first->pid(), "quit"), "terminate=cancel");
  const auto& messages = interface.awaitHostMessages(1);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].channel, "window_ext");
  auto decoded = StandardMethodCodec::instance().decodeMethodCall(messages[0].payload);
  ASSERT_TRUE(std::holds_alternative<FlutterMethodCall>(decoded));
  EXPECT_EQ(std::get<FlutterMethodCall>(decoded).method, "onTerminateRequest");
  EXPECT_TRUE(std::get<FlutterMethodCall>(decoded).arguments.isNull());
  interface.sendHostReply(messages[0].id, {});
  runMainLoopFor(200ms);
  EXPECT_EQ(interface.hostMessages().size(), 1u);
  EXPECT_EQ(request(first->pid(), "ping"), "");  // still running
  // A second request: a second hand-over.
  EXPECT_EQ(request(first->pid(), "quit"), "terminate=cancel");
  EXPECT_EQ(interface.awaitHostMessages(2).size(), 2u);
}

// Catches "activateInstalled" matching its own bundle, or not reaching the
// instance that runs from the given copy.
TEST_F(TwoInstancesTest, ActivateInstalledByBundlePath) {
  auto first = start(first_, "first.log");
  auto second = start(second_, "second.log");
  EXPECT_EQ(call(first->pid(), "activateInstalled", EncodableMap{{"path", first_}}),
            EncodableValue(false));
  EXPECT_EQ(call(first->pid(), "activateInstalled", EncodableMap{{"path", second_ + "/"}}),
            EncodableValue(true));
  EXPECT_TRUE(
      runMainLoopUntil([&] { return field(request(second->pid(), "state"), "reopens") == "1"; }));
  EXPECT_EQ(field(request(first->pid(), "state"), "reopens"), "0");
}

// Catches a reopen of an instance that has gone not starting the bundle
// again, or its landing in a new process not logged with both identifiers.
TEST_F(TwoInstancesTest, ReopenOfAnExitedInstanceStartsANewOne) {
  auto gone = start(second_, "second.log");
  const int32_t expected = gone->pid();
  gone->stop();

  testing::CapturingLogger logger;
  const PlatformServices& real = realPlatformServices();
  PlatformServices services{real.fileSystem,   real.workspace,          logger,
                            real.bundles,      real.applicationFolders, real.loginItems,
                            real.userDefaults, real.systemVersion,      real.loginItemLogger};
  RunningApplication instance;
  instance.processIdentifier = expected;
  instance.bundleIdentifier = identifier_;
  instance.bundleURL = FileURL::fileURLWithPath(second_);
  InstallLocationProbe::requestReopen(services, instance);

  std::string line;
  EXPECT_TRUE(runMainLoopUntil([&] {
    const auto lines = logger.lines();
    if (lines.empty()) return false;
    line = lines[0];
    return true;
  }));
  int started = 0, named = 0;
  char tail = 0;
  ASSERT_EQ(std::sscanf(line.c_str(), "[install-location] reopen landed pid=%d, expected %d%c",
                        &started, &named, &tail),
            2)
      << line;
  EXPECT_EQ(named, expected);
  EXPECT_NE(started, expected);
  // The new process runs the copy's executable.
  std::error_code error;
  EXPECT_EQ(fs::read_symlink("/proc/" + std::to_string(started) + "/exe", error),
            fs::path(second_ + "/Contents/MacOS/Korvane"));
  EXPECT_EQ(request(started, "ping"), "");
  endForeignProcess(started);
  EXPECT_EQ(logger.lines().size(), 1u);
}

// Catches an open that cannot start anything reported as success, or its
// failure logged without the expected process or the reason.
TEST_F(TwoInstancesTest, FailingReopenIsLogged) {
  fs::remove(second_ + "/Contents/MacOS/Korvane");
  testing::CapturingLogger logger;
  const PlatformServices& real = realPlatformServices();
  PlatformServices services{real.fileSystem,   real.workspace,          logger,
                            real.bundles,      real.applicationFolders, real.loginItems,
                            real.userDefaults, real.systemVersion,      real.loginItemLogger};
  RunningApplication instance;
  instance.processIdentifier = 999999;
  instance.bundleIdentifier = identifier_;
  instance.bundleURL = FileURL::fileURLWithPath(second_);
  InstallLocationProbe::requestReopen(services, instance);
  EXPECT_TRUE(runMainLoopUntil([&] { return !logger.lines().empty(); }));
  const auto lines = logger.lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].rfind("[install-location] reopen failed pid=999999: ", 0), 0u) << lines[0];
  EXPECT_NE(lines[0].find(second_), std::string::npos) << lines[0];
}

// Catches a list of running applications that is stale: a copy that has
// just printed its ready line not seen by the next call, or one that has just
// ended still activated as if it ran.
TEST_F(TwoInstancesTest, TheNextCallSeesACopyStartOrEnd) {
  auto first = start(first_, "first.log");
  EXPECT_EQ(call(first->pid(), "activateOtherInstance"), EncodableValue(false));
  auto second = start(second_, "second.log");
  EXPECT_EQ(call(first->pid(), "activateOtherInstance"), EncodableValue(true));
  // Its reopen lands before it ends: a reopen of a copy that no longer runs
  // would start that copy again.
  EXPECT_TRUE(
      runMainLoopUntil([&] { return field(request(second->pid(), "state"), "reopens") == "1"; }));
  second->stop();
  EXPECT_EQ(call(first->pid(), "activateOtherInstance"), EncodableValue(false));
  EXPECT_EQ(call(first->pid(), "activateInstalled", EncodableMap{{"path", second_}}),
            EncodableValue(false));
  EXPECT_EQ(otherInstanceRunning(call(first->pid(), "scanInstalledCopies")), EncodableValue(false));
}

// Catches who is who read from disk on every call: an update that deletes the
// other copy's bundle hides that instance, and one that deletes the running
// copy's own bundle makes a fresh copy of the same application look foreign.
TEST_F(TwoInstancesTest, DeletedBundlesDoNotChangeWhoIsWho) {
  auto first = start(first_, "first.log");
  auto second = start(second_, "second.log");
  fs::remove_all(second_);
  EXPECT_EQ(call(first->pid(), "activateOtherInstance"), EncodableValue(true));
  EXPECT_EQ(otherInstanceRunning(call(first->pid(), "scanInstalledCopies")), EncodableValue(true));

  fs::remove_all(first_);
  const std::string fresh = install("home/Applications");
  const EncodableValue probe = call(first->pid(), "probeCandidate", EncodableMap{{"path", fresh}});
  EXPECT_EQ(entry(probe, "identity"), EncodableValue("sameBundle"));
  EXPECT_EQ(entry(probe, "build"), EncodableValue::integer(1));
  const EncodableValue scan = call(first->pid(), "scanInstalledCopies");
  const EncodableList* listed = candidates(scan);
  ASSERT_NE(listed, nullptr);
  ASSERT_EQ(listed->size(), 1u);
  EXPECT_EQ(entry((*listed)[0], "path"), EncodableValue(fresh));
}

// Catches a running copy not matched to its installed copy when the home
// folder is reached through a symbolic link (the system reports the running
// copy's bundle with links resolved), while a bundle path that is itself a
// link still is not the bundle.
TEST_F(TwoInstancesTest, AHomeBehindALinkIsOneFolder) {
  fs::create_directories(dir_.file("real-home"));
  fs::create_directory_symlink(dir_.file("real-home"), dir_.file("linked-home"));
  setHome(dir_.file("linked-home"));
  const std::string copy = install("linked-home/Applications");
  fs::create_directory_symlink(copy, dir_.file("linked-home/Applications/Link.app"));
  auto first = start(first_, "first.log");
  auto second = start(copy, "second.log");

  const EncodableValue scan = call(first->pid(), "scanInstalledCopies");
  const EncodableList* listed = candidates(scan);
  ASSERT_NE(listed, nullptr);
  ASSERT_EQ(listed->size(), 1u);
  EXPECT_EQ(entry((*listed)[0], "path"), EncodableValue(copy));
  EXPECT_EQ(entry((*listed)[0], "running"), EncodableValue(true));
  EXPECT_EQ(otherInstanceRunning(scan), EncodableValue(false));
  EXPECT_EQ(entry(call(first->pid(), "probeCandidate", EncodableMap{{"path", copy}}), "running"),
            EncodableValue(true));
  EXPECT_EQ(entry(call(first->pid(), "probeCandidate",
                       EncodableMap{{"path", dir_.file("linked-home/Applications/Link.app")}}),
                  "running"),
            EncodableValue(false));
  EXPECT_EQ(call(first->pid(), "activateInstalled", EncodableMap{{"path", copy}}),
            EncodableValue(true));
  EXPECT_TRUE(
      runMainLoopUntil([&] { return field(request(second->pid(), "state"), "reopens") == "1"; }));
}

}  // namespace
}  // namespace korvane

// The built Korvane.app end to end: started as a process, alone or as two
// installed copies side by side (real bundles in temporary application
// folders, one runtime folder shared by both), and driven over its sockets the
// way the user interface and other instances drive it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <thread>

#include "platform/embedding/standard_method_codec.h"
#include "platform/main_loop.h"
#include "testing/interface_test_client.h"
#include "testing/stand_in_app.h"
#include "testing/temp_dir.h"

namespace korvane {
namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;
using testing::InterfaceTestClient;
namespace fs = std::filesystem;
const auto& kCodec = StandardMethodCodec::instance();
const std::string kInstall = "macos_install_location";

std::vector<uint8_t> methodCall(const std::string& method, EncodableValue args = {}) {
  return kCodec.encodeMethodCall({method, std::move(args)});
}
std::vector<uint8_t> ok(const EncodableValue& value) { return kCodec.encodeSuccessEnvelope(value); }
EncodableValue path(const std::string& path) { return EncodableMap{{"path", path}}; }

// The value at `key` of a map, or "missing".
const EncodableValue& at(const EncodableValue& map, const std::string& key) {
  static const EncodableValue missing("missing");
  const EncodableValue* value = map.asMap() != nullptr ? map.asMap()->find(key) : nullptr;
  return value != nullptr ? *value : missing;
}

// CPU time process `pid` has used (user and system), in clock ticks.
long cpuTicks(pid_t pid) {
  const std::string stat = testing::readFile("/proc/" + std::to_string(pid) + "/stat");
  long user = 0, system = 0;  // fields 14 and 15, after the name in parentheses
  std::sscanf(stat.c_str() + stat.rfind(')') + 1, " %*c%*d%*d%*d%*d%*d%*u%*u%*u%*u%*u%ld%ld", &user,
              &system);
  return user + system;
}

class HostTest : public ::testing::Test {
 protected:
  // Hosts started here and this test meet in one runtime folder; their
  // preferences, login items and home folder (reached through a link, as some
  // systems have it) stay in this test's folder.
  void SetUp() override {
    ASSERT_EQ(mkdir(run_.c_str(), S_IRWXU) | mkdir(dir_.file("real-home").c_str(), S_IRWXU), 0);
    fs::create_directory_symlink(dir_.file("real-home"), dir_.file("home"));
    setenv("XDG_RUNTIME_DIR", run_.c_str(), 1);
    setenv("XDG_CONFIG_HOME", dir_.file("config").c_str(), 1);
    setenv("HOME", dir_.file("home").c_str(), 1);
    unsetenv("KORVANE_INTERFACE_SOCKET");
  }

  // A copy of the built bundle in a new application folder. Its identifier
  // is this test's own, so that copies started by tests running at the same
  // time are not other instances of it.
  std::string install(const std::string& folder) {
    const std::string bundle = dir_.file(folder + "/Korvane.app");
    EXPECT_TRUE(testing::makeAppBundle(bundle, identifier_, "Korvane", KORVANE_HOST_BINARY));
    return bundle;
  }

  // The host of `bundle` started with `arguments`, once it has printed its
  // ready line; its standard error goes to "<name>.log".
  std::unique_ptr<testing::StartedProcess> start(const std::string& bundle, const std::string& name,
                                                 std::vector<std::string> arguments = {}) {
    auto host = std::make_unique<testing::StartedProcess>(
        bundle + "/Contents/MacOS/Korvane", std::move(arguments), dir_.file(name + ".log"));
    const std::string ready = host->readLine();
    EXPECT_EQ(ready.rfind("interface-socket=", 0), 0u) << bundle;
    sockets_[host->pid()] = ready.substr(17, ready.size() - 18);
    return host;
  }

  std::string ask(pid_t pid, std::string_view request) {
    return testing::askInstance(InterfaceAddressInputs::fromProcess(std::nullopt), pid, request);
  }
  // Whether instance `pid` says, in time, that it was reopened `count` times.
  bool awaitReopens(pid_t pid, int count) {
    const std::string reopens = " reopens=" + std::to_string(count) + " ";
    return runMainLoopUntil([&] { return ask(pid, "state").find(reopens) != std::string::npos; });
  }

  // A method call to an instance's interface connection and its result.
  EncodableValue call(pid_t pid, const std::string& method, EncodableValue args = {}) {
    InterfaceTestClient client(sockets_[pid]);
    client.sendMessage(1, kInstall, methodCall(method, std::move(args)));
    const auto envelope = kCodec.decodeEnvelope(client.awaitReplies(1).at(0).payload);
    const auto* value = std::get_if<EncodableValue>(std::get_if<MethodEnvelope>(&envelope));
    return value != nullptr ? *value : EncodableValue("no result");
  }

  testing::TempDir dir_;
  const std::string identifier_ = "app.korvane.Korvane.test" + std::to_string(getpid());
  const std::string run_ = dir_.file("run");
  const std::string first_ = install("first/Applications");
  const std::string second_ = install("second/Applications");
  std::map<pid_t, std::string> sockets_;
};

// Catches a missing or malformed ready line or output beside it, lost,
// doubled or mismatched replies under a burst of mixed calls, channels or
// operations not wired into the running host (or answering otherwise on the
// wire), a second host taking over a live socket, a socket file others could
// use, and a signal that kills the host instead of ending its main loop or
// leaves the socket file behind.
TEST_F(HostTest, ServesABurstOfMixedCallsAloneAndStopsCleanly) {
  const std::string socket = dir_.file("interface.sock"), marked = dir_.file("marked");
  auto host = start(KORVANE_BUNDLE, "host", {"--interface-socket", socket});
  EXPECT_EQ(sockets_[host->pid()], socket);
  std::ofstream(marked) << "x";
  const bool xattrs = setxattr(marked.c_str(), "user.com.apple.quarantine", "", 0, 0) == 0;
  const EncodableMap absent{
      {"identity", "absent"}, {"build", EncodableValue::integer(0)}, {"running", false}};
  const struct {
    std::string channel;
    std::vector<uint8_t> call, reply;
  } kinds[] = {
      {kInstall, methodCall("hasQuarantine", path(marked)),
       ok(EncodableValue::integer(xattrs ? 1 : 2))},
      {kInstall, methodCall("hasQuarantine", path(first_)),
       ok(EncodableValue::integer(xattrs ? 0 : 2))},
      {kInstall, methodCall("isDirWritable", path(dir_.path())), ok(true)},
      {kInstall, methodCall("revealInFinder"), ok(true)},
      {kInstall, methodCall("probeCandidate", path(dir_.file("nothing.app"))), ok(absent)},
      {kInstall, methodCall("IsDirWritable", path(dir_.path())), {}},  // names are case-sensitive
      {kInstall, {0x07, 0xff}, {}},                                    // not a method call
      {"no_such_channel", methodCall("revealInFinder"), {}},
      {"launch_at_startup", methodCall("launchAtStartupIsEnabled"), ok(false)},
      {"launch_at_startup", methodCall("launchAtStartupIsenabled"), {}},
  };
  InterfaceTestClient client(socket);
  constexpr uint32_t kCalls = 3000;
  for (uint32_t id = 0; id < kCalls; ++id) {
    ASSERT_TRUE(client.sendMessage(id, kinds[id % 10].channel, kinds[id % 10].call));
  }
  testing::StartedProcess second(KORVANE_HOST_BINARY, {"--interface-socket", socket},
                                 dir_.file("second.log"));
  EXPECT_TRUE(second.wait() == 1 && second.rest().empty()) << "a second host on a live socket";
  EXPECT_THAT(testing::readFile(dir_.file("second.log")), HasSubstr(socket));
  const auto& replies = client.awaitReplies(kCalls, 30s);
  ASSERT_EQ(replies.size(), kCalls);
  std::vector<int> seen(kCalls);
  for (const auto& reply : replies) {
    ASSERT_LT(reply.id, kCalls);
    EXPECT_EQ(++seen[reply.id], 1) << reply.id;
    EXPECT_EQ(reply.payload, kinds[reply.id % 10].reply) << reply.id;
  }
  struct stat st {};
  ASSERT_EQ(lstat(socket.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & (S_IFMT | 0777), S_IFSOCK | 0600u) << "a socket only its owner can use";
  EXPECT_TRUE(kill(host->pid(), SIGTERM) == 0 && host->wait() == 0);
  EXPECT_EQ(host->rest() + testing::readFile(dir_.file("host.log")), "");
  EXPECT_NE(lstat(socket.c_str(), &st), 0) << "socket file removed on exit";
}

// Catches a host that spins or floods its log when it runs out of descriptors
// (a limit of 64 and 100 idle connections), stops serving a connection it
// took, or does not serve a new client once the idle ones have gone.
TEST_F(HostTest, OutOfDescriptorsTheHostWaitsQuietly) {
  auto host = start(first_, "host");
  const rlimit limit{64, 64};
  ASSERT_EQ(prlimit(host->pid(), RLIMIT_NOFILE, &limit, nullptr), 0);
  std::vector<std::unique_ptr<InterfaceTestClient>> idle;
  for (int i = 0; i < 100; ++i) {
    idle.push_back(std::make_unique<InterfaceTestClient>(sockets_[host->pid()]));
    ASSERT_TRUE(idle.back()->connected()) << i;
  }
  std::this_thread::sleep_for(500ms);  // the host takes what it can
  const long ticks = cpuTicks(host->pid());
  std::this_thread::sleep_for(3s);
  EXPECT_LE(cpuTicks(host->pid()) - ticks, sysconf(_SC_CLK_TCK) / 5) << "ticks of CPU in 3 s";
  // A connection it took is served, with descriptors left to read a bundle.
  ASSERT_TRUE(idle[0]->sendMessage(9, kInstall, methodCall("probeCandidate", path(second_))));
  EXPECT_EQ(
      idle[0]->awaitReplies(1).at(0).payload,
      ok(EncodableMap{
          {"identity", "sameBundle"}, {"build", EncodableValue::integer(1)}, {"running", false}}));
  idle.clear();
  InterfaceTestClient client(sockets_[host->pid()]);
  ASSERT_TRUE(client.sendMessage(1, kInstall, methodCall("revealInFinder")));
  EXPECT_EQ(client.awaitReplies(1, 1s).size(), 1u) << "no answer within a second";
  EXPECT_TRUE(kill(host->pid(), SIGTERM) == 0 && host->wait() == 0);
  const std::string log = testing::readFile(dir_.file("host.log"));
  EXPECT_LE(std::count(log.begin(), log.end(), '\n'), 4) << log.substr(0, 2000);
}

// Catches another instance not found across copies, or found when there is
// none (the list of running applications stale by one call), the caller's
// own bundle taken for another's, an activation that leaves the other hidden,
// not key or not active, the reopen of an instance of the caller's own copy
// going to the caller itself, and a reopen that comes back logged as
// misdirected.
TEST_F(HostTest, OneCopyBringsTheOtherToTheFront) {
  auto first = start(first_, "first");
  EXPECT_EQ(call(first->pid(), "activateOtherInstance"), EncodableValue(false));
  auto second = start(second_, "second");
  // The second copy's user closes its window and switches away.
  ASSERT_EQ(ask(second->pid(), "close") + ask(second->pid(), "hide"), "");
  EXPECT_THAT(ask(second->pid(), "state"), HasSubstr("active=0 hidden=1 reopens=0"));
  EXPECT_EQ(call(first->pid(), "activateInstalled", path(first_)), EncodableValue(false));
  EXPECT_EQ(call(first->pid(), "activateOtherInstance"), EncodableValue(true));
  EXPECT_TRUE(awaitReopens(second->pid(), 1));
  EXPECT_THAT(ask(second->pid(), "state"), HasSubstr("active=1 hidden=0 reopens=1 windows=1 "));
  EXPECT_THAT(ask(second->pid(), "state"), HasSubstr(",visible,key,"));
  EXPECT_EQ(call(first->pid(), "activateInstalled", path(second_ + "/")), EncodableValue(true));
  EXPECT_TRUE(awaitReopens(second->pid(), 2));
  EXPECT_TRUE(kill(second->pid(), SIGTERM) == 0 && second->wait() == 0);
  EXPECT_EQ(call(first->pid(), "activateOtherInstance"), EncodableValue(false));
  EXPECT_EQ(call(first->pid(), "activateInstalled", path(second_)), EncodableValue(false));
  EXPECT_EQ(at(call(first->pid(), "scanInstalledCopies"), "otherInstanceRunning"),
            EncodableValue(false));
  auto twin = start(first_, "twin");
  EXPECT_EQ(call(first->pid(), "activateInstalled", path(first_)), EncodableValue(true));
  EXPECT_TRUE(awaitReopens(twin->pid(), 1));
  std::this_thread::sleep_for(300ms);  // room for a misdirected reopen and its line
  EXPECT_THAT(ask(first->pid(), "state"), HasSubstr(" reopens=0 "));
  EXPECT_THAT(testing::readFile(dir_.file("first.log")), ::testing::Not(HasSubstr("reopen")));
}

// Catches a quit request that ends the host, skips the hand-over to the
// interface, or hands it over more than once.
TEST_F(HostTest, QuitIsHandedToTheInterfaceAndCancelled) {
  auto first = start(first_, "first");
  InterfaceTestClient interface(sockets_[first->pid()]);
  runMainLoopFor(50ms);  // the host accepts the connection
  for (size_t quits = 1; quits <= 2; ++quits) {
    EXPECT_EQ(ask(first->pid(), "quit"), "terminate=cancel");
    const auto& message = interface.awaitHostMessages(quits).at(quits - 1);
    EXPECT_EQ(message.channel, "window_ext");
    EXPECT_EQ(message.payload, methodCall("onTerminateRequest"));
    interface.sendHostReply(message.id, {});
    runMainLoopFor(200ms);
    EXPECT_EQ(interface.hostMessages().size(), quits);
    EXPECT_EQ(ask(first->pid(), "ping"), "");  // still running
  }
}

// Catches who is who read from disk on every call: an update that deletes
// the other copy's bundle hides that instance, and one that deletes the
// running copy's own bundle makes a fresh copy of the same application look
// foreign.
TEST_F(HostTest, DeletedBundlesDoNotChangeWhoIsWho) {
  auto first = start(first_, "first");
  auto second = start(second_, "second");
  fs::remove_all(second_);
  EXPECT_EQ(call(first->pid(), "activateOtherInstance"), EncodableValue(true));
  EXPECT_EQ(at(call(first->pid(), "scanInstalledCopies"), "otherInstanceRunning"),
            EncodableValue(true));
  fs::remove_all(first_);
  const std::string fresh = install("home/Applications");
  const EncodableValue probe = call(first->pid(), "probeCandidate", path(fresh));
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
TEST_F(HostTest, AHomeBehindALinkIsOneFolder) {
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
  EXPECT_EQ(at(call(first->pid(), "probeCandidate", path(copy)), "running"), EncodableValue(true));
  EXPECT_EQ(at(call(first->pid(), "probeCandidate", path(link)), "running"), EncodableValue(false));
  EXPECT_EQ(call(first->pid(), "activateInstalled", path(copy)), EncodableValue(true));
  EXPECT_TRUE(awaitReopens(second->pid(), 1));
}

}  // namespace
}  // namespace korvane

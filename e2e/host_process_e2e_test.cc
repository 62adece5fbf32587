// The host executable end to end: started as a process, driven over its
// interface connection the way the user interface drives it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <thread>

#include "platform/embedding/standard_method_codec.h"
#include "platform/linux/engine/interface_frame.h"
#include "testing/bundle_maker.h"
#include "testing/child_process.h"
#include "testing/interface_test_client.h"
#include "testing/temp_dir.h"

namespace korvane {
namespace {

using namespace std::chrono_literals;
using testing::InterfaceTestClient;
const std::string kInstall = "macos_install_location";

std::vector<uint8_t> call(const std::string& method, EncodableValue args = {}) {
  return StandardMethodCodec::instance().encodeMethodCall({method, std::move(args)});
}
std::vector<uint8_t> ok(const EncodableValue& value) {
  return StandardMethodCodec::instance().encodeSuccessEnvelope(value);
}
EncodableValue path(const std::string& path) { return EncodableMap{{"path", path}}; }

// CPU time process `pid` has used (user and system), in clock ticks.
long cpuTicks(pid_t pid) {
  const std::string stat = testing::readFile("/proc/" + std::to_string(pid) + "/stat");
  std::istringstream fields(stat.substr(stat.rfind(')') + 1));  // from field 3
  std::string field;
  for (int i = 3; i < 14; ++i) fields >> field;
  long user = 0, system = 0;
  fields >> user >> system;
  return user + system;
}

class HostProcessTest : public ::testing::Test {
 protected:
  // The host's login items, preferences and instance endpoint live in this
  // test's folder; its standard error goes to "host.err" there.
  void SetUp() override {
    setenv("XDG_CONFIG_HOME", dir_.file("config").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", dir_.path().c_str(), 1);
    host_.emplace(KORVANE_HOST_BINARY, std::vector<std::string>{"--interface-socket", socket_},
                  dir_.file("host.err"));
    ASSERT_EQ(host_->readLine(), "interface-socket=" + socket_ + "\n");
  }

  testing::TempDir dir_;
  std::string socket_ = dir_.file("interface.sock");
  std::optional<testing::StartedProcess> host_;
};

// Catches a missing or malformed ready line or output beside it, lost,
// doubled or mismatched replies under a burst of mixed calls, channels or
// operations not wired into the running host (or answering otherwise on the
// wire), a second host taking over a live socket, a socket file others could
// use, and a signal that kills the host instead of ending its main loop or
// leaves the socket file behind.
TEST_F(HostProcessTest, ServesABurstOfMixedCallsAloneAndStopsCleanly) {
  const std::string marked = dir_.file("marked"), plain = dir_.file("plain");
  std::ofstream(marked) << "x";
  std::ofstream(plain) << "x";
  const bool xattrs = setxattr(marked.c_str(), "user.com.apple.quarantine", "", 0, 0) == 0;
  const EncodableMap absent{
      {"identity", "absent"}, {"build", EncodableValue::integer(0)}, {"running", false}};
  const struct {
    std::string channel;
    std::vector<uint8_t> call, reply;
  } kinds[] = {
      {kInstall, call("hasQuarantine", path(marked)), ok(EncodableValue::integer(xattrs ? 1 : 2))},
      {kInstall, call("hasQuarantine", path(plain)), ok(EncodableValue::integer(xattrs ? 0 : 2))},
      {kInstall, call("isDirWritable", path(dir_.path())), ok(true)},
      {kInstall, call("revealInFinder"), ok(true)},
      {kInstall, call("probeCandidate", path(dir_.file("nothing.app"))), ok(absent)},
      {kInstall, call("IsDirWritable", path(dir_.path())), {}},  // names are case-sensitive
      {kInstall, {0x07, 0xff}, {}},                              // not a method call
      {"no_such_channel", call("revealInFinder"), {}},
      {"launch_at_startup", call("launchAtStartupIsEnabled"), ok(false)},
      {"launch_at_startup", call("launchAtStartupIsenabled"), {}},
  };
  InterfaceTestClient client(socket_);
  constexpr uint32_t kCalls = 3000;
  for (uint32_t id = 0; id < kCalls; ++id) {
    ASSERT_TRUE(client.sendMessage(id, kinds[id % 10].channel, kinds[id % 10].call));
  }
  testing::StartedProcess second(KORVANE_HOST_BINARY, {"--interface-socket", socket_},
                                 dir_.file("second.err"));
  EXPECT_EQ(second.wait(), 1);
  EXPECT_EQ(second.rest(), "");
  EXPECT_NE(testing::readFile(dir_.file("second.err")).find(socket_), std::string::npos);
  const auto& replies = client.awaitReplies(kCalls, 30s);
  ASSERT_EQ(replies.size(), kCalls);
  std::vector<int> seen(kCalls);
  for (const auto& reply : replies) {
    ASSERT_LT(reply.id, kCalls);
    EXPECT_EQ(++seen[reply.id], 1) << reply.id;
    EXPECT_EQ(reply.payload, kinds[reply.id % 10].reply) << reply.id;
  }
  struct stat st {};
  ASSERT_EQ(lstat(socket_.c_str(), &st), 0);
  EXPECT_TRUE(S_ISSOCK(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_EQ(kill(host_->pid(), SIGTERM), 0);
  EXPECT_EQ(host_->wait(), 0);
  EXPECT_EQ(host_->rest() + testing::readFile(dir_.file("host.err")), "");
  EXPECT_NE(lstat(socket_.c_str(), &st), 0) << "socket file removed on exit";
}

// Catches a host that spins or floods its log when it runs out of descriptors
// (a limit of 64 and 100 idle connections), stops serving a connection it
// took, or does not serve a new client once the idle ones have gone.
TEST_F(HostProcessTest, OutOfDescriptorsTheHostWaitsQuietly) {
  const rlimit limit{64, 64};
  ASSERT_EQ(prlimit(host_->pid(), RLIMIT_NOFILE, &limit, nullptr), 0);
  std::vector<std::unique_ptr<InterfaceTestClient>> idle;
  for (int i = 0; i < 100; ++i) {
    idle.push_back(std::make_unique<InterfaceTestClient>(socket_));
    ASSERT_TRUE(idle.back()->connected()) << i;
  }
  std::this_thread::sleep_for(500ms);  // the host takes what it can
  const long ticks = cpuTicks(host_->pid());
  std::this_thread::sleep_for(3s);
  EXPECT_LE(cpuTicks(host_->pid()) - ticks, sysconf(_SC_CLK_TCK) / 5) << "ticks of CPU in 3 s";
  // A connection it took is served, with descriptors left to read a bundle.
  const std::string bundle = dir_.file("Other.app");
  ASSERT_TRUE(testing::makeBundle(bundle, testing::bundleInfo("com.example.other", "7")));
  ASSERT_TRUE(idle[0]->sendMessage(9, kInstall, call("probeCandidate", path(bundle))));
  ASSERT_EQ(idle[0]->awaitReplies(1).size(), 1u) << "no reply on a connection it took";
  EXPECT_EQ(idle[0]->replies()[0].payload, ok(EncodableMap{{"identity", "differentBundle"},
                                                           {"build", EncodableValue::integer(7)},
                                                           {"running", false}}));
  idle.clear();
  InterfaceTestClient client(socket_);
  ASSERT_TRUE(client.sendMessage(1, kInstall, call("revealInFinder")));
  EXPECT_EQ(client.awaitReplies(1, 1s).size(), 1u) << "no answer within a second";
  kill(host_->pid(), SIGTERM);
  EXPECT_EQ(host_->wait(), 0);
  const std::string log = testing::readFile(dir_.file("host.err"));
  EXPECT_LE(std::count(log.begin(), log.end(), '\n'), 4) << log.substr(0, 2000);
}

}  // namespace
}  // namespace korvane

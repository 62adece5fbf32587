#include "tools/korvane_call/korvane_call.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <optional>
#include <sstream>
#include <thread>

#include "platform/embedding/method_channel.h"
#include "platform/linux/engine/interface_engine.h"
#include "platform/linux/ipc/instance_endpoint.h"
#include "platform/main_loop.h"
#include "testing/capturing_logger.h"
#include "testing/child_process.h"
#include "testing/stand_in_app.h"
#include "testing/temp_dir.h"
#include "testing/unix_socket.h"
#include "tools/korvane_call/host_discovery.h"

namespace korvane::tools {
namespace {

using korvane::runMainLoopUntil;

struct Case {
  std::vector<std::string> args;
  int status;
  std::string out = "";
  std::string errPart = "";
};

// Runs korvane-call with each case's arguments on a thread while this (main)
// thread serves the engine or endpoint, and checks what it printed.
void runCases(const std::vector<Case>& cases, const InterfaceAddressInputs& environment = {}) {
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.back());
    std::ostringstream out, err;
    std::atomic<int> status{-1};
    std::thread caller([&] { status = runKorvaneCall(c.args, environment, out, err); });
    runMainLoopUntil([&] { return status != -1; }, std::chrono::seconds(20));
    caller.join();
    EXPECT_EQ(status, c.status) << err.str();
    EXPECT_EQ(out.str(), c.out);
    EXPECT_NE(err.str().find(c.errPart), std::string::npos) << err.str();
  }
}

// The korvane-call binary run while this (main) thread serves the engine:
// its exit status and standard output.
std::pair<int, std::string> runBinary(const std::vector<std::string>& args) {
  testing::StartedProcess call(KORVANE_CALL_BINARY, args);
  runMainLoopUntil([&] { return call.exited(); }, std::chrono::seconds(20));
  return {call.wait(), call.rest()};
}

std::string describe(const FlutterResultValue& answer) {
  return std::holds_alternative<FlutterMethodNotImplementedMarker>(answer) ? "no data" : "data";
}

class KorvaneCallTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(engine_.start(socket_).has_value());
    auto channel = FlutterMethodChannel::methodChannelWithName("c", engine_.binaryMessenger());
    channel.setMethodCallHandler([this](const FlutterMethodCall& call, FlutterResult result) {
      if (call.method == "echo") {
        result(call.arguments);
      } else if (call.method == "fail") {
        result(FlutterError{"bad_path", "no such file", EncodableMap{{"path", "/x"}}});
      } else if (call.method == "typed") {
        result(EncodableMap{{int32_t{1}, true}, {"list", std::vector<int32_t>{1, 2}}});
      } else if (call.method == "never") {
        held_ = result;
      } else if (call.method == "ask") {
        // Calls the interface twice before replying; the reply tells what came back.
        auto interface = FlutterMethodChannel::methodChannelWithName("interface_side",
                                                                     engine_.binaryMessenger());
        auto first = std::make_shared<std::string>();
        interface.invokeMethod("first", call.arguments,
                               [first](FlutterResultValue answer) { *first = describe(answer); });
        interface.invokeMethod("second", {}, [first, result](FlutterResultValue answer) {
          result(*first + ", " + describe(answer));
        });
      } else {
        result(FlutterMethodNotImplemented);
      }
    });
  }
  // "--socket <the engine's socket>" and then `rest`.
  std::vector<std::string> args(std::vector<std::string> rest) {
    rest.insert(rest.begin(), {"--socket", socket_});
    return rest;
  }

  testing::TempDir dir_;
  std::string socket_ = dir_.file("host.sock");
  testing::CapturingLogger logger_;
  InterfaceEngine engine_{logger_};
  std::optional<FlutterResult> held_;
};

// Catches wrong exit statuses, replies printed wrongly or on the wrong stream,
// arguments that do not reach the handler intact, the host's own messages
// taken for the reply, left unanswered or breaking the call, and a tool that
// hangs or misreports when nothing listens at the socket.
TEST_F(KorvaneCallTest, CallsThroughTheEngine) {
  runCases({
      {args({"c", "echo", R"({"path":"/a","n":5})"}), kExitReplied, "{\"path\":\"/a\",\"n\":5}\n"},
      {args({"c", "echo"}), kExitReplied, "null\n"},
      {args({"c", "echo", R"([1, 2.5, "x", null, true, 4294967296])"}), kExitReplied,
       "[1,2.5,\"x\",null,true,4294967296]\n"},
      {args({"c", "echo", "--", "-3"}), kExitReplied, "-3\n"},
      {args({"c", "typed"}), kExitReplied, "{\"1\":true,\"list\":[1,2]}\n"},
      {args({"c", "ask", "[1]"}), kExitReplied, "\"no data, no data\"\n"},
      {args({"c", "fail"}), kExitErrorReply, "",
       "c fail failed: bad_path: no such file (details: {\"path\":\"/x\"})"},
      {args({"c", "unknown"}), kExitNotImplemented, "", "c unknown is not implemented"},
      {args({"no_such_channel", "echo"}), kExitNotImplemented, "", "is not implemented"},
      {args({"c", "never", "--timeout", "0.3"}), kExitTimedOut, "",
       "no reply within the time limit"},
      {args({"c", "echo", "{not json"}), kExitUsage, "", "not valid JSON"},
      {args({"c"}), kExitUsage, "", "CHANNEL and METHOD are required"},
      {args({"--verbose", "c", "echo"}), kExitUsage, "", "unknown option --verbose"},
      {args({"c", "echo", "--timeout", "0"}), kExitUsage, "", "--timeout needs"},
      {{"--socket", dir_.file("absent.sock"), "c", "echo"}, kExitNoHost, "", "cannot connect"},
  });
  EXPECT_TRUE(logger_.lines().empty());
}

// Catches a call handed to a listener that another user serves (it could be
// anybody's, waiting for what the interface sends).
TEST_F(KorvaneCallTest, ASocketOfAnotherUserIsRefused) {
  if (!testing::canSwitchUser()) GTEST_SKIP() << "needs root to call as another user";
  ASSERT_EQ(chmod(dir_.path().c_str(), 0755) | chmod(socket_.c_str(), 0777), 0);
  EXPECT_EQ(
      testing::runInChild(
          [&] {
            std::ostringstream out, err;
            const int status = runKorvaneCall(args({"--timeout", "2", "c", "echo"}), {}, out, err);
            return status == kExitNoHost &&
                           err.str().find("is served by uid 0") != std::string::npos
                       ? 0
                       : 1;
          },
          testing::kNobody),
      0);
}

// Catches the installed binary printing anything but the one reply line,
// leaving the host's messages unanswered, or exiting with a status that does
// not match --help.
TEST_F(KorvaneCallTest, BinaryPrintsOneLineAndHelpExplains) {
  EXPECT_EQ(runBinary(args({"c", "echo", R"({"a":[1]})"})),
            std::pair(0, std::string("{\"a\":[1]}\n")));
  EXPECT_EQ(runBinary(args({"c", "ask"})), std::pair(0, std::string("\"no data, no data\"\n")));
  EXPECT_EQ(runBinary(args({"c", "fail"})), std::pair(int{kExitErrorReply}, std::string()));
  const auto [status, help] = runBinary({"--help"});
  EXPECT_EQ(status, 0);
  EXPECT_NE(help.find("Exit status"), std::string::npos);
  EXPECT_NE(help.find("korvane-call macos_install_location hasQuarantine"), std::string::npos);
  EXPECT_NE(help.find("--instance PID REQUEST"), std::string::npos);
}

// Catches discovery that picks a stale socket, calls an arbitrary one of
// several running hosts, looks in a folder another user could control, or
// ignores the environment.
TEST(HostDiscoveryTest, FindsTheOneRunningHost) {
  testing::TempDir dir;
  InterfaceAddressInputs inputs;
  inputs.runtimeDir = dir.path();
  inputs.tmpDir = dir.file("tmp");
  inputs.uid = getuid();
  const std::string folder = dir.file("korvane");
  ASSERT_EQ(mkdir(folder.c_str(), 0700) | mkdir(dir.file("tmp").c_str(), 0700), 0);
  EXPECT_NE(findInterfaceSocket(inputs).error.find("no running host found"), std::string::npos);
  close(testing::bindUnixSocket(folder + "/interface-1.sock", false));  // stale
  const int first = testing::bindUnixSocket(folder + "/interface-2.sock", true);
  const int other = testing::bindUnixSocket(folder + "/unrelated.sock", true);
  EXPECT_EQ(findInterfaceSocket(inputs).path, folder + "/interface-2.sock");
  const std::string tmpFolder = dir.file("tmp/korvane-") + std::to_string(getuid());
  ASSERT_EQ(mkdir(tmpFolder.c_str(), 0700), 0);
  const int second = testing::bindUnixSocket(tmpFolder + "/interface-3.sock", true);
  const HostDiscovery several = findInterfaceSocket(inputs);
  EXPECT_EQ(several.path, "");
  EXPECT_NE(several.error.find("several running hosts"), std::string::npos);
  EXPECT_NE(several.error.find(folder + "/interface-2.sock"), std::string::npos) << several.error;
  EXPECT_NE(several.error.find(tmpFolder + "/interface-3.sock"), std::string::npos);
  std::ostringstream out, err;
  EXPECT_EQ(runKorvaneCall({"c", "m"}, inputs, out, err), kExitNoHost);
  EXPECT_NE(err.str().find("several running hosts"), std::string::npos);
  ASSERT_EQ(chmod(tmpFolder.c_str(), 0777), 0);  // unsafe: not looked into
  EXPECT_EQ(findInterfaceSocket(inputs).path, folder + "/interface-2.sock");
  inputs.environment = "/given/by/env.sock";
  EXPECT_EQ(findInterfaceSocket(inputs).path, "/given/by/env.sock");
  for (const int fd : {first, other, second}) close(fd);
}

// Catches --instance requests that do not reach the endpoint intact, reply
// lines printed differently from how they came, exit statuses that do not
// match --help, and a silent endpoint that hangs the tool.
TEST(KorvaneCallInstanceTest, SendsOneRequestLineToAnInstance) {
  testing::TempDir dir;
  testing::ScopedSocketFolders folders(dir.path());
  const auto environment = InterfaceAddressInputs::fromProcess(std::nullopt);
  const int32_t self = static_cast<int32_t>(getpid());
  testing::CapturingLogger logger;
  InstanceEndpointServer server(logger);
  std::vector<std::string> seen;
  ASSERT_FALSE(server
                   .start(environment,
                          [&](std::string_view request) {
                            seen.emplace_back(request);
                            return request == "hide" ? errorInstanceReply("no windows")
                                                     : okInstanceReply(self, "hello");
                          })
                   .has_value());
  const std::string pid = std::to_string(self), other = std::to_string(self + 1);
  runCases(
      {{{"--instance", pid, "ping"}, kExitReplied, "ok pid=" + pid + " hello\n"},
       {{"--instance=" + pid, "hide"}, kExitInstanceError, "error no windows\n"},
       {{"--instance", pid, "--", "bogus"}, kExitInstanceError, "error unknown request\n"},
       {{"--instance", other, "ping"}, kExitNoHost, "", "no instance endpoint"},
       {{"--instance", "12x", "ping"}, kExitUsage, "", "--instance needs a process identifier"},
       {{"--instance", "0", "ping"}, kExitUsage, "", "--instance needs a process identifier"},
       {{"--instance", pid}, kExitUsage, "", "REQUEST is required"},
       {{"--instance", pid, "ping", "hide"}, kExitUsage, "", "only one REQUEST"},
       {{"--instance", pid, "ping\nquit"}, kExitUsage, "", "one line"},
       {{"--socket", "/x.sock", "--instance", pid, "ping"}, kExitUsage, "", "cannot be used"}},
      environment);
  EXPECT_EQ(seen, (std::vector<std::string>{"ping", "hide"}));
  server.stop();
  const int silent = testing::bindUnixSocket(dir.file("korvane/app-" + pid + ".sock"), true);
  runCases({{{"--timeout", "0.2", "--instance", pid, "ping"}, kExitTimedOut, ""}}, environment);
  close(silent);
}

}  // namespace
}  // namespace korvane::tools

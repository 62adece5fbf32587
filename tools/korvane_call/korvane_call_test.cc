#include "tools/korvane_call/korvane_call.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <limits>
#include <optional>
#include <sstream>
#include <thread>

#include "platform/embedding/method_channel.h"
#include "platform/linux/engine/interface_engine.h"
#include "platform/linux/ipc/instance_endpoint.h"
#include "platform/main_loop.h"
#include "testing/child_process.h"
#include "testing/fakes/capturing_diagnostic_log.h"
#include "testing/stand_in_app.h"
#include "testing/temp_dir.h"
#include "testing/unix_socket.h"
#include "tools/korvane_call/host_discovery.h"
#include "tools/korvane_call/json_value.h"

namespace korvane::tools {
namespace {

struct Case {
  std::vector<std::string> args;
  int status;
  std::string out = "", errPart = "";
};

// An engine serving channel "c" at the socket KORVANE_INTERFACE_SOCKET names,
// and the default endpoint folders in this test's own folder.
class KorvaneCallTest : public ::testing::Test {
 protected:
  void SetUp() override {
    environment_.environment = socket_;
    ASSERT_FALSE(engine_.start(socket_).has_value());
    auto channel = FlutterMethodChannel::methodChannelWithName("c", engine_.binaryMessenger());
    channel.setMethodCallHandler([this](const FlutterMethodCall& call, FlutterResult result) {
      const std::string& m = call.method;
      if (m == "echo") return result(call.arguments);
      if (m == "fail") return result(FlutterError{"bad", "no file", EncodableMap{{"p", "/x"}}});
      if (m == "typed") return result(EncodableMap{{1, true}, {"l", std::vector<int32_t>{1, 2}}});
      if (m == "never") return void(held_ = result);
      if (m != "ask") return result(FlutterMethodNotImplemented);
      // The reply tells what the interface answered.
      FlutterMethodChannel::methodChannelWithName("interface_side", engine_.binaryMessenger())
          .invokeMethod("first", call.arguments, [result](FlutterResultValue answer) {
            result(std::holds_alternative<FlutterMethodNotImplementedMarker>(answer) ? "no data"
                                                                                     : "data");
          });
    });
  }

  // Runs korvane-call with each case's arguments on a thread while this
  // (main) thread serves the engine and endpoints, and checks what it printed.
  void runCases(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
      SCOPED_TRACE(c.args.back());
      std::ostringstream out, err;
      std::atomic<int> status{-1};
      std::thread caller([&] { status = runKorvaneCall(c.args, environment_, out, err); });
      runMainLoopUntil([&] { return status != -1; }, std::chrono::seconds(20));
      caller.join();
      EXPECT_EQ(status, c.status) << err.str();
      EXPECT_EQ(out.str(), c.out);
      EXPECT_NE(err.str().find(c.errPart), std::string::npos) << err.str();
    }
  }

  testing::TempDir dir_;
  testing::ScopedSocketFolders folders_{dir_.path()};
  InterfaceAddressInputs environment_ = InterfaceAddressInputs::fromProcess(std::nullopt);
  std::string socket_ = dir_.file("host.sock");
  testing::CapturingDiagnosticLog logger_;
  InterfaceEngine engine_{logger_};
  std::optional<FlutterResult> held_;
};

// Catches wrong exit statuses, replies printed wrongly or on the wrong stream,
// arguments that do not reach the handler or the instance intact, the host's
// own messages taken for the reply, left unanswered or breaking the call,
// instance reply lines printed otherwise than they came, and a tool that hangs
// or misreports when nothing listens or nothing answers.
TEST_F(KorvaneCallTest, CallsTheHostOrAnInstance) {
  const int32_t self = static_cast<int32_t>(getpid());
  testing::CapturingDiagnosticLog endpointLog;
  InstanceEndpointServer server(endpointLog);
  std::vector<std::string> seen;
  const auto answer = [&](std::string_view request) {
    seen.emplace_back(request);
    return request == "hide" ? errorInstanceReply("no windows") : okInstanceReply(self, "hello");
  };
  ASSERT_FALSE(server.start(environment_, answer).has_value());
  const std::string pid = std::to_string(self), other = std::to_string(self + 1);
  runCases({
      {{"c", "echo"}, kExitReplied, "null\n"},
      {{"c", "echo", R"({"p": ["/a", 2.5, null, true, 4294967296], "n": 5})"},
       kExitReplied,
       "{\"p\":[\"/a\",2.5,null,true,4294967296],\"n\":5}\n"},
      {{"c", "echo", "--", "-3"}, kExitReplied, "-3\n"},
      {{"c", "typed"}, kExitReplied, "{\"1\":true,\"l\":[1,2]}\n"},
      {{"c", "ask", "[1]"}, kExitReplied, "\"no data\"\n"},
      {{"c", "fail"}, kExitErrorReply, "", "c fail failed: bad: no file (details: {\"p\":\"/x\"})"},
      {{"c", "unknown"}, kExitNotImplemented, "", "c unknown is not implemented"},
      {{"c", "never", "--timeout", "0.3"}, kExitTimedOut, "", "no reply within the time limit"},
      {{"c", "echo", "{not json"}, kExitUsage, "", "not valid JSON"},
      {{"c"}, kExitUsage, "", "CHANNEL and METHOD are required"},
      {{"--verbose", "c", "echo"}, kExitUsage, "", "unknown option --verbose"},
      {{"c", "echo", "--timeout", "0"}, kExitUsage, "", "--timeout needs"},
      {{"--socket", dir_.file("absent.sock"), "c", "echo"}, kExitNoHost, "", "cannot connect"},
      {{"--instance", pid, "ping"}, kExitReplied, "ok pid=" + pid + " hello\n"},
      {{"--instance=" + pid, "hide"}, kExitInstanceError, "error no windows\n"},
      {{"--instance", other, "ping"}, kExitNoHost, "", "no instance endpoint"},
      {{"--instance", "12x", "ping"}, kExitUsage, "", "--instance needs a process identifier"},
      {{"--instance", "0", "ping"}, kExitUsage, "", "--instance needs a process identifier"},
      {{"--instance", pid}, kExitUsage, "", "REQUEST is required"},
      {{"--instance", pid, "ping", "hide"}, kExitUsage, "", "only one REQUEST"},
      {{"--instance", pid, "ping\nquit"}, kExitUsage, "", "one line"},
      {{"--socket", "/x.sock", "--instance", pid, "ping"}, kExitUsage, "", "cannot be used"},
  });
  EXPECT_EQ(seen, (std::vector<std::string>{"ping", "hide"}));
  server.stop();
  const int silent = testing::bindUnixSocket(dir_.file("korvane/app-" + pid + ".sock"), true);
  runCases({{{"--timeout", "0.2", "--instance", pid, "ping"}, kExitTimedOut}});
  close(silent);
  EXPECT_TRUE(logger_.lines().empty());
}

// Catches a call handed to a listener that another user serves (it could be
// anybody's, waiting for what the interface sends).
TEST_F(KorvaneCallTest, ASocketOfAnotherUserIsRefused) {
  if (!testing::canSwitchUser()) GTEST_SKIP() << "needs root to call as another user";
  ASSERT_EQ(chmod(dir_.path().c_str(), 0755) | chmod(socket_.c_str(), 0777), 0);
  const auto refused = [&] {
    std::ostringstream out, err;
    const int status = runKorvaneCall({"--timeout", "2", "c", "echo"}, environment_, out, err);
    return status == kExitNoHost && err.str().find("is served by uid 0") != std::string::npos;
  };
  EXPECT_EQ(testing::runInChild([&] { return refused() ? 0 : 1; }, testing::kNobody), 0);
}

// Catches the installed binary printing anything but the one reply line (or
// its help) on standard output, or exiting with another status than the call's.
TEST_F(KorvaneCallTest, TheBinaryPrintsOnlyTheReplyAndExitsWithItsStatus) {
  const auto run = [](std::vector<std::string> args) {
    testing::StartedProcess call(KORVANE_CALL_BINARY, std::move(args));
    runMainLoopUntil([&] { return call.exited(); }, std::chrono::seconds(20));
    return std::pair(call.wait(), call.rest());
  };
  EXPECT_EQ(run({"--socket", socket_, "c", "ask"}), std::pair(0, std::string("\"no data\"\n")));
  EXPECT_EQ(run({"--socket", socket_, "c", "fail"}),
            std::pair(int{kExitErrorReply}, std::string()));
  const auto [status, help] = run({"--help"});
  EXPECT_TRUE(status == kExitReplied && help.find("Exit status:") != std::string::npos) << help;
}

// Catches discovery that picks a stale socket, calls an arbitrary one of
// several running hosts, looks in a folder another user could control, or
// ignores the environment.
TEST_F(KorvaneCallTest, DiscoveryFindsTheOneRunningHost) {
  InterfaceAddressInputs inputs = environment_;
  inputs.environment.reset();
  const std::string folder = dir_.file("korvane");
  const std::string tmpFolder = dir_.file("tmp/korvane-") + std::to_string(getuid());
  ASSERT_EQ(mkdir(folder.c_str(), 0700) | mkdir(tmpFolder.c_str(), 0700), 0);
  EXPECT_NE(findInterfaceSocket(inputs).error.find("no running host found"), std::string::npos);
  close(testing::bindUnixSocket(folder + "/interface-1.sock", false));  // stale
  const int first = testing::bindUnixSocket(folder + "/interface-2.sock", true);
  const int other = testing::bindUnixSocket(folder + "/unrelated.sock", true);
  EXPECT_EQ(findInterfaceSocket(inputs).path, folder + "/interface-2.sock");
  const std::string third = tmpFolder + "/interface-3.sock";
  const int second = testing::bindUnixSocket(third, true);
  std::ostringstream out, err;
  EXPECT_EQ(runKorvaneCall({"c", "m"}, inputs, out, err), kExitNoHost);
  for (const std::string& part :
       {std::string("several running hosts"), folder + "/interface-2.sock", third}) {
    EXPECT_NE(err.str().find(part), std::string::npos) << err.str();
  }
  ASSERT_EQ(chmod(tmpFolder.c_str(), 0777), 0);  // unsafe: not looked into
  EXPECT_EQ(findInterfaceSocket(inputs).path, folder + "/interface-2.sock");
  inputs.environment = "/given/by/env.sock";
  EXPECT_EQ(findInterfaceSocket(inputs).path, "/given/by/env.sock");
  for (const int fd : {first, other, second}) close(fd);
}

// Catches JSON numbers sent with the wrong type or width, an unsigned integer
// beyond int64 wrapped to a negative number instead of refused, objects sent
// as lists, lost nesting or order; and typed lists, non-string keys or map
// order lost when a reply is printed.
TEST(JsonValueTest, JsonAndChannelValuesConvertBothWays) {
  std::string error;
  const char* json = R"([7, -2147483648, 2147483648, -2147483649, 9223372036854775807,
      1e3, [1, "/a", null, [true]], {"b": {"a": 1}, "a": "/t"}])";
  const EncodableValue sent =
      EncodableList({int32_t(7), int32_t(-2147483648), int64_t(2147483648), int64_t(-2147483649),
                     std::numeric_limits<int64_t>::max(), 1000.0,
                     EncodableList{int32_t(1), "/a", EncodableValue(), EncodableList{true}},
                     EncodableMap{{"b", EncodableMap{{"a", int32_t(1)}}}, {"a", "/t"}}});
  EXPECT_EQ(valueFromJson(Json::parse(json), error), sent) << error;
  EXPECT_EQ(valueFromJson(Json::parse("[18446744073709551615]"), error), std::nullopt);
  EXPECT_NE(error.find("18446744073709551615"), std::string::npos) << error;
  const EncodableValue reply = EncodableList(
      {int32_t(-1), int64_t(1) << 40, 0.25, std::nan(""), std::vector<uint8_t>{0, 255},
       std::vector<int32_t>{-5, 5}, std::vector<int64_t>{int64_t(1) << 50},
       std::vector<double>{1.5}, std::vector<float>{0.5f},
       EncodableMap{{"z", 1}, {"a", 2}, {"1", "x"}},
       EncodableMap{{int32_t(1), true}, {EncodableValue(), false}, {EncodableList{int32_t(2)}, 0}},
       EncodableMap{{"candidates", EncodableList{EncodableMap{{"build", int64_t(5)}}}}}});
  EXPECT_EQ(
      jsonFromValue(reply).dump(),
      R"([-1,1099511627776,0.25,null,[0,255],[-5,5],[1125899906842624],[1.5],[0.5],)"
      R"({"z":1,"a":2,"1":"x"},{"1":true,"null":false,"[2]":0},{"candidates":[{"build":5}]}])");
}

}  // namespace
}  // namespace korvane::tools

#include "tools/korvane_call/korvane_call.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
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
#include "testing/instance_test_app.h"
#include "testing/temp_dir.h"
#include "testing/unix_socket.h"
#include "tools/korvane_call/host_discovery.h"

namespace korvane::tools {
namespace {

using korvane::runMainLoopUntil;
using korvane::testing::CapturingLogger;
using korvane::testing::TempDir;

struct CallRun {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs korvane-call on a thread while this (main) thread serves the engine.
CallRun runWhileServing(std::vector<std::string> args, InterfaceAddressInputs environment = {}) {
  CallRun run;
  std::atomic<bool> done{false};
  std::thread caller([&] {
    std::ostringstream out, err;
    run.status = runKorvaneCall(args, environment, out, err);
    run.out = out.str();
    run.err = err.str();
    done = true;
  });
  runMainLoopUntil([&] { return done.load(); }, std::chrono::seconds(20));
  caller.join();
  return run;
}

// Runs the korvane-call binary while this (main) thread serves the engine;
// returns its exit status and standard output.
std::pair<int, std::string> runBinary(std::vector<std::string> args) {
  int pipeFds[2];
  EXPECT_EQ(pipe2(pipeFds, O_CLOEXEC), 0);
  const pid_t child = fork();
  if (child == 0) {
    dup2(pipeFds[1], STDOUT_FILENO);
    std::vector<char*> argv{const_cast<char*>(KORVANE_CALL_BINARY)};
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    execv(KORVANE_CALL_BINARY, argv.data());
    _exit(127);
  }
  close(pipeFds[1]);
  int status = -1;
  runMainLoopUntil([&] { return waitpid(child, &status, WNOHANG) == child; });
  std::string out;
  char buffer[4096];
  for (ssize_t n; (n = read(pipeFds[0], buffer, sizeof buffer)) > 0;) out.append(buffer, n);
  close(pipeFds[0]);
  return std::make_pair(WIFEXITED(status) ? WEXITSTATUS(status) : -1, out);
}

// A listening (live) or closed (stale) socket file at `path`.
int socketAt(const std::string& path, bool live) {
  const int fd = testing::bindUnixSocket(path, live);
  EXPECT_GE(fd, 0) << path;
  if (!live && fd >= 0) {
    close(fd);
    return -1;
  }
  return fd;
}

std::string describe(const FlutterResultValue& answer) {
  return std::holds_alternative<FlutterMethodNotImplementedMarker>(answer) ? "no data" : "data";
}

class KorvaneCallTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(engine.start(socket).has_value());
    auto channel =
        FlutterMethodChannel::methodChannelWithName("test_channel", engine.binaryMessenger());
    channel.setMethodCallHandler([this](const FlutterMethodCall& call, FlutterResult result) {
      if (call.method == "echo") {
        result(call.arguments);
      } else if (call.method == "fail") {
        result(FlutterError{"bad_path", "no such file", EncodableMap{{"path", "/x"}}});
      } else if (call.method == "typed") {
        result(EncodableMap{{int32_t{1}, true}, {"list", std::vector<int32_t>{1, 2}}});
      } else if (call.method == "never") {
        held = result;
      } else if (call.method == "ask") {
        // Calls the interface twice before replying; the reply tells what came back.
        auto interface =
            FlutterMethodChannel::methodChannelWithName("interface_side", engine.binaryMessenger());
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

  TempDir dir;
  std::string socket = dir.file("host.sock");
  CapturingLogger logger;
  InterfaceEngine engine{logger};
  std::optional<FlutterResult> held;
};

struct Case {
  std::vector<std::string> args;  // after --socket PATH
  int status;
  const char* out;
  const char* errPart;
};

// Catches wrong exit statuses, replies printed wrongly or on the wrong stream,
// and arguments that do not reach the handler intact.
TEST_F(KorvaneCallTest, CallsThroughTheEngine) {
  const Case cases[] = {
      {{"test_channel", "echo", R"({"path":"/a","n":5})"},
       kExitReplied,
       "{\"path\":\"/a\",\"n\":5}\n",
       ""},
      {{"test_channel", "echo"}, kExitReplied, "null\n", ""},
      {{"test_channel", "echo", R"([1, 2.5, "x", null, true, 4294967296])"},
       kExitReplied,
       "[1,2.5,\"x\",null,true,4294967296]\n",
       ""},
      {{"test_channel", "echo", "--", "-3"}, kExitReplied, "-3\n", ""},
      {{"test_channel", "typed"}, kExitReplied, "{\"1\":true,\"list\":[1,2]}\n", ""},
      {{"test_channel", "fail"},
       kExitErrorReply,
       "",
       "test_channel fail failed: bad_path: no such file (details: {\"path\":\"/x\"})"},
      {{"test_channel", "unknown"},
       kExitNotImplemented,
       "",
       "test_channel unknown is not implemented"},
      {{"no_such_channel", "echo"}, kExitNotImplemented, "", "is not implemented"},
      {{"test_channel", "never", "--timeout", "0.3"},
       kExitTimedOut,
       "",
       "no reply within the time limit"},
      {{"test_channel", "echo", "{not json"}, kExitUsage, "", "not valid JSON"},
      {{"test_channel"}, kExitUsage, "", "CHANNEL and METHOD are required"},
      {{"--verbose", "test_channel", "echo"}, kExitUsage, "", "unknown option --verbose"},
      {{"test_channel", "echo", "--timeout", "0"}, kExitUsage, "", "--timeout needs"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"--socket", socket};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const CallRun run = runWhileServing(args);
    const std::string name = c.args.size() > 1 ? c.args[1] : c.args[0];
    EXPECT_EQ(run.status, c.status) << name << ": " << run.err;
    EXPECT_EQ(run.out, c.out) << name;
    EXPECT_NE(run.err.find(c.errPart), std::string::npos) << name << ": " << run.err;
  }
  EXPECT_TRUE(logger.lines().empty());
}

// Catches a tool that hangs or misreports when nothing listens at the socket.
TEST_F(KorvaneCallTest, NoHostAtTheSocketIsReported) {
  const CallRun run =
      runWhileServing({"--socket", dir.file("absent.sock"), "test_channel", "echo"});
  EXPECT_EQ(run.status, kExitNoHost);
  EXPECT_NE(run.err.find("cannot connect"), std::string::npos) << run.err;
}

// Catches a call handed to a listener that another user serves (it could be
// anybody's, waiting for what the interface sends).
TEST_F(KorvaneCallTest, ASocketOfAnotherUserIsRefused) {
  if (!testing::canSwitchUser()) GTEST_SKIP() << "needs root to serve as another user";
  const std::string folder = dir.file("shared");
  ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);  // the other user reaches the folder in it
  ASSERT_EQ(mkdir(folder.c_str(), 0777), 0);
  ASSERT_EQ(chmod(folder.c_str(), 0777), 0);
  const std::string path = folder + "/interface.sock";
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t child = fork();
  if (child == 0) {
    close(ready[0]);
    if (setgid(testing::kNobody) != 0 || setuid(testing::kNobody) != 0) _exit(10);
    const int fd = testing::bindUnixSocket(path, true);
    if (fd < 0) _exit(11);
    (void)!write(ready[1], "r", 1);
    for (;;) pause();
  }
  close(ready[1]);
  char byte = 0;
  ASSERT_EQ(read(ready[0], &byte, 1), 1);
  close(ready[0]);
  const CallRun run = runWhileServing({"--socket", path, "--timeout", "2", "test_channel", "echo"});
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  EXPECT_EQ(run.status, kExitNoHost);
  EXPECT_NE(run.err.find("is served by uid 65534"), std::string::npos) << run.err;
}

// Catches the installed binary printing anything but the one reply line, or
// exiting with a status that does not match --help.
TEST_F(KorvaneCallTest, BinaryPrintsOneLineAndHelpExplains) {
  auto [status, out] = runBinary({"--socket", socket, "test_channel", "echo", R"({"a":[1]})"});
  EXPECT_EQ(status, 0);
  EXPECT_EQ(out, "{\"a\":[1]}\n");
  std::tie(status, out) = runBinary({"--socket", socket, "test_channel", "fail"});
  EXPECT_EQ(status, kExitErrorReply);
  EXPECT_EQ(out, "");
  std::tie(status, out) = runBinary({"--help"});
  EXPECT_EQ(status, 0);
  EXPECT_NE(out.find("Exit status"), std::string::npos);
  EXPECT_NE(out.find("korvane-call macos_install_location hasQuarantine"), std::string::npos);
}

// Catches korvane-call taking the host's own message for its reply, breaking
// on it, or leaving it unanswered (the host would never reply to the call).
TEST_F(KorvaneCallTest, AnswersTheHostsMessagesWhileItWaits) {
  const CallRun run = runWhileServing({"--socket", socket, "test_channel", "ask", "[1]"});
  EXPECT_EQ(run.status, kExitReplied) << run.err;
  EXPECT_EQ(run.out, "\"no data, no data\"\n");
  const auto [status, out] = runBinary({"--socket", socket, "test_channel", "ask"});
  EXPECT_EQ(status, kExitReplied);
  EXPECT_EQ(out, "\"no data, no data\"\n");
  EXPECT_TRUE(logger.lines().empty());
}

// Catches discovery that picks a stale socket, hides a second running host,
// looks in a folder another user could control, or ignores the environment.
TEST(HostDiscoveryTest, FindsTheOneRunningHost) {
  TempDir dir;
  InterfaceAddressInputs inputs;
  inputs.runtimeDir = dir.path();
  inputs.tmpDir = dir.file("tmp");
  inputs.uid = getuid();
  const std::string folder = dir.file("korvane");
  ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);

  HostDiscovery found = findInterfaceSocket(inputs);
  EXPECT_TRUE(found.path.empty());
  EXPECT_NE(found.error.find("no running host found"), std::string::npos) << found.error;

  socketAt(folder + "/interface-1.sock", false);
  const int first = socketAt(folder + "/interface-2.sock", true);
  const int other = socketAt(folder + "/unrelated.sock", true);
  found = findInterfaceSocket(inputs);
  EXPECT_EQ(found.path, folder + "/interface-2.sock") << found.error;

  ASSERT_EQ(mkdir(dir.file("tmp").c_str(), 0700), 0);
  const std::string tmpFolder = dir.file("tmp/korvane-" + std::to_string(getuid()));
  ASSERT_EQ(mkdir(tmpFolder.c_str(), 0700), 0);
  const int second = socketAt(tmpFolder + "/interface-3.sock", true);
  found = findInterfaceSocket(inputs);
  EXPECT_TRUE(found.path.empty());
  EXPECT_NE(found.error.find("several running hosts"), std::string::npos);
  EXPECT_NE(found.error.find(folder + "/interface-2.sock"), std::string::npos) << found.error;
  EXPECT_NE(found.error.find(tmpFolder + "/interface-3.sock"), std::string::npos) << found.error;

  ASSERT_EQ(chmod(tmpFolder.c_str(), 0777), 0);  // unsafe: not looked into
  EXPECT_EQ(findInterfaceSocket(inputs).path, folder + "/interface-2.sock");

  inputs.environment = "/given/by/env.sock";
  EXPECT_EQ(findInterfaceSocket(inputs).path, "/given/by/env.sock");
  for (int fd : {first, other, second}) close(fd);
}

// Catches several hosts leading to a call to an arbitrary one instead of a clear refusal.
TEST(HostDiscoveryTest, SeveralHostsStopTheCall) {
  TempDir dir;
  InterfaceAddressInputs inputs;
  inputs.runtimeDir = dir.path();
  inputs.tmpDir = dir.file("none");
  inputs.uid = getuid();
  ASSERT_EQ(mkdir(dir.file("korvane").c_str(), 0700), 0);
  const int a = socketAt(dir.file("korvane/interface-1.sock"), true);
  const int b = socketAt(dir.file("korvane/interface-2.sock"), true);
  std::ostringstream out, err;
  EXPECT_EQ(runKorvaneCall({"c", "m"}, inputs, out, err), kExitNoHost);
  EXPECT_NE(err.str().find("several running hosts"), std::string::npos) << err.str();
  EXPECT_TRUE(out.str().empty());
  close(a);
  close(b);
}

// Catches --instance requests that do not reach the endpoint intact, reply
// lines printed differently from how they came, or exit statuses that do not
// match --help.
TEST(KorvaneCallInstanceTest, SendsOneRequestLineToAnInstance) {
  TempDir dir;
  testing::ScopedSocketFolders folders(dir.path());
  const InterfaceAddressInputs environment = InterfaceAddressInputs::fromProcess(std::nullopt);
  const int32_t self = static_cast<int32_t>(getpid());
  CapturingLogger logger;
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
  const std::string pid = std::to_string(self);
  struct InstanceCase {
    std::vector<std::string> args;
    int status;
    std::string out;
    const char* errPart;
  };
  const InstanceCase cases[] = {
      {{"--instance", pid, "ping"}, kExitReplied, "ok pid=" + pid + " hello\n", ""},
      {{"--instance=" + pid, "hide"}, kExitInstanceError, "error no windows\n", ""},
      {{"--instance", pid, "--", "bogus"}, kExitInstanceError, "error unknown request\n", ""},
      {{"--instance", std::to_string(self + 1), "ping"}, kExitNoHost, "", "no instance endpoint"},
      {{"--instance", "12x", "ping"}, kExitUsage, "", "--instance needs a process identifier"},
      {{"--instance", "0", "ping"}, kExitUsage, "", "--instance needs a process identifier"},
      {{"--instance", pid}, kExitUsage, "", "REQUEST is required"},
      {{"--instance", pid, "ping", "hide"}, kExitUsage, "", "only one REQUEST"},
      {{"--instance", pid, "ping\nquit"}, kExitUsage, "", "one line"},
      {{"--socket", "/x.sock", "--instance", pid, "ping"}, kExitUsage, "", "cannot be used"},
  };
  for (const InstanceCase& c : cases) {
    const CallRun run = runWhileServing(c.args, environment);
    EXPECT_EQ(run.status, c.status) << c.args.back() << ": " << run.err;
    EXPECT_EQ(run.out, c.out) << c.args.back();
    EXPECT_NE(run.err.find(c.errPart), std::string::npos) << c.args.back() << ": " << run.err;
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"ping", "hide"}));

  // An endpoint that takes the connection but never answers.
  server.stop();
  const int silent = socketAt(dir.file("korvane/app-" + pid + ".sock"), true);
  const CallRun run = runWhileServing({"--timeout", "0.2", "--instance", pid, "ping"}, environment);
  EXPECT_EQ(run.status, kExitTimedOut) << run.err;
  EXPECT_TRUE(run.out.empty());
  close(silent);

  std::ostringstream out, err;
  EXPECT_EQ(runKorvaneCall({"--help"}, environment, out, err), kExitReplied);
  EXPECT_NE(out.str().find("--instance PID REQUEST"), std::string::npos);
}

}  // namespace
}  // namespace korvane::tools

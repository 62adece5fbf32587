#include "platform/linux/ipc/instance_endpoint.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <thread>

#include "platform/main_loop.h"
#include "testing/fakes/capturing_diagnostic_log.h"
#include "testing/stand_in_app.h"
#include "testing/temp_dir.h"
#include "testing/unix_socket.h"

namespace korvane {
namespace {

using namespace std::chrono_literals;
using Lines = std::vector<std::string>;

class InstanceEndpointTest : public ::testing::Test {
 protected:
  // Sends `chunks` on a new connection, a pause after each so that the server reads them one by
  // one, and shuts the sending side when `finish`; reads the replies one byte at a time, so that
  // the server fills up and pauses. Both run on threads of their own while this (main) thread
  // serves the main loop. Returns the reply lines, "<closed>" last when the server closed.
  Lines exchange(const Lines& chunks, bool finish) {
    const int fd = testing::connectUnixSocket(path);
    const timeval limit{10, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    Lines replies{""};  // the last is the line being read
    std::atomic<bool> done{false};
    std::thread writer([&] {
      for (const std::string& chunk : chunks) {
        send(fd, chunk.data(), chunk.size(), MSG_NOSIGNAL);  // blocks until all is taken
        std::this_thread::sleep_for(50ms);
      }
      if (finish) shutdown(fd, SHUT_WR);
    });
    std::thread reader([&] {
      ssize_t n;
      for (char c; (n = recv(fd, &c, 1, 0)) == 1;)
        c == '\n' ? replies.emplace_back() : replies.back() += c;
      if (n == 0 || errno == ECONNRESET) replies.back() = "<closed>";
      done = true;
    });
    runMainLoopUntil([&] { return done.load(); }, 20s);
    for (std::thread* thread : {&writer, &reader}) thread->join();
    close(fd);
    return replies;
  }

  testing::TempDir runtime;
  testing::ScopedSocketFolders folders{runtime.path()};
  InterfaceAddressInputs inputs = InterfaceAddressInputs::fromProcess(std::nullopt);
  const int32_t self = static_cast<int32_t>(getpid());
  const std::string path = runtime.file("korvane/app-" + std::to_string(self) + ".sock");
  testing::CapturingDiagnosticLog logger;
  InstanceEndpointServer server{logger};
};

// Catches a reader that assumes one line per read, replies dropped or out of order (also while
// reading pauses for a peer that does not read), unknown requests handed on, an over-long line
// buffered or answered in pieces, an off-by-one at the limit, a connection left open after a
// refusal, a handler's broken answer sent as is, and a use after free or a socket file left
// behind when the handler stops the server (as "quit" does).
TEST_F(InstanceEndpointTest, AnswersEveryLineInOrderAndRefusesBadOnes) {
  const auto failure = server.start(inputs, [this](std::string_view request) -> std::string {
    if (request == "quit") server.stop();
    return request == "close" ? "ok pid=1\nok pid=2" : okInstanceReply(1, request);
  });
  ASSERT_FALSE(failure) << failure->message;
  const std::string longest(kMaxInstanceLine, 'x'), unknown = "error unknown request";
  const std::string refusal = "error the request is longer than 256 bytes";
  Lines many(15000, unknown);  // about 300 KB: far past the pause
  many.push_back("<closed>");
  // clang-format off
  const std::tuple<Lines, bool, Lines> cases[] = {
      {{"ping\nunhide\nact", "ivate\nreo", "pen\nqu"}, true,
       {"ok pid=1 ping", "ok pid=1 unhide", "ok pid=1 activate", "ok pid=1 reopen", "<closed>"}},
      {{std::string(15000, '\n')}, true, many},
      {{"PING\n\nping \nreopen\r\nopen\n" + longest + "\nstate\n"}, true,
       {unknown, unknown, unknown, unknown, unknown, unknown, "ok pid=1 state", "<closed>"}},
      {{"ping\n" + longest + "x\nping\n"}, false, {"ok pid=1 ping", refusal, "<closed>"}},
      {{longest + longest + longest}, false, {refusal, "<closed>"}},
      {{"close\nstate\nquit\nping\n"}, false,
       {"error the application gave no valid answer", "ok pid=1 state", "<closed>"}}};
  // clang-format on
  for (const auto& [sent, finish, replies] : cases)
    EXPECT_EQ(exchange(sent, finish), replies) << sent[0];
  EXPECT_EQ(logger.lines(), Lines{"instance endpoint: the answer to \"close\" is not a reply line; "
                                  "sent an error instead"});
  EXPECT_TRUE(server.path().empty());
  EXPECT_NE(access(path.c_str(), F_OK), 0);
}

// Catches a client that talks to whatever listens at the name (a stale file, another process),
// sends a request that would break the framing, waits forever on a listener that never answers or
// stays usable after that, and failures given the wrong error; replies the other side could not
// parse back, or parses that accept what no server sends.
TEST_F(InstanceEndpointTest, ClientTalksOnlyToTheLiveEndpointOfThePid) {
  Lines errors;  // of each step below, in turn
  const auto connect = [&](int32_t pid) {
    std::error_code code;
    auto client = InstanceEndpointClient::connect(inputs, pid, 1s, nullptr, &code);
    errors.push_back(code.message());
    return client;
  };
  connect(self);
  ASSERT_EQ(mkdir(runtime.file("korvane").c_str(), 0700), 0);
  close(testing::bindUnixSocket(path, false));  // a stale file
  connect(self);
  ASSERT_EQ(unlink(path.c_str()), 0);
  const int listener = testing::bindUnixSocket(path, true);  // never accepts
  auto client = connect(self);
  ASSERT_TRUE(client);
  for (const std::string& request :  // invalid ones are not sent: the connection stays usable
       Lines{"ping\nping", std::string(kMaxInstanceLine + 1, 'p'), "ping", "ping"}) {
    std::error_code code;
    client->send(request, 200ms, nullptr, &code);
    errors.push_back(code.message());
  }
  // This process listens in the name of another.
  const int impostor = testing::bindUnixSocket(
      runtime.file("korvane/app-" + std::to_string(self + 1) + ".sock"), true);
  connect(self + 1);
  EXPECT_EQ(errors, (Lines{"No such file or directory", "Connection refused", "Success",
                           "Invalid argument", "Invalid argument", "Connection timed out",
                           "Transport endpoint is not connected", "Permission denied"}));
  const std::string longest = "ok pid=1 " + std::string(kMaxInstanceLine - 9, 'f');
  for (const std::string& line :
       Lines{"ok pid=4 requests=a,b", "ok pid=2147483647", "error no", longest}) {
    const auto r = parseInstanceReply(line);
    ASSERT_TRUE(r) << line;
    EXPECT_EQ(r->ok ? okInstanceReply(r->pid, r->fields) : errorInstanceReply(r->fields), line);
  }
  EXPECT_TRUE(parseInstanceReply("error") && !parseInstanceReply("error")->ok);
  for (const std::string& line :
       Lines{longest + "f", "ok pid=2147483648", "ok pid=0", "ok pid=042", "ok pid=-4", "ok pid=+4",
             "ok pid=", "ok pid=4x", "ok pid=4\nok pid=5", "ok", "OK pid=4", "errors are here", ""})
    EXPECT_FALSE(parseInstanceReply(line)) << line;
  EXPECT_EQ(errorInstanceReply("two\nlines\r"), "error two lines ");
  EXPECT_TRUE(parseInstanceReply(errorInstanceReply(std::string(400, 'e'))));
  for (const int fd : {listener, impostor}) close(fd);
}

}  // namespace
}  // namespace korvane

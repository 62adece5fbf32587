#include "platform/linux/ipc/instance_endpoint.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <thread>

#include "platform/main_loop.h"
#include "testing/capturing_logger.h"
#include "testing/child_process.h"
#include "testing/temp_dir.h"
#include "testing/unix_socket.h"

namespace korvane {
namespace {

using namespace std::chrono_literals;
using korvane::testing::CapturingLogger;
using korvane::testing::TempDir;

const int32_t kSelf = static_cast<int32_t>(getpid());

// Runs `body` on another thread while this (main) thread serves the main loop.
void whileServing(const std::function<void()>& body) {
  std::atomic<bool> done{false};
  std::thread peer([&] {
    body();
    done = true;
  });
  runMainLoopUntil([&] { return done.load(); }, 20s);
  peer.join();
}

int connectRaw(const std::string& path) { return testing::connectUnixSocket(path); }

// A Unix socket bound at `path`, listening, or closed again (a stale file).
int bindAt(const std::string& path, bool listening) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.data(), path.size());
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  EXPECT_EQ(bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0) << path;
  if (!listening) {
    close(fd);
    return -1;
  }
  EXPECT_EQ(listen(fd, 4), 0);
  return fd;
}

bool sendAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

// Reads until `count` lines came, the peer closed, or `limit` passed.
// `closed` is set when the peer closed (end of stream or reset) after the
// lines read.
std::vector<std::string> readLines(int fd, size_t count, bool* closed = nullptr,
                                   std::chrono::milliseconds limit = 5s) {
  std::vector<std::string> lines;
  std::string partial;
  if (closed != nullptr) *closed = false;
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (lines.size() < count && std::chrono::steady_clock::now() < deadline) {
    pollfd entry{fd, POLLIN, 0};
    if (poll(&entry, 1, 100) <= 0) continue;
    char buffer[1024];
    const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) {
      if (closed != nullptr) *closed = n == 0 || errno == ECONNRESET;
      break;
    }
    partial.append(buffer, static_cast<size_t>(n));
    for (size_t end; (end = partial.find('\n')) != std::string::npos;) {
      lines.push_back(partial.substr(0, end));
      partial.erase(0, end + 1);
    }
  }
  return lines;
}

// Whether the peer closes within `limit` without sending anything more.
bool closesWithoutMore(int fd, std::chrono::milliseconds limit = 5s) {
  bool closed = false;
  const auto more = readLines(fd, 1, &closed, limit);
  return more.empty() && closed;
}

// Catches replies that the other side could not parse back, or parses that
// accept what no server sends.
TEST(InstanceProtocolTest, RepliesParseBackAndOddLinesAreRefused) {
  struct Case {
    std::string line;
    std::optional<InstanceReply> expected;
  };
  const std::string longest = "ok pid=1 " + std::string(kMaxInstanceLine - 9, 'f');
  const Case cases[] = {
      {"ok pid=42", InstanceReply{true, 42, ""}},
      {"ok pid=42 requests=a,b", InstanceReply{true, 42, "requests=a,b"}},
      {"ok pid=2147483647", InstanceReply{true, 2147483647, ""}},
      {"error no such window", InstanceReply{false, 0, "no such window"}},
      {"error", InstanceReply{false, 0, ""}},
      {longest, InstanceReply{true, 1, std::string(kMaxInstanceLine - 9, 'f')}},
      {longest + "f", std::nullopt},
      {"ok pid=2147483648", std::nullopt},
      {"ok pid=0", std::nullopt},
      {"ok pid=042", std::nullopt},
      {"ok pid=-4", std::nullopt},
      {"ok pid=+4", std::nullopt},
      {"ok pid=", std::nullopt},
      {"ok pid=4x", std::nullopt},
      {"ok pid=4\nok pid=5", std::nullopt},
      {"ok", std::nullopt},
      {"OK pid=4", std::nullopt},
      {"errors are here", std::nullopt},
      {"", std::nullopt},
  };
  for (const Case& c : cases) {
    const auto parsed = parseInstanceReply(c.line);
    ASSERT_EQ(parsed.has_value(), c.expected.has_value()) << c.line;
    if (!parsed) continue;
    EXPECT_EQ(parsed->ok, c.expected->ok) << c.line;
    EXPECT_EQ(parsed->pid, c.expected->pid) << c.line;
    EXPECT_EQ(parsed->fields, c.expected->fields) << c.line;
  }
  EXPECT_EQ(okInstanceReply(7), "ok pid=7");
  EXPECT_EQ(okInstanceReply(7, "x=1"), "ok pid=7 x=1");
  EXPECT_EQ(errorInstanceReply("two\nlines\r"), "error two lines ");
  EXPECT_EQ(errorInstanceReply(std::string(400, 'e')).size(), kMaxInstanceLine);
  EXPECT_TRUE(parseInstanceReply(errorInstanceReply(std::string(400, 'e'))).has_value());
  EXPECT_EQ(instanceEndpointFileName(1234), "app-1234.sock");
  EXPECT_TRUE(isInstanceRequest("reopen"));
  EXPECT_FALSE(isInstanceRequest("Reopen"));
  EXPECT_FALSE(isInstanceRequest("reopen "));
}

class InstanceEndpointTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The folders come from the environment, as in the host; TMPDIR too, so
    // that the fallback folder is this test's own.
    for (const char* name : {"XDG_RUNTIME_DIR", "TMPDIR"}) {
      const char* value = std::getenv(name);
      saved.emplace_back(name, value != nullptr ? std::optional<std::string>(value) : std::nullopt);
    }
    ASSERT_EQ(mkdir(runtime.file("tmp").c_str(), 0700), 0);
    setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);
    setenv("TMPDIR", runtime.file("tmp").c_str(), 1);
    inputs = InterfaceAddressInputs::fromProcess(std::nullopt);
    expectedPath = runtime.file("korvane/" + instanceEndpointFileName(kSelf));
  }

  void TearDown() override {
    for (const auto& [name, value] : saved) {
      if (value) {
        setenv(name, value->c_str(), 1);
      } else {
        unsetenv(name);
      }
    }
  }

  void start() {
    auto failure = server.start(inputs, [this](std::string_view request) {
      requests.emplace_back(request);
      return okInstanceReply(kSelf,
                             "n=" + std::to_string(requests.size()) + " " + std::string(request));
    });
    ASSERT_FALSE(failure.has_value()) << failure->message;
  }

  TempDir runtime;  // 0700, as mkdtemp makes it
  std::vector<std::pair<const char*, std::optional<std::string>>> saved;
  InterfaceAddressInputs inputs;
  std::string expectedPath;
  CapturingLogger logger;
  std::vector<std::string> requests;  // main thread only
  InstanceEndpointServer server{logger};
};

// Catches replies answered out of order, dropped, or given to the wrong
// request over one connection.
TEST_F(InstanceEndpointTest, AnswersEachRequestInOrderOverOneConnection) {
  start();
  EXPECT_EQ(server.path(), expectedPath);
  std::vector<std::string> replies;
  std::string error = "unset";
  whileServing([&] {
    auto client = InstanceEndpointClient::connect(inputs, kSelf, 2s, &error);
    if (!client) return;
    for (std::string_view request : {"ping", "unhide", "activate", "state"}) {
      auto reply = client->send(request, 2s, &error);
      if (!reply) return;
      replies.push_back(std::to_string(reply->pid) + " " + reply->fields);
    }
  });
  const std::string self = std::to_string(kSelf);
  EXPECT_EQ(replies, (std::vector<std::string>{self + " n=1 ping", self + " n=2 unhide",
                                               self + " n=3 activate", self + " n=4 state"}))
      << error;
  EXPECT_TRUE(logger.lines().empty());
}

// Catches a reader that assumes one line per read: several lines in one write
// must each be answered, and a line split over writes answered once, whole.
TEST_F(InstanceEndpointTest, LinesAreFoundAcrossAndWithinWrites) {
  start();
  std::vector<std::string> replies;
  bool closed = false;
  whileServing([&] {
    const int fd = connectRaw(expectedPath);
    sendAll(fd, "ping\nunhide\nhide\n");
    sendAll(fd, "act");
    std::this_thread::sleep_for(50ms);  // the server sees "act" alone first
    sendAll(fd, "ivate\nreo");
    std::this_thread::sleep_for(50ms);
    sendAll(fd, "pen\nqu");  // the unfinished "qu" at the close is dropped
    shutdown(fd, SHUT_WR);
    replies = readLines(fd, 6, &closed);
    close(fd);
  });
  const std::string ok = "ok pid=" + std::to_string(kSelf);
  EXPECT_EQ(replies,
            (std::vector<std::string>{ok + " n=1 ping", ok + " n=2 unhide", ok + " n=3 hide",
                                      ok + " n=4 activate", ok + " n=5 reopen"}));
  EXPECT_TRUE(closed);
  EXPECT_EQ(requests, (std::vector<std::string>{"ping", "unhide", "hide", "activate", "reopen"}));
}

// Catches lines lost or reordered while reading pauses for unsent replies, or
// a peer that never reads making the server buffer without bound.
TEST_F(InstanceEndpointTest, ManyLinesWithoutReadingAreAllAnsweredInOrder) {
  start();
  constexpr size_t kLines = 20000;  // about 600 KB of replies: far past the pause
  std::vector<std::string> replies;
  whileServing([&] {
    const int fd = connectRaw(expectedPath);
    std::thread writer([fd] {
      std::string many;
      for (size_t i = 0; i < kLines; ++i) many += "state\n";
      sendAll(fd, many);
    });
    std::this_thread::sleep_for(200ms);  // the server fills up and pauses first
    replies = readLines(fd, kLines);
    writer.join();
    close(fd);
  });
  ASSERT_EQ(replies.size(), kLines);
  for (size_t i = 0; i < kLines; i += 997) {
    EXPECT_EQ(replies[i],
              "ok pid=" + std::to_string(kSelf) + " n=" + std::to_string(i + 1) + " state");
  }
}

// Catches an over-long line being buffered, handed on, cut into pieces that
// are answered, or left without an answer; and an off-by-one at the limit.
TEST_F(InstanceEndpointTest, OverlongLineIsRefusedAndCloses) {
  start();
  const std::string refusal = "error the request is longer than 256 bytes";
  struct Case {
    const char* name;
    std::string sent;
    std::vector<std::string> expected;
    bool closes;
  };
  const std::string ok = "ok pid=" + std::to_string(kSelf) + " n=1 ping";
  const Case cases[] = {
      {"limit exactly",
       std::string(kMaxInstanceLine, 'x') + "\nping\n",
       {"error unknown request", ok},
       false},
      {"one past, with its newline",
       "ping\n" + std::string(kMaxInstanceLine + 1, 'x') + "\nping\n",
       {ok, refusal},
       true},
      {"no newline at all", std::string(4 * kMaxInstanceLine, 'x'), {refusal}, true},
  };
  for (const Case& c : cases) {
    requests.clear();
    std::vector<std::string> replies;
    bool closed = false;
    whileServing([&] {
      const int fd = connectRaw(expectedPath);
      sendAll(fd, c.sent);
      replies = readLines(fd, c.expected.size(), &closed);
      if (!closed) closed = closesWithoutMore(fd, c.closes ? 5000ms : 200ms);
      close(fd);
    });
    EXPECT_EQ(replies, c.expected) << c.name;
    EXPECT_EQ(closed, c.closes) << c.name;
    EXPECT_LE(requests.size(), 1u) << c.name;  // only the ping ever reaches the handler
  }
}

// Catches unknown requests reaching the handler, or the connection being
// dropped after one: every line gets its answer and the peer may go on.
TEST_F(InstanceEndpointTest, UnknownRequestsAreRefusedWithoutTheHandler) {
  start();
  std::vector<std::string> replies;
  whileServing([&] {
    const int fd = connectRaw(expectedPath);
    sendAll(fd, "PING\n\nping \nreopen\r\nopen\nping\n");
    replies = readLines(fd, 6);
    close(fd);
  });
  const std::string unknown = "error unknown request";
  EXPECT_EQ(replies, (std::vector<std::string>{unknown, unknown, unknown, unknown, unknown,
                                               "ok pid=" + std::to_string(kSelf) + " n=1 ping"}));
  EXPECT_EQ(requests, std::vector<std::string>{"ping"});
}

// Catches a handler's broken answer (a second line, garbage) going out as is
// and breaking the peer's framing.
TEST_F(InstanceEndpointTest, BrokenAnswerOfTheHandlerIsReplacedAndLogged) {
  auto failure = server.start(inputs, [](std::string_view request) -> std::string {
    return request == "ping" ? "ok pid=1\nok pid=2" : "fine";
  });
  ASSERT_FALSE(failure.has_value()) << failure->message;
  std::vector<std::string> replies;
  whileServing([&] {
    const int fd = connectRaw(expectedPath);
    sendAll(fd, "ping\nstate\n");
    replies = readLines(fd, 3, nullptr, 300ms);
    close(fd);
  });
  const std::string replaced = "error the application gave no valid answer";
  EXPECT_EQ(replies, (std::vector<std::string>{replaced, replaced}));
  ASSERT_EQ(logger.lines().size(), 2u);
  EXPECT_EQ(logger.lines()[0],
            "instance endpoint: the answer to \"ping\" is not a reply line; sent an error instead");
}

// Catches a use after free when the handler stops the server (as a "quit"
// may), and a socket file left behind by it.
TEST_F(InstanceEndpointTest, HandlerMayStopTheServer) {
  auto failure = server.start(inputs, [this](std::string_view request) {
    if (request == "quit") server.stop();
    return okInstanceReply(kSelf);
  });
  ASSERT_FALSE(failure.has_value()) << failure->message;
  bool closed = false;
  std::vector<std::string> replies;
  whileServing([&] {
    const int fd = connectRaw(expectedPath);
    sendAll(fd, "ping\nquit\nping\n");
    replies = readLines(fd, 3, &closed);
    close(fd);
  });
  EXPECT_EQ(replies, std::vector<std::string>{"ok pid=" + std::to_string(kSelf)});
  EXPECT_TRUE(closed);
  EXPECT_TRUE(server.path().empty());
  EXPECT_NE(access(expectedPath.c_str(), F_OK), 0);
}

// Catches a peer of another user being served, or read from before it is
// closed (a root peer could always reach the file; here the folder is opened
// up so that an unprivileged one can).
TEST_F(InstanceEndpointTest, PeerOfAnotherUserIsClosedUnread) {
  if (!testing::canSwitchUser()) GTEST_SKIP() << "needs root to connect as another user";
  start();
  ASSERT_EQ(chmod(runtime.path().c_str(), 0711), 0);
  ASSERT_EQ(chmod(runtime.file("korvane").c_str(), 0711), 0);
  ASSERT_EQ(chmod(expectedPath.c_str(), 0666), 0);
  int status = -1;
  whileServing([&] {
    status = testing::runInChild(
        [path = expectedPath] {
          // Exit 0 when the host closed without answering.
          const int fd = connectRaw(path);
          if (fd < 0) return 11;
          sendAll(fd, "ping\n");  // may fail already: the host can close first
          pollfd entry{fd, POLLIN, 0};
          if (poll(&entry, 1, 5000) != 1) return 13;
          char byte;
          const ssize_t n = recv(fd, &byte, 1, 0);
          return n == 0 || (n < 0 && errno == ECONNRESET) ? 0 : 14;
        },
        testing::kNobody);
  });
  EXPECT_EQ(status, 0);
  EXPECT_TRUE(requests.empty());
  EXPECT_EQ(logger.lines(),
            std::vector<std::string>{
                "instance endpoint connection refused: peer uid 65534 is not this host's uid " +
                std::to_string(getuid())});
}

// Catches a stale file blocking the start, a live endpoint being taken over,
// and a file that is not a socket being replaced.
TEST_F(InstanceEndpointTest, StaleFileIsReplacedButLiveOnesAndOtherFilesAreNot) {
  ASSERT_EQ(mkdir(runtime.file("korvane").c_str(), 0700), 0);
  bindAt(expectedPath, false);
  start();
  server.stop();

  const int live = bindAt(expectedPath, true);
  struct stat before {};
  ASSERT_EQ(lstat(expectedPath.c_str(), &before), 0);
  auto failure = server.start(inputs, [](std::string_view) { return okInstanceReply(1); });
  ASSERT_TRUE(failure.has_value());
  EXPECT_EQ(failure->error, std::errc::address_in_use);
  EXPECT_NE(failure->message.find("instance endpoint " + expectedPath), std::string::npos)
      << failure->message;
  struct stat after {};
  ASSERT_EQ(lstat(expectedPath.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_TRUE(server.path().empty());
  close(live);

  ASSERT_EQ(unlink(expectedPath.c_str()), 0);
  ASSERT_EQ(mkdir(expectedPath.c_str(), 0700), 0);
  failure = server.start(inputs, [](std::string_view) { return okInstanceReply(1); });
  ASSERT_TRUE(failure.has_value());
  EXPECT_EQ(failure->error, std::errc::file_exists);
}

// Catches a socket others could use, open connections outliving stop(), and
// a socket file left behind.
TEST_F(InstanceEndpointTest, SocketIsPrivateAndGoesOnStop) {
  const mode_t old = umask(0);
  start();
  umask(old);
  struct stat info {};
  ASSERT_EQ(lstat(expectedPath.c_str(), &info), 0);
  EXPECT_TRUE(S_ISSOCK(info.st_mode));
  EXPECT_EQ(info.st_mode & 07777, 0600u);
  ASSERT_EQ(lstat(runtime.file("korvane").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0700u);

  const int fd = connectRaw(expectedPath);
  ASSERT_GE(fd, 0);
  runMainLoopFor(50ms);  // accepted
  server.stop();
  EXPECT_TRUE(server.path().empty());
  EXPECT_NE(access(expectedPath.c_str(), F_OK), 0);
  EXPECT_TRUE(closesWithoutMore(fd));
  close(fd);
  server.stop();  // a second stop is harmless
}

// Catches the unsafe folder being used by the server or trusted by a client.
TEST_F(InstanceEndpointTest, FolderOthersCanUseIsRefusedOnBothSides) {
  start();
  ASSERT_EQ(chmod(runtime.file("korvane").c_str(), 0755), 0);
  std::string error;
  std::error_code code;
  EXPECT_FALSE(InstanceEndpointClient::connect(inputs, kSelf, 1s, &error, &code).has_value());
  EXPECT_EQ(code, std::errc::operation_not_permitted) << error;
  EXPECT_NE(error.find("0755"), std::string::npos) << error;
  server.stop();
  const auto failure = server.start(inputs, [](std::string_view) { return okInstanceReply(1); });
  ASSERT_TRUE(failure.has_value());
  EXPECT_EQ(failure->error, std::errc::operation_not_permitted);
}

// Catches a client that talks to whatever listens at the name: a listener of
// another process must be refused before anything is sent.
TEST_F(InstanceEndpointTest, ClientRefusesAListenerThatIsNotThePid) {
  ASSERT_EQ(mkdir(runtime.file("korvane").c_str(), 0700), 0);
  const int32_t other = kSelf + 1;  // this process listens in its name
  const int listener = bindAt(runtime.file("korvane/" + instanceEndpointFileName(other)), true);
  std::string error;
  std::error_code code;
  EXPECT_FALSE(InstanceEndpointClient::connect(inputs, other, 1s, &error, &code).has_value());
  EXPECT_EQ(code, std::errc::permission_denied);
  EXPECT_NE(error.find("served by pid " + std::to_string(kSelf)), std::string::npos) << error;
  close(listener);
}

// Catches a client that waits forever on an endpoint that never answers, or
// one that reports it as something other than a time-out.
TEST_F(InstanceEndpointTest, ClientGivesUpOnAListenerThatNeverAnswers) {
  ASSERT_EQ(mkdir(runtime.file("korvane").c_str(), 0700), 0);
  const int listener = bindAt(expectedPath, true);  // never accepts
  auto client = InstanceEndpointClient::connect(inputs, kSelf, 1s);
  ASSERT_TRUE(client.has_value());
  std::string error;
  std::error_code code;
  const auto started = std::chrono::steady_clock::now();
  EXPECT_FALSE(client->send("ping", 200ms, &error, &code).has_value());
  const auto took = std::chrono::steady_clock::now() - started;
  EXPECT_EQ(code, std::errc::timed_out) << error;
  EXPECT_GE(took, 190ms);
  EXPECT_LT(took, 2s);
  EXPECT_FALSE(client->send("ping", 200ms, &error, &code).has_value());
  EXPECT_EQ(code, std::errc::not_connected);  // unusable after a failure
  close(listener);
}

// Catches a missing endpoint reported as anything but "none there", a stale
// file as a live one, and a request that would break the framing being sent.
TEST_F(InstanceEndpointTest, ClientTellsMissingStaleAndUnsendable) {
  std::error_code code;
  std::string error;
  EXPECT_FALSE(InstanceEndpointClient::connect(inputs, kSelf, 1s, &error, &code).has_value());
  EXPECT_EQ(code, std::errc::no_such_file_or_directory) << error;
  EXPECT_FALSE(instanceEndpointExists(inputs, kSelf));

  ASSERT_EQ(mkdir(runtime.file("korvane").c_str(), 0700), 0);
  bindAt(expectedPath, false);
  EXPECT_TRUE(instanceEndpointExists(inputs, kSelf));  // only the file is looked at
  EXPECT_FALSE(InstanceEndpointClient::connect(inputs, kSelf, 1s, &error, &code).has_value());
  EXPECT_EQ(code, std::errc::connection_refused) << error;
  ASSERT_EQ(unlink(expectedPath.c_str()), 0);

  start();
  std::optional<InstanceReply> after;
  std::error_code newline, tooLong;
  whileServing([&] {
    auto client = InstanceEndpointClient::connect(inputs, kSelf, 1s);
    if (!client) return;
    client->send("ping\nping", 1s, nullptr, &newline);
    client->send(std::string(kMaxInstanceLine + 1, 'p'), 1s, nullptr, &tooLong);
    after = client->send("ping", 1s);  // still usable: nothing was sent
  });
  EXPECT_EQ(newline, std::errc::invalid_argument);
  EXPECT_EQ(tooLong, std::errc::invalid_argument);
  ASSERT_TRUE(after.has_value());
  EXPECT_EQ(after->fields, "n=1 ping");
}

}  // namespace
}  // namespace korvane

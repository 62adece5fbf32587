#include "platform/linux/engine/interface_engine.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <optional>
#include <thread>

#include "platform/embedding/method_channel.h"
#include "platform/embedding/standard_method_codec.h"
#include "platform/main_loop.h"
#include "testing/capturing_logger.h"
#include "testing/interface_test_client.h"
#include "testing/temp_dir.h"
#include "testing/unix_socket.h"

namespace korvane {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;
using korvane::runMainLoopFor;
using korvane::runMainLoopUntil;
using korvane::testing::CapturingLogger;
using korvane::testing::InterfaceTestClient;
using korvane::testing::TempDir;

// A Unix socket bound at `path`; listening or (after close) stale.
int bindSocket(const std::string& path, bool listening) {
  const int fd = testing::bindUnixSocket(path, listening);
  EXPECT_GE(fd, 0) << path;
  return fd;
}

struct stat statOf(const std::string& path) {
  struct stat info {};
  EXPECT_EQ(lstat(path.c_str(), &info), 0) << path;
  return info;
}

class FlutterEngineTest : public ::testing::Test {
 protected:
  void startAt(const std::string& where) {
    auto failure = engine.start(where);
    ASSERT_FALSE(failure.has_value()) << failure->message;
  }
  // "echo" replies at once with the message reversed.
  void installEcho() {
    engine.binaryMessenger().setMessageHandler("echo", [](Bytes message, BinaryReply reply) {
      reply(Bytes(message.rbegin(), message.rend()));
    });
  }

  TempDir dir;
  std::string path = dir.file("interface.sock");
  CapturingLogger logger;
  InterfaceEngine engine{logger};
};

// Catches replies sent with the wrong id, lost when they overtake each other,
// or missing for a channel without a handler.
TEST_F(FlutterEngineTest, EveryMessageGetsOneReplyWithItsId) {
  startAt(path);
  installEcho();
  std::optional<BinaryReply> held;
  engine.binaryMessenger().setMessageHandler(
      "later", [&](Bytes, BinaryReply reply) { held = std::move(reply); });
  InterfaceTestClient client(path);
  ASSERT_TRUE(client.connected());
  ASSERT_TRUE(client.sendMessage(10, "later", {}));
  ASSERT_TRUE(client.sendMessage(11, "echo", {1, 2, 3}));
  ASSERT_TRUE(client.sendMessage(12, "nobody", {9}));
  auto replies = client.awaitReplies(2);
  ASSERT_EQ(replies.size(), 2u);
  EXPECT_EQ(replies[0], (InterfaceFrame{FrameKind::reply, 11, "", {3, 2, 1}}));
  EXPECT_EQ(replies[1], (InterfaceFrame{FrameKind::reply, 12, "", {}}));
  ASSERT_TRUE(held.has_value());
  (*held)({7});
  replies = client.awaitReplies(3);
  ASSERT_EQ(replies.size(), 3u);
  EXPECT_EQ(replies[2], (InterfaceFrame{FrameKind::reply, 10, "", {7}}));
  runMainLoopFor(20ms);
  EXPECT_EQ(client.replies().size(), 3u);  // no second reply for any id
  EXPECT_TRUE(logger.lines().empty());
}

// Catches a raw handler that drops its reply leaving the peer waiting forever.
TEST_F(FlutterEngineTest, DroppedReplyIsAnsweredEmpty) {
  startAt(path);
  engine.binaryMessenger().setMessageHandler("drop", [](Bytes, BinaryReply) {});
  InterfaceTestClient client(path);
  ASSERT_TRUE(client.sendMessage(5, "drop", {1}));
  const auto& replies = client.awaitReplies(1);
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0], (InterfaceFrame{FrameKind::reply, 5, "", {}}));
}

// Catches a reply made on the worker being written from the worker thread
// (a data race under TSan) or never written at all.
TEST_F(FlutterEngineTest, ReplyMadeOnAnotherThreadIsSentFromTheMainThread) {
  startAt(path);
  std::vector<std::thread> workers;
  engine.binaryMessenger().setMessageHandler("work", [&](Bytes message, BinaryReply reply) {
    workers.emplace_back(
        [message = std::move(message), reply = std::move(reply)] { reply(message); });
  });
  InterfaceTestClient client(path);
  for (uint32_t id = 1; id <= 20; ++id) {
    ASSERT_TRUE(client.sendMessage(id, "work", {static_cast<uint8_t>(id)}));
  }
  const auto& replies = client.awaitReplies(20);
  for (auto& worker : workers) worker.join();
  ASSERT_EQ(replies.size(), 20u);
  for (const InterfaceFrame& reply : replies) {
    EXPECT_EQ(reply.payload, Bytes{static_cast<uint8_t>(reply.id)});
  }
}

// Catches a broken frame that takes down the host or other connections, is
// not logged, or is logged more than once.
TEST_F(FlutterEngineTest, BrokenFrameClosesOnlyItsOwnConnection) {
  startAt(path);
  installEcho();
  InterfaceTestClient good(path);
  InterfaceTestClient bad(path);
  ASSERT_TRUE(good.sendMessage(1, "echo", {1}));
  ASSERT_EQ(good.awaitReplies(1).size(), 1u);
  ASSERT_TRUE(bad.sendBytes({3, 0, 0, 0, 1, 0, 0}));
  EXPECT_TRUE(bad.awaitClosedByHost());
  EXPECT_TRUE(bad.replies().empty());
  ASSERT_TRUE(good.sendMessage(2, "echo", {2}));
  ASSERT_EQ(good.awaitReplies(2).size(), 2u);
  EXPECT_EQ(good.replies()[1].id, 2u);
  EXPECT_EQ(logger.lines(), std::vector<std::string>{
                                "interface connection closed: frame length 3 is out of range"});
  EXPECT_EQ(engine.connectionCount(), 1u);
}

// Catches a crash, a stuck connection or a log line when the peer leaves
// before the reply it asked for is made.
TEST_F(FlutterEngineTest, PeerLeavingWithRepliesPendingDoesNotDisturbTheHost) {
  startAt(path);
  installEcho();
  std::vector<BinaryReply> held;
  engine.binaryMessenger().setMessageHandler(
      "later", [&](Bytes, BinaryReply reply) { held.push_back(std::move(reply)); });
  {
    InterfaceTestClient leaving(path);
    ASSERT_TRUE(leaving.sendMessage(1, "later", {}));
    ASSERT_TRUE(leaving.sendMessage(2, "later", {}));
    ASSERT_TRUE(runMainLoopUntil([&] { return held.size() == 2; }));
  }
  runMainLoopFor(30ms);
  held[0](Bytes(300000, 1));  // larger than the socket buffer
  held[1]({});
  ASSERT_TRUE(runMainLoopUntil([&] { return engine.connectionCount() == 0; }));
  InterfaceTestClient next(path);
  ASSERT_TRUE(next.sendMessage(3, "echo", {4, 5}));
  ASSERT_EQ(next.awaitReplies(1).size(), 1u);
  EXPECT_EQ(next.replies()[0].payload, (Bytes{5, 4}));
  EXPECT_TRUE(logger.lines().empty());
}

// Catches results answered (or dropped) after their peer left crashing the
// host, logging, or reaching another connection that used the same id.
TEST_F(FlutterEngineTest, MethodResultsOfAPeerThatLeftGoNowhere) {
  startAt(path);
  const StandardMethodCodec& codec = StandardMethodCodec::instance();
  std::vector<FlutterResult> held;
  FlutterMethodChannel::methodChannelWithName("macos_install_location", engine.binaryMessenger())
      .setMethodCallHandler(
          [&](const FlutterMethodCall&, FlutterResult result) { held.push_back(result); });
  const Bytes call = codec.encodeMethodCall({"probe", EncodableValue()});
  {
    InterfaceTestClient leaving(path);
    ASSERT_TRUE(leaving.sendMessage(1, "macos_install_location", call));
    ASSERT_TRUE(leaving.sendMessage(2, "macos_install_location", call));
    ASSERT_TRUE(runMainLoopUntil([&] { return held.size() == 2; }));
  }
  InterfaceTestClient staying(path);
  ASSERT_TRUE(staying.sendMessage(1, "macos_install_location", call));
  ASSERT_TRUE(runMainLoopUntil([&] { return held.size() == 3; }));
  runMainLoopFor(30ms);

  held[0](EncodableValue(true));
  held.erase(held.begin(), held.begin() + 2);  // the second goes unreplied: not implemented
  held[0](EncodableValue("mine"));
  const auto& replies = staying.awaitReplies(1);
  runMainLoopFor(30ms);
  ASSERT_EQ(staying.replies().size(), 1u);
  EXPECT_EQ(replies[0].id, 1u);
  EXPECT_EQ(replies[0].payload, codec.encodeSuccessEnvelope("mine"));
  EXPECT_TRUE(runMainLoopUntil([&] { return engine.connectionCount() == 1; }));
  EXPECT_TRUE(logger.lines().empty());
}

// Catches a host that closes when the peer only shut down its sending side,
// so the replies it still waits for would be lost.
TEST_F(FlutterEngineTest, RepliesStillReachAPeerThatFinishedSending) {
  startAt(path);
  std::optional<BinaryReply> held;
  engine.binaryMessenger().setMessageHandler(
      "later", [&](Bytes, BinaryReply reply) { held = std::move(reply); });
  InterfaceTestClient client(path);
  ASSERT_TRUE(client.sendMessage(8, "later", {}));
  ASSERT_TRUE(runMainLoopUntil([&] { return held.has_value(); }));
  client.shutdownSending();
  runMainLoopFor(30ms);
  (*held)({6});
  ASSERT_EQ(client.awaitReplies(1).size(), 1u);
  EXPECT_EQ(client.replies()[0], (InterfaceFrame{FrameKind::reply, 8, "", {6}}));
  EXPECT_TRUE(client.awaitClosedByHost());
}

// Catches a host that keeps reading calls while it cannot keep up with them,
// and one that never resumes.
TEST_F(FlutterEngineTest, StopsReadingWhileTooManyCallsAreInFlight) {
  InterfaceEngine limited(logger, InterfaceConnectionLimits{.maxCallsInFlight = 2});
  ASSERT_FALSE(limited.start(path).has_value());
  std::vector<BinaryReply> held;
  limited.binaryMessenger().setMessageHandler(
      "later", [&](Bytes, BinaryReply reply) { held.push_back(std::move(reply)); });
  InterfaceTestClient client(path);
  ASSERT_TRUE(client.sendMessage(1, "later", {}));
  ASSERT_TRUE(client.sendMessage(2, "later", {}));
  ASSERT_TRUE(runMainLoopUntil([&] { return held.size() == 2; }));
  ASSERT_TRUE(client.sendMessage(3, "later", {}));
  runMainLoopFor(50ms);
  EXPECT_EQ(held.size(), 2u);  // paused
  held[0]({});
  held[1]({});
  ASSERT_TRUE(runMainLoopUntil([&] { return held.size() == 3; }));  // resumed
  held[2]({});
  EXPECT_EQ(client.awaitReplies(3).size(), 3u);
}

// Catches unbounded buffering of replies to a peer that does not read them,
// replies sent out of order, and a host that does not resume once they drain.
TEST_F(FlutterEngineTest, StopsReadingWhileUnsentRepliesExceedTheBound) {
  InterfaceEngine limited(logger, InterfaceConnectionLimits{.maxQueuedBytes = 2 * 1024 * 1024});
  ASSERT_FALSE(limited.start(path).has_value());
  int calls = 0;
  limited.binaryMessenger().setMessageHandler("big", [&](Bytes message, BinaryReply reply) {
    ++calls;
    Bytes payload(1024 * 1024, message.empty() ? 0 : message[0]);
    reply(std::move(payload));
  });
  InterfaceTestClient client(path);
  Bytes batch;
  for (uint8_t id = 1; id <= 6; ++id) {
    auto frame = *encodeMessageFrame(id, "big", Bytes{id});
    batch.insert(batch.end(), frame.begin(), frame.end());
  }
  ASSERT_TRUE(client.sendBytes(batch));
  ASSERT_TRUE(runMainLoopUntil([&] { return calls == 6; }));
  ASSERT_TRUE(client.sendMessage(7, "big", {7}));
  runMainLoopFor(50ms);
  EXPECT_EQ(calls, 6);  // about 6 MiB unsent: paused
  const auto& replies = client.awaitReplies(7);
  ASSERT_EQ(replies.size(), 7u);
  EXPECT_EQ(calls, 7);
  for (uint32_t i = 0; i < 7; ++i) {
    EXPECT_EQ(replies[i].id, i + 1);
    EXPECT_EQ(replies[i].payload.size(), 1024u * 1024);
    EXPECT_EQ(replies[i].payload.back(), i + 1);
  }
}

// Catches a reply too large for a frame being sent anyway (breaking the peer's
// framing) or not at all.
TEST_F(FlutterEngineTest, OversizedReplyIsSentWithoutData) {
  startAt(path);
  engine.binaryMessenger().setMessageHandler(
      "huge", [](Bytes, BinaryReply reply) { reply(Bytes(kMaxReplyPayload + 1)); });
  InterfaceTestClient client(path);
  ASSERT_TRUE(client.sendMessage(4, "huge", {}));
  ASSERT_EQ(client.awaitReplies(1).size(), 1u);
  EXPECT_EQ(client.replies()[0], (InterfaceFrame{FrameKind::reply, 4, "", {}}));
  ASSERT_EQ(logger.lines().size(), 1u);
  EXPECT_NE(logger.lines()[0].find("more than a frame holds"), std::string::npos);
}

// Catches a peer of another user being served, or read from before it is closed.
TEST_F(FlutterEngineTest, PeerOfAnotherUserIsClosedUnread) {
  if (getuid() != 0) GTEST_SKIP() << "needs root to connect as another user";
  startAt(path);
  int calls = 0;
  engine.binaryMessenger().setMessageHandler("echo", [&](Bytes, BinaryReply reply) {
    ++calls;
    reply({});
  });
  ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
  ASSERT_EQ(chmod(path.c_str(), 0666), 0);
  const auto frame = *encodeMessageFrame(1, "echo", {});
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // Only system calls from here on: exit 0 when the host closed without replying.
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(10);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.data(), path.size());
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) _exit(11);
    timeval timeout{10, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    send(fd, frame.data(), frame.size(), MSG_NOSIGNAL);
    uint8_t byte;
    const ssize_t n = recv(fd, &byte, 1, 0);
    _exit(n == 0 || (n < 0 && errno == ECONNRESET) ? 0 : 12);
  }
  int status = -1;
  ASSERT_TRUE(runMainLoopUntil([&] { return waitpid(child, &status, WNOHANG) == child; }));
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(calls, 0);
  EXPECT_EQ(engine.connectionCount(), 0u);
  ASSERT_EQ(logger.lines().size(), 1u);
  EXPECT_NE(logger.lines()[0].find("peer uid 65534"), std::string::npos) << logger.lines()[0];
}

// Catches a socket file others could connect to, or one left behind on stop.
TEST_F(FlutterEngineTest, SocketIsPrivateAndRemovedOnStop) {
  const mode_t old = umask(0);
  startAt(path);
  umask(old);
  const struct stat info = statOf(path);
  EXPECT_TRUE(S_ISSOCK(info.st_mode));
  EXPECT_EQ(info.st_mode & 07777, 0600u);
  EXPECT_EQ(engine.interfaceSocketPath(), path);
  InterfaceTestClient client(path);
  ASSERT_TRUE(runMainLoopUntil([&] { return engine.connectionCount() == 1; }));
  engine.stop();
  EXPECT_NE(access(path.c_str(), F_OK), 0);
  EXPECT_TRUE(engine.interfaceSocketPath().empty());
  EXPECT_TRUE(client.awaitClosedByHost());
}

// Catches stop() removing a file that is no longer the engine's own socket.
TEST_F(FlutterEngineTest, StopLeavesAReplacedFileAlone) {
  startAt(path);
  ASSERT_EQ(rename(path.c_str(), dir.file("moved.sock").c_str()), 0);
  std::ofstream(path) << "someone else's";
  engine.stop();
  EXPECT_EQ(access(path.c_str(), F_OK), 0);
}

// Catches a stale socket file blocking the start.
TEST_F(FlutterEngineTest, StaleSocketFileIsReplaced) {
  close(bindSocket(path, false));
  startAt(path);
  installEcho();
  InterfaceTestClient client(path);
  ASSERT_TRUE(client.sendMessage(1, "echo", {1}));
  EXPECT_EQ(client.awaitReplies(1).size(), 1u);
}

// Catches a host that steals the socket of a running host, or clobbers a
// file that is not a socket.
TEST_F(FlutterEngineTest, LiveSocketAndOtherFilesAreNotTaken) {
  const int live = bindSocket(path, true);
  const ino_t liveInode = statOf(path).st_ino;
  auto failure = engine.start(path);
  ASSERT_TRUE(failure.has_value());
  EXPECT_EQ(failure->error, std::errc::address_in_use);
  EXPECT_NE(failure->message.find(path), std::string::npos) << failure->message;
  EXPECT_EQ(statOf(path).st_ino, liveInode);
  EXPECT_TRUE(engine.interfaceSocketPath().empty());
  close(live);

  const std::string plain = dir.file("plain");
  std::ofstream(plain) << "keep me";
  failure = engine.start(plain);
  ASSERT_TRUE(failure.has_value());
  EXPECT_EQ(failure->error, std::errc::file_exists);
  EXPECT_TRUE(S_ISREG(statOf(plain).st_mode));
}

// Catches the default location not being served, or an unsafe folder being used.
TEST_F(FlutterEngineTest, ListensAtTheDefaultLocationAndRefusesAnUnsafeFolder) {
  InterfaceAddressInputs inputs;
  inputs.runtimeDir = dir.path();
  inputs.uid = getuid();
  inputs.pid = 77;
  ASSERT_FALSE(engine.start(inputs).has_value());
  EXPECT_EQ(engine.interfaceSocketPath(), dir.file("korvane/interface-77.sock"));
  EXPECT_TRUE(S_ISSOCK(statOf(dir.file("korvane/interface-77.sock")).st_mode));
  engine.stop();

  ASSERT_EQ(chmod(dir.file("korvane").c_str(), 0770), 0);
  const auto failure = engine.start(inputs);
  ASSERT_TRUE(failure.has_value());
  EXPECT_EQ(failure->error, std::errc::operation_not_permitted);
  EXPECT_NE(access(dir.file("korvane/interface-77.sock").c_str(), F_OK), 0);
}

// Catches a too-long path being truncated silently into a different socket.
TEST_F(FlutterEngineTest, OverlongPathIsRefused) {
  const auto failure = engine.start(dir.file(std::string(120, 'x')));
  ASSERT_TRUE(failure.has_value());
  EXPECT_EQ(failure->error, std::errc::filename_too_long);
}

}  // namespace
}  // namespace korvane

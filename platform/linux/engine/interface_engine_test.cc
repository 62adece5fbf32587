// The engine over real sockets: calls from the interface and their replies,
// host messages and their answers, the frames they travel in, and the
// engine's socket file and where it lives. The listener's own rules (file
// mode, stale and live files, peers of another user) are shared with the
// instance endpoint and tested there.
#include "platform/linux/engine/interface_engine.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <optional>
#include <thread>
#include <tuple>

#include "platform/linux/engine/interface_frame.h"
#include "platform/main_loop.h"
#include "platform/main_thread.h"
#include "testing/fakes/capturing_diagnostic_log.h"
#include "testing/interface_test_client.h"
#include "testing/temp_dir.h"

namespace korvane {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;
using Client = testing::InterfaceTestClient;
using Frames = std::vector<InterfaceFrame>;

class FlutterEngineTest : public ::testing::Test {
 protected:
  void SetUp() override { start({}); }
  // (Re)starts the engine at `path`: "echo" replies with the message at once,
  // "later" keeps its reply in `held`.
  void start(InterfaceConnectionLimits limits) {
    held.clear();
    engine.emplace(logger, limits);
    ASSERT_FALSE(engine->start(path).has_value());
    messenger().setMessageHandler("echo", [](Bytes message, BinaryReply reply) { reply(message); });
    messenger().setMessageHandler(
        "later", [this](Bytes, BinaryReply reply) { held.push_back(std::move(reply)); });
  }
  BinaryMessenger& messenger() { return engine->binaryMessenger(); }
  // Sends `message` on `channel`; the replies land in the list returned.
  std::shared_ptr<std::vector<Bytes>> send(const std::string& channel, Bytes message) {
    auto replies = std::make_shared<std::vector<Bytes>>();
    messenger().send(channel, std::move(message), [replies](Bytes reply) {
      EXPECT_TRUE(isMainThread());
      replies->push_back(std::move(reply));
    });
    return replies;
  }
  bool awaitConnections(size_t count) {
    return runMainLoopUntil([&] { return engine->connectionCount() == count; });
  }
  // A round trip on `client`, to show its connection is still served.
  static bool echoes(Client& client, uint32_t id) {
    const size_t before = client.replies().size();
    return client.sendMessage(id, "echo", {}) && client.awaitReplies(before + 1).size() > before;
  }

  testing::TempDir dir;
  std::string path = dir.file("interface.sock");
  testing::CapturingDiagnosticLog logger;
  std::optional<InterfaceEngine> engine;
  std::vector<BinaryReply> held;
};

// Catches replies sent with the wrong id or payload, lost when they overtake
// each other, sent twice, or missing for a channel without a handler, for a
// handler that drops its reply, or for a reply too large for a frame (which
// must go out empty and be logged, not break the peer's framing); and a reply
// made on another thread written from that thread (a data race under TSan).
TEST_F(FlutterEngineTest, EveryCallGetsOneReplyWithItsId) {
  std::vector<std::thread> workers;
  messenger().setMessageHandler("work", [&](Bytes message, BinaryReply reply) {
    workers.emplace_back([message, reply = std::move(reply)] { reply(message); });
  });
  messenger().setMessageHandler("drop", [](Bytes, BinaryReply) {});
  messenger().setMessageHandler(
      "huge", [](Bytes, BinaryReply reply) { reply(Bytes(kMaxReplyPayload + 1)); });
  Client client(path);
  uint32_t id = 10;
  for (const char* channel : {"later", "echo", "nobody", "drop", "huge", "work", "work", "work"}) {
    ASSERT_TRUE(client.sendMessage(id++, channel, {1, 2}));
  }
  ASSERT_EQ(client.awaitReplies(7).size(), 7u);
  for (auto& worker : workers) worker.join();
  ASSERT_EQ(held.size(), 1u);
  held[0]({7});
  ASSERT_EQ(client.awaitReplies(8).size(), 8u);
  runMainLoopFor(20ms);
  Frames replies = client.replies();
  EXPECT_EQ(replies.back(), (InterfaceFrame{FrameKind::reply, 10, "", {7}}));
  std::ranges::sort(replies, {}, &InterfaceFrame::id);
  const Bytes payloads[] = {{7}, {1, 2}, {}, {}, {}, {1, 2}, {1, 2}, {1, 2}};
  for (uint32_t i = 0; i < 8; ++i)
    EXPECT_EQ(replies[i], (InterfaceFrame{FrameKind::reply, 10 + i, "", payloads[i]}));
  EXPECT_THAT(logger.lines(),
              ::testing::ElementsAre(::testing::HasSubstr("more than a frame holds")));
}

// Catches a broken frame that takes down the host or other connections, is
// not logged, or is logged twice; and a crash, a log line or a reply reaching
// another connection that uses the same id, when the calls of a peer that left
// are answered later (one reply larger than the socket buffer) or dropped.
TEST_F(FlutterEngineTest, APeerThatBreaksOrLeavesAffectsOnlyItself) {
  {
    Client broken(path), leaving(path);
    for (uint32_t id : {1u, 2u, 3u}) ASSERT_TRUE(leaving.sendMessage(id, "later", {}));
    ASSERT_TRUE(runMainLoopUntil([&] { return held.size() == 3; }));
    ASSERT_TRUE(broken.sendBytes({3, 0, 0, 0, 1, 0, 0}));
    EXPECT_TRUE(broken.awaitClosedByHost());
    EXPECT_TRUE(broken.frames().empty());
  }
  Client staying(path);
  ASSERT_TRUE(staying.sendMessage(1, "later", {}));
  ASSERT_TRUE(runMainLoopUntil([&] { return held.size() == 4; }));
  held[0](Bytes(300000, 1));
  held[1]({});
  held.erase(held.begin(), held.begin() + 3);  // the third is dropped unanswered
  held[0]({9});
  ASSERT_EQ(staying.awaitReplies(1).size(), 1u);
  runMainLoopFor(30ms);
  EXPECT_EQ(staying.replies(), (Frames{{FrameKind::reply, 1, "", {9}}}));
  EXPECT_TRUE(awaitConnections(1));
  EXPECT_EQ(logger.lines(), std::vector<std::string>{
                                "interface connection closed: frame length 3 is out of range"});
}

// Catches a socket file or connection left behind on stop, a file that
// replaced the socket removed on stop, a too-long path truncated into another
// socket (the default location is served end to end).
TEST_F(FlutterEngineTest, SocketGoesOnStopOnlyIfItIsStillTheEngines) {
  Client client(path);
  ASSERT_TRUE(awaitConnections(1));
  engine->stop();
  EXPECT_NE(access(path.c_str(), F_OK), 0);
  EXPECT_TRUE(client.awaitClosedByHost());
  start({});
  ASSERT_EQ(rename(path.c_str(), dir.file("moved").c_str()), 0);
  std::ofstream(path) << "someone else's";
  engine->stop();
  EXPECT_EQ(access(path.c_str(), F_OK), 0);
  EXPECT_EQ(engine->start(dir.file(std::string(120, 'x'))).value_or(EngineStartError{}).error,
            std::errc::filename_too_long);
}

// Catches a host message sent to one connection only, with the wrong kind,
// channel or payload, with ids that repeat, or written past a reply still in
// the write queue (its bytes would land inside the reply and break the
// client's framing); its reply made inside send(), twice, off the main
// thread, from an empty answer over one with data, or never when nobody is
// connected; and an answer to a message not awaited (any more) closing the
// connection, taken, or going unlogged.
TEST_F(FlutterEngineTest, HostMessageReachesEveryConnectedClient) {
  const auto alone = send("ui", {0});
  EXPECT_TRUE(alone->empty());  // not answered inside send()
  messenger().setMessageHandler("big", [&](Bytes, BinaryReply reply) {
    reply(Bytes(1024 * 1024, 0x42));  // more than the socket takes at once
    send("other", {});
  });
  Client first(path), second(path);
  ASSERT_TRUE(awaitConnections(2));
  const auto answer = send("ui", {1, 2, 3});
  ASSERT_TRUE(first.sendMessage(1, "big", {}));
  for (Client* client : {&first, &second}) {
    const Frames& messages = client->awaitHostMessages(2);
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0],
              (InterfaceFrame{FrameKind::hostMessage, messages[0].id, "ui", {1, 2, 3}}));
    EXPECT_EQ(messages[1].channel, "other");
    EXPECT_NE(messages[0].id, messages[1].id);
  }
  ASSERT_EQ(first.frames().size(), 3u);
  EXPECT_EQ(first.frames()[1].payload, Bytes(1024 * 1024, 0x42));
  const uint32_t id = first.hostMessages()[0].id;
  uint32_t echo = 2;
  for (const auto& [client, to, payload] : {std::tuple{&second, id, Bytes{}},
                                            {&first, id + 9, Bytes{6}},
                                            {&first, id, Bytes{7}},
                                            {&second, id, Bytes{8}}}) {
    ASSERT_TRUE(client->sendHostReply(to, payload));
    ASSERT_TRUE(echoes(*client, echo++));
  }
  EXPECT_EQ(*answer, std::vector<Bytes>{{7}});
  EXPECT_EQ(*alone, std::vector<Bytes>{{}});
  auto ignored = [](uint32_t n) {
    return std::string("interface connection: ignored a reply to host message ")
        .append(std::to_string(n))
        .append(", which is not awaited");
  };
  EXPECT_EQ(logger.lines(), (std::vector{ignored(id + 9), ignored(id)}));
}

// Catches a connection whose calls or unsent replies are held without bound
// (reading must pause past maxCallsInFlight and resume once they are
// answered), and host messages queued or awaited without bound for a client
// that never answers them: past maxAwaitedHostReplies each is answered empty
// at once, and the first such is logged once, with its exact text.
TEST_F(FlutterEngineTest, ABusyOrSilentClientIsHeldWithinItsBounds) {
  start({.maxCallsInFlight = 2, .maxAwaitedHostReplies = 2});
  Client client(path);
  for (uint32_t id = 1; id <= 2; ++id) ASSERT_TRUE(client.sendMessage(id, "later", {}));
  ASSERT_TRUE(runMainLoopUntil([&] { return held.size() == 2; }));
  ASSERT_TRUE(client.sendMessage(3, "later", {}));
  runMainLoopFor(50ms);
  EXPECT_EQ(held.size(), 2u) << "the third call is not read while two are in flight";
  for (auto& reply : held) reply({});
  ASSERT_TRUE(runMainLoopUntil([&] { return held.size() == 3; }));
  std::vector<std::shared_ptr<std::vector<Bytes>>> answers;
  for (uint8_t i = 0; i < 4; ++i) answers.push_back(send("ui", {i}));
  ASSERT_EQ(client.awaitHostMessages(2).size(), 2u);
  runMainLoopFor(30ms);
  EXPECT_EQ(client.hostMessages().size(), 2u);
  EXPECT_TRUE(answers[0]->empty());
  EXPECT_EQ(*answers[3], std::vector<Bytes>{{}});
  EXPECT_EQ(logger.lines(),
            std::vector<std::string>{"interface connection: host messages are answered empty for a "
                                     "connection that is not reading or answering them"});
}

// Catches replies buffered without bound for a client that does not read
// them, sent out of order, or a host that does not read again once they drain.
TEST_F(FlutterEngineTest, StopsReadingWhileUnsentRepliesExceedTheBound) {
  start({.maxQueuedBytes = 2 * 1024 * 1024});
  int calls = 0;
  messenger().setMessageHandler("big", [&](Bytes message, BinaryReply reply) {
    ++calls;
    reply(Bytes(1024 * 1024, message[0]));
  });
  Client client(path);
  Bytes batch;
  for (uint8_t id = 1; id <= 6; ++id) {
    const Bytes frame = *encodeMessageFrame(id, "big", Bytes{id});
    batch.insert(batch.end(), frame.begin(), frame.end());
  }
  ASSERT_TRUE(client.sendBytes(batch));
  ASSERT_TRUE(runMainLoopUntil([&] { return calls == 6; }));
  ASSERT_TRUE(client.sendMessage(7, "big", {7}));
  runMainLoopFor(50ms);
  EXPECT_EQ(calls, 6) << "about 6 MiB of replies unsent against a bound of 2 MiB";
  ASSERT_EQ(client.awaitReplies(7).size(), 7u);
  for (uint8_t i = 0; i < 7; ++i) EXPECT_EQ(client.replies()[i].payload.back(), i + 1);
}

// Catches a reader that loses, duplicates or misparses frames when a read ends
// inside a length, a header, a channel name or a payload, on either end; that
// accepts a broken stream, waits for a body it should have refused from its
// header, or words the error differently depending on how the bytes arrived;
// and one that resumes after a break. Also catches a writer that is not
// little-endian, misplaces kind, id or channel, or writes a frame the peer
// would reject as broken.
TEST(InterfaceFrameTest, WritesTheDocumentedBytesAndReadsThemWhereverSplit) {
  EXPECT_EQ(*encodeMessageFrame(0x04030201, "ab", Bytes{0xEE}),
            (Bytes{10, 0, 0, 0, 1, 1, 2, 3, 4, 2, 0, 'a', 'b', 0xEE}));
  EXPECT_EQ(*encodeFrame({FrameKind::hostReply, 0x04030201, "", {7, 8}}),
            (Bytes{7, 0, 0, 0, 4, 1, 2, 3, 4, 7, 8}));
  EXPECT_TRUE(encodeFrame({FrameKind::hostMessage, 1, std::string(65535, 'c'), {}}));
  EXPECT_FALSE(encodeMessageFrame(1, std::string(65536, 'c'), Bytes{}));
  EXPECT_FALSE(encodeReplyFrame(1, Bytes(kMaxReplyPayload + 1)));
  EXPECT_FALSE(encodeFrame({FrameKind::hostMessage, 1, "c", Bytes(kMaxReplyPayload - 2)}));
  const Frames host = {{FrameKind::message, 42, "macos_install", {7, 5}},
                       {FrameKind::hostReply, 2, "", {}},
                       {FrameKind::message, 0xFFFFFFFF, "", {}},
                       {FrameKind::hostReply, 3, "", {4, 5}}};
  const Frames client = {{FrameKind::hostMessage, 9, "ui", {1, 2}},
                         {FrameKind::reply, 1, "", {}},
                         {FrameKind::hostMessage, 10, "", {}},
                         {FrameKind::reply, 7, "", {3}}};
  auto streamOf = [](const Frames& frames, Bytes tail) {  // the frames' bytes, then `tail`
    for (auto frame = frames.rbegin(); frame != frames.rend(); ++frame) {
      const Bytes bytes = *encodeFrame(*frame);
      tail.insert(tail.begin(), bytes.begin(), bytes.end());
    }
    return tail;
  };
  // Who reads, the bytes, the error ("" for none) and the frames read before it.
  const std::tuple<bool, Bytes, std::string, size_t> cases[] = {
      // clang-format off
      {true, streamOf(host, {}), "", 4},
      {false, streamOf(client, {}), "", 4},
      {true, streamOf(host, {2, 0, 0, 0}), "frame length 2 is out of range", 4},
      {true, {1, 0, 0, 1, 1}, "frame length 16777217 is out of range", 0},
      {true, {0xFF, 0xFF, 0xFF, 0xFF}, "frame length 4294967295 is out of range", 0},
      {true, {100, 0, 0, 0, 0}, "unknown frame kind 0", 0},  // the body is not there yet
      {false, {5, 0, 0, 0, 5, 0, 0, 0, 0}, "unknown frame kind 5", 0},
      {true, {5, 0, 0, 0, 3, 1, 0, 0, 0}, "unexpected frame kind 3", 0},
      {false, streamOf(client, {7, 0, 0, 0, 1, 1, 0, 0, 0, 0, 0}), "unexpected frame kind 1", 4},
      {false, {5, 0, 0, 0, 4, 1, 0, 0, 0}, "unexpected frame kind 4", 0},
      {true, {5, 0, 0, 0, 1, 1, 0, 0, 0}, "frame body of 5 bytes has no channel name length", 0},
      {false, {6, 0, 0, 0, 3, 1, 0, 0, 0, 0}, "frame body of 6 bytes has no channel name length", 0},
      {true, {8, 0, 0, 0, 1, 1, 0, 0, 0, 0xFF, 0xFF, 'a'},
       "frame body of 8 bytes is too short for a channel name of 65535 bytes", 0},
      // clang-format on
  };
  for (const auto& [hostReads, bytes, error, before] : cases) {
    const Frames& sent = hostReads ? host : client;
    for (size_t split = 0; split <= bytes.size(); ++split) {
      SCOPED_TRACE(error + " split at " + std::to_string(split));
      FrameReader reader(hostReads ? kHostReadKinds : kClientReadKinds);
      Frames frames;
      const bool first = reader.feed(std::span(bytes).first(split), frames);
      EXPECT_EQ(reader.feed(std::span(bytes).subspan(split), frames) && first, error.empty());
      EXPECT_EQ(reader.error(), error);
      EXPECT_EQ(frames, Frames(sent.begin(), sent.begin() + static_cast<ptrdiff_t>(before)));
      EXPECT_TRUE(!error.empty() || reader.bufferedBytes() == 0);
      EXPECT_EQ(reader.feed(streamOf(host, {}), frames), error.empty() && hostReads);
    }
  }
}

// Catches a wrong order of precedence, a wrong file name, a fallback missed
// (or taken) for each state of XDG_RUNTIME_DIR, a folder made for a path that
// is used as given, and a default folder made with the umask's mode instead of
// 0700 or refused on the next start.
TEST(InterfaceAddressTest, ChoosesThePathInOrderOfPrecedence) {
  const std::string run = "@run/korvane/interface-4242.sock";
  const std::string tmp =
      std::string("@tmp/korvane-").append(std::to_string(getuid())).append("/interface-4242.sock");
  using Path = std::optional<std::string>;  // '@' stands for the test's folder
  const std::tuple<Path, Path, Path, std::string> cases[] = {
      // option, environment, runtime
      {"@open/given.sock", "/elsewhere/env.sock", "@run", "@open/given.sock"},
      {{}, "relative/env.sock", "@run", "relative/env.sock"},
      {{}, "", "@run", run},
      {{}, {}, {}, tmp},
      {{}, {}, "", tmp},
      {{}, {}, "run", tmp},
      {{}, {}, "@absent", tmp},
      {{}, {}, "@plain", tmp},
  };
  for (const auto& [option, environment, runtimeDir, expected] : cases) {
    testing::TempDir dir;
    auto in = [&](const Path& p) { return p && p->starts_with('@') ? dir.file(p->substr(1)) : p; };
    for (const char* folder : {"run", "tmp"}) mkdir(dir.file(folder).c_str(), S_IRWXU);
    std::ofstream(dir.file("plain")) << "a file";
    const InterfaceAddressInputs inputs{in(option),      in(environment), in(runtimeDir),
                                        dir.file("tmp"), getuid(),        4242};
    const mode_t old = umask(0);
    const InterfaceSocketPath result = prepareInterfaceSocketPath(inputs);
    umask(old);
    EXPECT_EQ(result.path, in(expected)) << result.message;
    struct stat folder {};  // made private for a default path only
    const bool made = lstat(result.path.substr(0, result.path.rfind('/')).c_str(), &folder) == 0;
    EXPECT_EQ(made && (folder.st_mode & ~S_IFMT) == S_IRWXU, expected == run || expected == tmp);
    EXPECT_FALSE(prepareInterfaceSocketPath(inputs).error);
  }
}

// Catches a default folder accepted although another user could reach or
// redirect the socket through it, refused without saying why, or an empty
// option taken as a path.
TEST(InterfaceAddressTest, RefusesUnsafeDefaultFolders) {
  const std::tuple<mode_t, uid_t, std::errc, std::string> cases[] = {
      // 0: a link; S_IFREG: a file
      {0, getuid(), std::errc::too_many_symbolic_link_levels, "is a symbolic link"},
      {S_IRWXU | S_IWGRP, getuid(), std::errc::operation_not_permitted, "has mode 0720"},
      {S_IRWXU | S_IROTH, getuid(), std::errc::operation_not_permitted, "has mode 0704"},
      {S_IFREG, getuid(), std::errc::not_a_directory, "is not a folder"},
      {S_IRWXU, 65534, std::errc::operation_not_permitted, "belongs to uid 65534"},
  };
  for (const auto& [mode, owner, error, says] : cases) {
    testing::TempDir dir;
    const std::string folder = dir.file("korvane");
    if (mode == 0) {
      symlink(dir.path().c_str(), folder.c_str());
    } else if (mode == S_IFREG) {
      std::ofstream(folder) << "a file";
    } else if (mkdir(folder.c_str(), mode) || chmod(folder.c_str(), mode) ||
               chown(folder.c_str(), owner, owner)) {
      continue;  // another owner needs root
    }
    const auto result = prepareInterfaceSocketPath({{}, {}, dir.path(), {}, getuid(), 0});
    EXPECT_EQ(std::tie(result.path, result.error), std::tuple("", error)) << says;
    EXPECT_NE(result.message.find(folder + " " + says), std::string::npos) << result.message;
  }
  EXPECT_EQ(prepareInterfaceSocketPath({"", {}, {}, {}, 0, 0}).error, std::errc::invalid_argument);
}

}  // namespace
}  // namespace korvane

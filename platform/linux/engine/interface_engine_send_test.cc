// Messages from the host to the interface (kind 3) and their replies (kind 4),
// over a real engine and real sockets.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/embedding/method_channel.h"
#include "platform/embedding/standard_method_codec.h"
#include "platform/linux/engine/interface_engine.h"
#include "platform/main_loop.h"
#include "platform/main_thread.h"
#include "testing/capturing_logger.h"
#include "testing/interface_test_client.h"
#include "testing/temp_dir.h"

namespace korvane {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;
using korvane::runMainLoopFor;
using korvane::runMainLoopUntil;
using korvane::testing::CapturingLogger;
using korvane::testing::InterfaceTestClient;
using korvane::testing::TempDir;

// What a send()'s reply callback saw.
struct ReplyRecord {
  int calls = 0;
  Bytes payload;
  bool onMainThread = true;
};

std::shared_ptr<ReplyRecord> sendRecorded(BinaryMessenger& messenger, const std::string& channel,
                                          Bytes message) {
  auto record = std::make_shared<ReplyRecord>();
  messenger.send(channel, std::move(message), [record](Bytes reply) {
    ++record->calls;
    record->payload = std::move(reply);
    record->onMainThread = record->onMainThread && isMainThread();
  });
  return record;
}

class FlutterEngineSendTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto failure = engine.start(path);
    ASSERT_FALSE(failure.has_value()) << failure->message;
    engine.binaryMessenger().setMessageHandler(
        "echo", [](Bytes message, BinaryReply reply) { reply(std::move(message)); });
  }
  void awaitConnections(size_t count) {
    ASSERT_TRUE(runMainLoopUntil([&] { return engine.connectionCount() == count; }));
  }
  // A round trip on `client`, to show its connection is still served.
  static bool echoes(InterfaceTestClient& client, uint32_t id) {
    const size_t before = client.replies().size();
    if (!client.sendMessage(id, "echo", {static_cast<uint8_t>(id)})) return false;
    const auto& replies = client.awaitReplies(before + 1);
    return replies.size() == before + 1 && replies.back().id == id;
  }

  TempDir dir;
  std::string path = dir.file("interface.sock");
  CapturingLogger logger;
  InterfaceEngine engine{logger};
};

// Catches a host message sent to one connection only, with the wrong kind,
// channel or payload, or with ids that repeat between messages.
TEST_F(FlutterEngineSendTest, HostMessageReachesEveryConnectedClient) {
  InterfaceTestClient first(path), second(path);
  awaitConnections(2);
  const auto record = sendRecorded(engine.binaryMessenger(), "ui", {1, 2, 3});
  sendRecorded(engine.binaryMessenger(), "other", {});
  for (InterfaceTestClient* client : {&first, &second}) {
    const auto& messages = client->awaitHostMessages(2);
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].kind, FrameKind::hostMessage);
    EXPECT_EQ(messages[0].channel, "ui");
    EXPECT_EQ(messages[0].payload, (Bytes{1, 2, 3}));
    EXPECT_EQ(messages[1].channel, "other");
    EXPECT_NE(messages[0].id, messages[1].id);
    EXPECT_TRUE(client->replies().empty());
  }
  EXPECT_EQ(first.hostMessages()[0].id, second.hostMessages()[0].id);
  runMainLoopFor(20ms);
  EXPECT_EQ(record->calls, 0);  // nobody has answered yet
  EXPECT_TRUE(logger.lines().empty());
}

// One step of a host message's life: a client answers (kind 4) or goes away.
struct Step {
  size_t client;
  std::optional<Bytes> answer;  // nullopt: the client closes instead
};

struct AnswerCase {
  const char* name;
  std::vector<Step> steps;
  size_t settlesAfter;  // index of the step after which the reply is made
  Bytes reply;
};

// Catches a reply made before every connection answered, an empty answer
// taken over one with data, a later answer replacing the first, a reply made
// twice or off the main thread, and a closed connection that is waited for
// forever.
TEST_F(FlutterEngineSendTest, FirstAnswerWithDataWinsAndEmptyNeedsEveryone) {
  const AnswerCase cases[] = {
      {"both with data", {{0, Bytes{5}}, {1, Bytes{6}}}, 0, {5}},
      {"empty then data", {{0, Bytes{}}, {1, Bytes{7}}}, 1, {7}},
      {"both empty", {{1, Bytes{}}, {0, Bytes{}}}, 1, {}},
      {"data then close", {{0, Bytes{8}}, {1, std::nullopt}}, 0, {8}},
      {"close then data", {{1, std::nullopt}, {0, Bytes{9, 9}}}, 1, {9, 9}},
      {"empty then close", {{0, Bytes{}}, {1, std::nullopt}}, 1, {}},
      {"both close", {{0, std::nullopt}, {1, std::nullopt}}, 1, {}},
  };
  for (const AnswerCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<InterfaceTestClient> clients[] = {std::make_unique<InterfaceTestClient>(path),
                                                      std::make_unique<InterfaceTestClient>(path)};
    awaitConnections(2);
    const auto record = sendRecorded(engine.binaryMessenger(), "ui", {1});
    EXPECT_EQ(record->calls, 0);  // never inside send()
    for (auto& client : clients) ASSERT_EQ(client->awaitHostMessages(1).size(), 1u);
    const uint32_t id = clients[0]->hostMessages()[0].id;
    for (size_t i = 0; i < c.steps.size(); ++i) {
      const Step& step = c.steps[i];
      if (step.answer) {
        ASSERT_TRUE(clients[step.client]->sendHostReply(id, *step.answer));
      } else {
        clients[step.client]->close();
      }
      if (i < c.settlesAfter) {
        runMainLoopFor(30ms);
        EXPECT_EQ(record->calls, 0) << "after step " << i;
      } else if (i == c.settlesAfter) {
        ASSERT_TRUE(runMainLoopUntil([&] { return record->calls > 0; })) << "after step " << i;
      }
    }
    runMainLoopFor(30ms);
    EXPECT_EQ(record->calls, 1);
    EXPECT_EQ(record->payload, c.reply);
    EXPECT_TRUE(record->onMainThread);
    for (auto& client : clients) client->close();
    awaitConnections(0);
  }
  EXPECT_TRUE(logger.lines().empty());
}

// Catches a reply called inside send(), never called, or called with data
// when no connection could answer: before start, with nobody connected,
// after stop, and with the only peer done sending.
TEST_F(FlutterEngineSendTest, NobodyToAnswerRepliesEmptyLater) {
  enum class Setting { notStarted, nobodyConnected, stopped, peerFinishedSending };
  for (Setting setting : {Setting::notStarted, Setting::nobodyConnected, Setting::stopped,
                          Setting::peerFinishedSending}) {
    SCOPED_TRACE(static_cast<int>(setting));
    InterfaceEngine local(logger);
    const std::string localPath = dir.file("local.sock");
    std::optional<BinaryReply> held;
    local.binaryMessenger().setMessageHandler(
        "later", [&](Bytes, BinaryReply reply) { held = std::move(reply); });
    std::unique_ptr<InterfaceTestClient> client;
    if (setting != Setting::notStarted) {
      ASSERT_FALSE(local.start(localPath).has_value());
    }
    if (setting == Setting::stopped) local.stop();
    if (setting == Setting::peerFinishedSending) {
      // A call still in flight keeps the connection open after the peer's end of stream.
      client = std::make_unique<InterfaceTestClient>(localPath);
      ASSERT_TRUE(client->sendMessage(1, "later", {}));
      ASSERT_TRUE(runMainLoopUntil([&] { return held.has_value(); }));
      client->shutdownSending();
      runMainLoopFor(30ms);
      ASSERT_EQ(local.connectionCount(), 1u);
    }
    const auto record = sendRecorded(local.binaryMessenger(), "ui", {1});
    local.binaryMessenger().send("ui", {2});  // without a reply callback
    EXPECT_EQ(record->calls, 0);
    ASSERT_TRUE(runMainLoopUntil([&] { return record->calls > 0; }));
    runMainLoopFor(20ms);
    EXPECT_EQ(record->calls, 1);
    EXPECT_TRUE(record->payload.empty());
    EXPECT_TRUE(record->onMainThread);
    if (client) {
      (*held)({3});
      ASSERT_EQ(client->awaitReplies(1).size(), 1u);
      EXPECT_TRUE(client->hostMessages().empty());
    }
    local.stop();
  }
  EXPECT_TRUE(logger.lines().empty());
}

// Catches host messages still awaited when the engine stops never being answered.
TEST_F(FlutterEngineSendTest, StoppingTheEngineAnswersWhatIsAwaited) {
  InterfaceTestClient client(path);
  awaitConnections(1);
  const auto record = sendRecorded(engine.binaryMessenger(), "ui", {1});
  ASSERT_EQ(client.awaitHostMessages(1).size(), 1u);
  engine.stop();
  EXPECT_EQ(record->calls, 0);
  ASSERT_TRUE(runMainLoopUntil([&] { return record->calls > 0; }));
  EXPECT_TRUE(record->payload.empty());
}

// Catches a message too large for a frame being sent anyway (breaking every
// client's framing), going unlogged, or never answered.
TEST_F(FlutterEngineSendTest, MessageTooLargeForAFrameIsNotSent) {
  InterfaceTestClient client(path);
  awaitConnections(1);
  const auto record = sendRecorded(engine.binaryMessenger(), std::string(65536, 'c'), {1});
  EXPECT_EQ(record->calls, 0);
  ASSERT_TRUE(runMainLoopUntil([&] { return record->calls > 0; }));
  EXPECT_TRUE(record->payload.empty());
  ASSERT_EQ(logger.lines().size(), 1u);
  EXPECT_NE(logger.lines()[0].find("more than a frame holds"), std::string::npos);
  EXPECT_TRUE(echoes(client, 1));
  EXPECT_TRUE(client.hostMessages().empty());
}

// Catches a kind-4 frame with an id the host does not await closing the
// connection, being taken as the answer to another message, or going
// unlogged; and a second answer to the same message being taken.
TEST_F(FlutterEngineSendTest, StrayHostReplyIsLoggedAndIgnored) {
  InterfaceTestClient client(path);
  awaitConnections(1);
  const auto record = sendRecorded(engine.binaryMessenger(), "ui", {1});
  ASSERT_EQ(client.awaitHostMessages(1).size(), 1u);
  const uint32_t id = client.hostMessages()[0].id;
  ASSERT_TRUE(client.sendHostReply(id + 1000, {6}));
  EXPECT_TRUE(echoes(client, 1));
  EXPECT_EQ(record->calls, 0);
  ASSERT_TRUE(client.sendHostReply(id, {4}));
  ASSERT_TRUE(runMainLoopUntil([&] { return record->calls > 0; }));
  EXPECT_EQ(record->payload, Bytes{4});
  ASSERT_TRUE(client.sendHostReply(id, {5}));  // answered already
  EXPECT_TRUE(echoes(client, 2));
  EXPECT_EQ(record->calls, 1);
  EXPECT_EQ(engine.connectionCount(), 1u);
  EXPECT_EQ(logger.lines(),
            (std::vector<std::string>{"interface connection: ignored a reply to host message " +
                                          std::to_string(id + 1000) + ", which is not awaited",
                                      "interface connection: ignored a reply to host message " +
                                          std::to_string(id) + ", which is not awaited"}));
}

// Catches the host reading frames only a client should get (kinds 2 and 3)
// instead of breaking the framing of that connection.
TEST_F(FlutterEngineSendTest, ClientKindsSentToTheHostBreakTheFraming) {
  const InterfaceFrame frames[] = {{FrameKind::hostMessage, 1, "ui", {1}},
                                   {FrameKind::reply, 1, "", {}}};
  for (const InterfaceFrame& frame : frames) {
    InterfaceTestClient client(path);
    ASSERT_TRUE(client.sendBytes(*encodeFrame(frame)));
    EXPECT_TRUE(client.awaitClosedByHost());
  }
  EXPECT_EQ(logger.lines(),
            (std::vector<std::string>{"interface connection closed: unexpected frame kind 3",
                                      "interface connection closed: unexpected frame kind 2"}));
}

// Catches a host message written past a reply still in the write queue (its
// bytes would land inside the reply and break the client's framing).
TEST_F(FlutterEngineSendTest, HostMessageQueuesBehindAPartlyWrittenReply) {
  BinaryMessenger& messenger = engine.binaryMessenger();
  messenger.setMessageHandler("big", [&](Bytes, BinaryReply reply) {
    reply(Bytes(1024 * 1024, 0x42));  // more than the socket takes at once
    messenger.send("ui", {7});
  });
  InterfaceTestClient client(path);
  ASSERT_TRUE(client.sendMessage(1, "big", {}));
  ASSERT_EQ(client.awaitHostMessages(1).size(), 1u);
  ASSERT_EQ(client.frames().size(), 2u);
  EXPECT_EQ(client.frames()[0].kind, FrameKind::reply);
  EXPECT_EQ(client.frames()[0].payload.size(), 1024u * 1024);
  EXPECT_EQ(client.frames()[1].kind, FrameKind::hostMessage);
  EXPECT_EQ(client.frames()[1].payload, Bytes{7});
}

// Catches host messages queued without bound for a client that does not read
// them (or left out of the write queue's bound on reading), messages past the
// bound waited on forever or logged each time, and a client that is not sent
// host messages any more once it reads again.
TEST_F(FlutterEngineSendTest, HostMessagesPastTheQueueBoundAreAnsweredEmpty) {
  InterfaceEngine limited(logger, InterfaceConnectionLimits{.maxQueuedBytes = 2 * 1024 * 1024});
  const std::string limitedPath = dir.file("limited.sock");
  ASSERT_FALSE(limited.start(limitedPath).has_value());
  int calls = 0;
  limited.binaryMessenger().setMessageHandler("count", [&](Bytes, BinaryReply reply) {
    ++calls;
    reply({});
  });
  InterfaceTestClient client(limitedPath);
  ASSERT_TRUE(runMainLoopUntil([&] { return limited.connectionCount() == 1; }));
  std::vector<std::shared_ptr<ReplyRecord>> records;
  for (uint8_t i = 0; i < 6; ++i) {
    records.push_back(sendRecorded(limited.binaryMessenger(), "ui", Bytes(1024 * 1024, i)));
  }
  ASSERT_TRUE(client.sendMessage(1, "count", {}));
  ASSERT_TRUE(runMainLoopUntil([&] { return records.back()->calls == 1; }));
  runMainLoopFor(50ms);
  EXPECT_EQ(calls, 0);  // the queue is past its bound: not read
  size_t queued = 0;
  for (const auto& record : records) {
    if (record->calls == 0) {
      ++queued;
    } else {
      EXPECT_TRUE(record->payload.empty());
    }
  }
  EXPECT_LE(queued, 3u) << "6 MiB of messages against a bound of 2 MiB";
  EXPECT_EQ(logger.lines(),
            std::vector<std::string>{"interface connection: host messages are answered empty for a "
                                     "connection that is not reading or answering them"});

  // Reading what was queued lets its call in, and host messages reach it again.
  const auto& messages = client.awaitHostMessages(queued);
  ASSERT_EQ(messages.size(), queued);
  for (size_t i = 0; i < queued; ++i) EXPECT_EQ(messages[i].payload[0], i);
  ASSERT_EQ(client.awaitReplies(1).size(), 1u);
  EXPECT_EQ(calls, 1);
  const auto later = sendRecorded(limited.binaryMessenger(), "ui", {9});
  ASSERT_EQ(client.awaitHostMessages(queued + 1).size(), queued + 1);
  ASSERT_TRUE(client.sendHostReply(client.hostMessages().back().id, {8}));
  ASSERT_TRUE(runMainLoopUntil([&] { return later->calls == 1; }));
  EXPECT_EQ(later->payload, Bytes{8});
}

// Catches answers owed by a client that reads host messages but never answers
// them piling up without bound, and a message past that bound waited on
// forever instead of answered empty.
TEST_F(FlutterEngineSendTest, HostMessagesPastTheAwaitedBoundAreAnsweredEmpty) {
  InterfaceEngine limited(logger, InterfaceConnectionLimits{.maxAwaitedHostReplies = 2});
  const std::string limitedPath = dir.file("limited.sock");
  ASSERT_FALSE(limited.start(limitedPath).has_value());
  InterfaceTestClient client(limitedPath);
  ASSERT_TRUE(runMainLoopUntil([&] { return limited.connectionCount() == 1; }));
  std::vector<std::shared_ptr<ReplyRecord>> records;
  for (uint8_t i = 0; i < 3; ++i) {
    records.push_back(sendRecorded(limited.binaryMessenger(), "ui", {i}));
  }
  ASSERT_TRUE(runMainLoopUntil([&] { return records[2]->calls == 1; }));
  EXPECT_TRUE(records[2]->payload.empty());
  ASSERT_EQ(client.awaitHostMessages(2).size(), 2u);
  runMainLoopFor(30ms);
  EXPECT_EQ(client.hostMessages().size(), 2u);  // the third was not sent
  EXPECT_EQ(records[0]->calls + records[1]->calls, 0);

  // An answer makes room for the next message.
  ASSERT_TRUE(client.sendHostReply(client.hostMessages()[0].id, {5}));
  ASSERT_TRUE(runMainLoopUntil([&] { return records[0]->calls == 1; }));
  EXPECT_EQ(records[0]->payload, Bytes{5});
  const auto later = sendRecorded(limited.binaryMessenger(), "ui", {3});
  ASSERT_EQ(client.awaitHostMessages(3).size(), 3u);
  EXPECT_EQ(client.hostMessages()[2].payload, Bytes{3});
  EXPECT_EQ(later->calls, 0);
}

struct InvokeCase {
  const char* name;
  Bytes answer;
  FlutterResultValue expected;
};

// Catches a call encoded other than as a standard method call, a reply
// envelope decoded wrongly, an empty or undecodable reply taken as success,
// and a callback run twice, inside invokeMethod() or off the main thread.
TEST_F(FlutterEngineSendTest, InvokeMethodRoundTripDecodesTheReply) {
  const StandardMethodCodec& codec = StandardMethodCodec::instance();
  const FlutterError error{"denied", "not now", EncodableValue(int32_t{3})};
  Bytes trailing = codec.encodeSuccessEnvelope(true);
  trailing.push_back(0);
  const InvokeCase cases[] = {
      {"success", codec.encodeSuccessEnvelope(EncodableMap{{"ok", true}}),
       EncodableValue(EncodableMap{{"ok", true}})},
      {"error", codec.encodeErrorEnvelope(error), error},
      {"empty", {}, FlutterMethodNotImplemented},
      {"unknown envelope byte", {0xFF}, FlutterMethodNotImplemented},
      {"trailing bytes", trailing, FlutterMethodNotImplemented},
  };
  InterfaceTestClient client(path);
  awaitConnections(1);
  auto channel = FlutterMethodChannel::methodChannelWithName("window", engine.binaryMessenger());
  size_t sent = 0;
  for (const InvokeCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<FlutterResultValue> results;
    bool onMainThread = true;
    channel.invokeMethod("resize", EncodableMap{{"width", int32_t{640}}},
                         [&](FlutterResultValue result) {
                           results.push_back(std::move(result));
                           onMainThread = onMainThread && isMainThread();
                         });
    EXPECT_TRUE(results.empty());
    ASSERT_EQ(client.awaitHostMessages(++sent).size(), sent);
    const InterfaceFrame& message = client.hostMessages().back();
    EXPECT_EQ(message.channel, "window");
    auto call = codec.decodeMethodCall(message.payload);
    ASSERT_TRUE(std::holds_alternative<FlutterMethodCall>(call));
    EXPECT_EQ(std::get<FlutterMethodCall>(call).method, "resize");
    EXPECT_EQ(std::get<FlutterMethodCall>(call).arguments,
              EncodableValue(EncodableMap{{"width", int32_t{640}}}));
    ASSERT_TRUE(client.sendHostReply(message.id, c.answer));
    ASSERT_TRUE(runMainLoopUntil([&] { return !results.empty(); }));
    runMainLoopFor(10ms);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_TRUE(results[0] == c.expected);
    EXPECT_TRUE(onMainThread);
  }
  channel.invokeMethod("fireAndForget");  // no callback: sent all the same
  EXPECT_EQ(client.awaitHostMessages(sent + 1).size(), sent + 1);
}

}  // namespace
}  // namespace korvane

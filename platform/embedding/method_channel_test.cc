#include "platform/embedding/method_channel.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "platform/embedding/channel_messenger.h"
#include "platform/embedding/standard_method_codec.h"

namespace korvane {
namespace {

using Bytes = std::vector<uint8_t>;

const StandardMethodCodec& codec() { return StandardMethodCodec::instance(); }

// Delivers `message` on `channel` and returns every reply it got.
std::vector<Bytes> deliver(ChannelMessenger& messenger, const std::string& channel, Bytes message) {
  std::vector<Bytes> replies;
  messenger.dispatch(channel, std::move(message), [&](Bytes reply) { replies.push_back(reply); });
  return replies;
}

class MethodChannelTest : public ::testing::Test {
 protected:
  // Installs a handler through a channel object that is gone right after.
  void install(FlutterMethodCallHandler handler) {
    FlutterMethodChannel::methodChannelWithName("ch", messenger)
        .setMethodCallHandler(std::move(handler));
  }

  ChannelMessenger messenger;
};

struct Answer {
  const char* name;
  FlutterResultValue result;
  Bytes expected;
};

// Catches a result encoded as the wrong envelope, or not-implemented sent as
// anything but no bytes at all; and a handler lost with its channel object.
TEST_F(MethodChannelTest, HandlerResultBecomesTheReplyEnvelope) {
  const FlutterError error{"not_found", "no such bundle", EncodableMap{{"path", "/x"}}};
  const Answer answers[] = {
      {"success", EncodableValue(int32_t{1}), codec().encodeSuccessEnvelope(int32_t{1})},
      {"error", error, codec().encodeErrorEnvelope(error)},
      {"not implemented", FlutterMethodNotImplemented, Bytes{}},
  };
  for (const Answer& answer : answers) {
    std::optional<FlutterMethodCall> seen;
    install([&](const FlutterMethodCall& call, FlutterResult result) {
      seen = call;
      result(answer.result);
    });
    const auto replies = deliver(
        messenger, "ch", codec().encodeMethodCall({"hasQuarantine", EncodableMap{{"path", "/a"}}}));
    ASSERT_TRUE(seen.has_value()) << answer.name;
    EXPECT_EQ(seen->method, "hasQuarantine");
    EXPECT_EQ(seen->arguments, EncodableValue(EncodableMap{{"path", "/a"}}));
    ASSERT_EQ(replies.size(), 1u) << answer.name;
    EXPECT_EQ(replies[0], answer.expected) << answer.name;
  }
}

// Catches garbage reaching the handler, or going unanswered.
TEST_F(MethodChannelTest, UndecodableCallGetsAnEmptyReplyAndNeverReachesTheHandler) {
  int calls = 0;
  install([&](const FlutterMethodCall&, FlutterResult result) {
    ++calls;
    result(EncodableValue(true));
  });
  Bytes trailing = codec().encodeMethodCall({"probe", EncodableValue()});
  trailing.push_back(0);
  const Bytes undecodable[] = {
      {},                  // no method name
      {0xFF},              // unknown type
      {3, 1, 0, 0, 0, 0},  // method name is not a string
      {7, 5, 'p', 'r'},    // truncated name
      trailing,            // bytes after the arguments
  };
  for (const Bytes& message : undecodable) {
    const auto replies = deliver(messenger, "ch", message);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_TRUE(replies[0].empty());
  }
  EXPECT_EQ(calls, 0);
}

// Catches a handler that keeps its result for later (the worker path) never
// replying, or replying twice when the later reply is followed by the drop.
TEST_F(MethodChannelTest, LaterReplyIsSentOnceAndDroppedResultAnswersNotImplemented) {
  std::vector<FlutterResult> kept;
  install([&](const FlutterMethodCall&, FlutterResult result) { kept.push_back(result); });
  std::vector<Bytes> first, second;
  messenger.dispatch("ch", codec().encodeMethodCall({"a", EncodableValue()}),
                     [&](Bytes reply) { first.push_back(reply); });
  messenger.dispatch("ch", codec().encodeMethodCall({"b", EncodableValue()}),
                     [&](Bytes reply) { second.push_back(reply); });
  EXPECT_TRUE(first.empty());
  kept[0](EncodableValue("done"));
  kept.clear();
  ASSERT_EQ(first.size(), 1u);
  EXPECT_EQ(first[0], codec().encodeSuccessEnvelope("done"));
  ASSERT_EQ(second.size(), 1u);
  EXPECT_TRUE(second[0].empty());
}

// Catches a cleared handler that still answers.
TEST_F(MethodChannelTest, ClearedHandlerLeavesNoHandler) {
  install([](const FlutterMethodCall&, FlutterResult result) { result(EncodableValue(1)); });
  install(nullptr);
  EXPECT_FALSE(messenger.hasHandler("ch"));
}

}  // namespace
}  // namespace korvane

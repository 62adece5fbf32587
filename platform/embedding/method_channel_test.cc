// The messenger's handler table and the method channel over it: each
// message reaches one handler, and each call gets one reply.
#include "platform/embedding/method_channel.h"

#include <gtest/gtest.h>

#include <optional>
#include <thread>
#include <vector>

#include "platform/embedding/channel_messenger.h"
#include "platform/embedding/standard_method_codec.h"
#include "platform/embedding/testing/recording_messenger.h"
#include "platform/main_loop.h"

namespace korvane {
namespace {

using Bytes = std::vector<uint8_t>;

const StandardMethodCodec& codec() { return StandardMethodCodec::instance(); }

// Catches a message routed to the wrong channel or handler (a later one must
// replace the earlier) or altered on the way, a message to an unknown or
// removed channel answered other than once with no data, a use-after-free
// when a handler removes itself while it runs, and send() without an engine
// answering inside itself, with data, or not at all.
TEST(ChannelMessengerTest, DeliversToTheLatestHandlerOfTheNamedChannel) {
  ChannelMessenger messenger;
  std::vector<Bytes> replies;
  auto collect = [&](Bytes reply) { replies.push_back(reply); };
  messenger.setMessageHandler("a", [](Bytes, BinaryReply reply) { reply({'o', 'l', 'd'}); });
  messenger.setMessageHandler("a", [](Bytes message, BinaryReply reply) { reply(message); });
  messenger.setMessageHandler("gone", [](Bytes, BinaryReply reply) { reply({1}); });
  messenger.setMessageHandler("gone", nullptr);
  std::string captured = "alive", seen;
  messenger.setMessageHandler("self", [&messenger, &seen, captured](Bytes, BinaryReply reply) {
    messenger.setMessageHandler("self", nullptr);
    seen = captured;  // the handler's own capture, after its removal
    reply({});
  });
  for (auto channel : {"a", "gone", "", "self", "self"}) messenger.dispatch(channel, {7}, collect);
  EXPECT_EQ(replies, (std::vector<Bytes>{{7}, {}, {}, {}, {}}));
  EXPECT_EQ(seen, "alive");
  messenger.send("ui", {'x'}, collect);
  EXPECT_EQ(replies.size(), 5u);  // not inside send()
  ASSERT_TRUE(runMainLoopUntil([&] { return replies.size() == 6; }));
  EXPECT_TRUE(replies.back().empty());
}

// Catches a call decoded wrongly or garbage reaching the handler (or going
// unanswered); a handler lost with its channel object; a result encoded as
// the wrong envelope, or not-implemented as anything but no bytes; copies of a
// result that each reply, or a reply sent while a copy is still held; a result
// dropped (on a worker thread) that never answers; and a second call that
// reaches the other side as a second reply.
TEST(MethodChannelTest, EveryCallGetsOneReplyEnvelope) {
  testing::RecordingMessenger messenger;
  std::vector<std::optional<FlutterResult>> kept;
  FlutterMethodChannel::methodChannelWithName("ch", messenger)
      .setMethodCallHandler([&](const FlutterMethodCall& call, FlutterResult result) {
        EXPECT_EQ(call.method, "probe");
        EXPECT_EQ(call.arguments, EncodableValue(EncodableMap{{"path", "/a"}}));
        kept.insert(kept.end(), 2, result);
      });
  const Bytes call = codec().encodeMethodCall({"probe", EncodableMap{{"path", "/a"}}});
  std::vector<Bytes> replies;
  for (const Bytes& message :
       {Bytes{}, Bytes{0xFF}, Bytes{3, 1, 0, 0, 0, 0}, call, call, call, call}) {
    messenger.handlers["ch"](message, [&](Bytes reply) { replies.push_back(reply); });
  }
  EXPECT_EQ(replies, std::vector<Bytes>(3));  // the garbage, at once
  replies.clear();
  const FlutterError error{"not_found", "no such bundle", EncodableValue(int32_t{3})};
  (*kept[1])(EncodableValue(1));
  (*kept[2])(error);
  kept[4].reset();
  EXPECT_EQ(replies.size(), 2u);
  (*kept[5])(FlutterMethodNotImplemented);
  std::thread([moved = std::move(kept[6]), copy = std::move(kept[7])]() mutable {
    moved.reset();
    copy.reset();
  }).join();
  kept.clear();
  EXPECT_EQ(replies,
            (std::vector<Bytes>{
                codec().encodeSuccessEnvelope(1), codec().encodeErrorEnvelope(error), {}, {}}));
  FlutterResult result([&](FlutterResultValue) { replies.push_back({}); });
  result(EncodableValue(1));
#ifdef NDEBUG
  result(EncodableValue(2));
  EXPECT_EQ(replies.size(), 5u);
#else
  EXPECT_DEATH(result(EncodableValue(2)), "more than once");
#endif
}

}  // namespace
}  // namespace korvane

#include "platform/embedding/channel_messenger.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/main_loop.h"

namespace korvane {
namespace {

using Bytes = std::vector<uint8_t>;

// Catches a message routed to the wrong channel or a payload altered on the way.
TEST(ChannelMessengerTest, DeliversToTheNamedChannelOnly) {
  ChannelMessenger messenger;
  std::vector<std::string> seen;
  messenger.setMessageHandler("a", [&](Bytes message, BinaryReply reply) {
    seen.push_back("a:" + std::string(message.begin(), message.end()));
    reply({'A'});
  });
  messenger.setMessageHandler("b", [&](Bytes, BinaryReply reply) {
    seen.push_back("b");
    reply({'B'});
  });
  std::optional<Bytes> replied;
  messenger.dispatch("a", {'x', 'y'}, [&](Bytes reply) { replied = reply; });
  EXPECT_EQ(seen, std::vector<std::string>{"a:xy"});
  EXPECT_EQ(replied, Bytes{'A'});
}

// Catches a message to an unknown or removed channel that is never answered.
TEST(ChannelMessengerTest, NoHandlerRepliesOnceWithNoData) {
  ChannelMessenger messenger;
  messenger.setMessageHandler("gone", [](Bytes, BinaryReply reply) { reply({1}); });
  messenger.setMessageHandler("gone", nullptr);
  EXPECT_FALSE(messenger.hasHandler("gone"));
  for (const char* channel : {"gone", "never", ""}) {
    int calls = 0;
    Bytes reply{0xFF};
    messenger.dispatch(channel, {1, 2, 3}, [&](Bytes bytes) {
      ++calls;
      reply = bytes;
    });
    EXPECT_EQ(calls, 1) << channel;
    EXPECT_TRUE(reply.empty()) << channel;
  }
}

// Catches a use-after-free when a handler removes or replaces itself while it runs.
TEST(ChannelMessengerTest, HandlerMayRemoveItselfWhileRunning) {
  ChannelMessenger messenger;
  std::string captured = "still alive";
  std::string seen;
  messenger.setMessageHandler("c", [&messenger, &seen, captured](Bytes, BinaryReply reply) {
    messenger.setMessageHandler("c", nullptr);
    seen = captured;  // reads the handler's own capture after removal
    reply({});
  });
  messenger.dispatch("c", {}, [](Bytes) {});
  EXPECT_EQ(seen, "still alive");
  EXPECT_FALSE(messenger.hasHandler("c"));
}

// Catches a later installation that does not replace the earlier handler.
TEST(ChannelMessengerTest, LaterHandlerReplacesEarlier) {
  ChannelMessenger messenger;
  int which = 0;
  messenger.setMessageHandler("c", [&](Bytes, BinaryReply reply) {
    which = 1;
    reply({});
  });
  messenger.setMessageHandler("c", [&](Bytes, BinaryReply reply) {
    which = 2;
    reply({});
  });
  messenger.dispatch("c", {}, [](Bytes) {});
  EXPECT_EQ(which, 2);
}

// Catches send() bypassing the engine's outlet, keeping a removed outlet, or
// answering inside send() (or not at all) when there is no outlet.
TEST(ChannelMessengerTest, SendGoesThroughTheOutletWhileThereIsOne) {
  ChannelMessenger messenger;
  std::vector<std::string> sent;
  std::optional<BinaryReply> taken;
  messenger.setOutlet([&](const std::string& channel, Bytes message, BinaryReply reply) {
    sent.push_back(channel + ":" + std::string(message.begin(), message.end()));
    taken = std::move(reply);
  });
  std::vector<Bytes> replies;
  messenger.send("ui", {'h', 'i'}, [&](Bytes reply) { replies.push_back(reply); });
  EXPECT_EQ(sent, std::vector<std::string>{"ui:hi"});
  ASSERT_TRUE(taken.has_value());
  (*taken)({'o', 'k'});
  EXPECT_EQ(replies, (std::vector<Bytes>{Bytes{'o', 'k'}}));

  messenger.setOutlet(nullptr);
  messenger.send("ui", {'x'}, [&](Bytes reply) { replies.push_back(reply); });
  EXPECT_EQ(sent.size(), 1u);
  EXPECT_EQ(replies.size(), 1u);  // not inside send()
  ASSERT_TRUE(runMainLoopUntil([&] { return replies.size() == 2; }));
  EXPECT_TRUE(replies[1].empty());
}

}  // namespace
}  // namespace korvane

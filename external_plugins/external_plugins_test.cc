#include "external_plugins/external_plugins.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/appkit/ns_application.h"
#include "platform/embedding/channel_messenger.h"
#include "platform/embedding/standard_method_codec.h"

namespace korvane::external_plugins {
namespace {

// A messenger that keeps what is sent to the interface.
class RecordingMessenger final : public BinaryMessenger {
 public:
  struct Sent {
    std::string channel;
    std::vector<uint8_t> message;
    bool wantsReply;
  };
  void setMessageHandler(const std::string& channel, BinaryMessageHandler handler) override {
    channels.push_back(channel);
    static_cast<void>(handler);
  }
  void send(const std::string& channel, std::vector<uint8_t> message, BinaryReply reply) override {
    sent.push_back({channel, std::move(message), static_cast<bool>(reply)});
  }
  std::vector<std::string> channels;
  std::vector<Sent> sent;
};

// Catches an instance made before registration, one that is not the
// registered plug-in's, a hand-over that sends nothing, sends more than one
// message, the wrong call, on the wrong channel or through another messenger.
TEST(WindowExtPlugin, HandsTerminateRequestsToTheInterface) {
  WindowExtPlugin::instance = nullptr;
  RecordingMessenger messenger;
  FlutterPluginRegistrar registrar("WindowExtPlugin", messenger);
  WindowExtPlugin::registerWith(registrar);
  ASSERT_NE(WindowExtPlugin::instance, nullptr);
  EXPECT_EQ(messenger.channels, std::vector<std::string>{"window_ext"});

  WindowExtPlugin::instance->handleTerminateRequest();
  WindowExtPlugin::instance->handleTerminateRequest();
  EXPECT_EQ(WindowExtPlugin::instance->terminateRequestCount(), 2);
  ASSERT_EQ(messenger.sent.size(), 2u);
  for (const auto& sent : messenger.sent) {
    EXPECT_EQ(sent.channel, "window_ext");
    EXPECT_FALSE(sent.wantsReply);
    auto call = StandardMethodCodec::instance().decodeMethodCall(sent.message);
    ASSERT_TRUE(std::holds_alternative<FlutterMethodCall>(call));
    EXPECT_EQ(std::get<FlutterMethodCall>(call).method, "onTerminateRequest");
    EXPECT_TRUE(std::get<FlutterMethodCall>(call).arguments.isNull());
  }
}

// Catches a registration that leaves the old instance shared.
TEST(WindowExtPlugin, ANewRegistrationReplacesTheInstance) {
  RecordingMessenger first, second;
  FlutterPluginRegistrar a("WindowExtPlugin", first), b("WindowExtPlugin", second);
  WindowExtPlugin::registerWith(a);
  WindowExtPlugin::registerWith(b);
  WindowExtPlugin::instance->handleTerminateRequest();
  EXPECT_TRUE(first.sent.empty());
  EXPECT_EQ(second.sent.size(), 1u);
}

// Catches a stand-in channel left without a handler, or one that answers a
// call with anything but "not implemented" (no reply data), or not exactly once.
TEST(PluginChannels, AnswerEveryCallNotImplemented) {
  NSApplication app;
  ChannelMessenger messenger;
  FlutterPluginRegistrar ext("WindowExtPlugin", messenger),
      manager("WindowManagerPlugin", messenger);
  WindowExtPlugin::registerWith(ext);
  WindowManagerPlugin::registerWith(manager);
  for (const char* channel : {"window_ext", "window_manager"}) {
    ASSERT_TRUE(messenger.hasHandler(channel)) << channel;
    for (const char* method : {"ensureInitialized", "show", "setTitle"}) {
      int replies = 0;
      std::vector<uint8_t> reply{1};
      messenger.dispatch(channel,
                         StandardMethodCodec::instance().encodeMethodCall(
                             {method, EncodableValue(EncodableMap{{"title", "x"}})}),
                         [&](std::vector<uint8_t> bytes) {
                           ++replies;
                           reply = std::move(bytes);
                         });
      EXPECT_EQ(replies, 1) << channel << " " << method;
      EXPECT_TRUE(reply.empty()) << channel << " " << method;
    }
  }
}

// Catches calls that are not counted per window or not placed in the
// application's change log.
TEST(WindowManagerPlugin, HiddenWindowAtLaunchIsNotedPerWindow) {
  NSApplication app;
  NSWindow a({0, 0, 1, 1}, NSWindowStyleMaskTitled, NSBackingStoreBuffered, false);
  NSWindow b({0, 0, 1, 1}, NSWindowStyleMaskTitled, NSBackingStoreBuffered, false);
  app.clearChangeLog();
  hiddenWindowAtLaunch(a);
  hiddenWindowAtLaunch(a);
  hiddenWindowAtLaunch(b);
  EXPECT_EQ(hiddenWindowAtLaunchCount(a.windowNumber()), 2);
  EXPECT_EQ(hiddenWindowAtLaunchCount(b.windowNumber()), 1);
  const std::string na = std::to_string(a.windowNumber()), nb = std::to_string(b.windowNumber());
  EXPECT_EQ(app.changeLog(), (std::vector<std::string>{"window " + na + " hiddenWindowAtLaunch",
                                                       "window " + na + " hiddenWindowAtLaunch",
                                                       "window " + nb + " hiddenWindowAtLaunch"}));
}

}  // namespace
}  // namespace korvane::external_plugins

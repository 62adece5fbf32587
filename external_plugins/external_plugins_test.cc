#include "external_plugins/external_plugins.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/appkit/ns_application.h"
#include "platform/embedding/standard_method_codec.h"
#include "platform/embedding/testing/recording_messenger.h"

namespace korvane::external_plugins {
namespace {

using testing::RecordingMessenger;

// Catches a hand-over that sends nothing, more than one message, the wrong
// call, on the wrong channel, wanting a reply, or through the messenger of an
// earlier registration instead of the latest.
TEST(WindowExtPlugin, HandsTerminateRequestsToTheLatestRegistration) {
  RecordingMessenger earlier, messenger;
  FlutterPluginRegistrar a("WindowExtPlugin", earlier), b("WindowExtPlugin", messenger);
  WindowExtPlugin::registerWith(a);
  WindowExtPlugin::registerWith(b);
  WindowExtPlugin::instance->handleTerminateRequest();
  WindowExtPlugin::instance->handleTerminateRequest();
  EXPECT_TRUE(earlier.sent.empty());
  ASSERT_EQ(messenger.sent.size(), 2u);
  for (const auto& sent : messenger.sent) {
    EXPECT_EQ(sent.channel, "window_ext");
    EXPECT_FALSE(sent.reply);
    auto call = StandardMethodCodec::instance().decodeMethodCall(sent.message);
    ASSERT_TRUE(std::holds_alternative<FlutterMethodCall>(call));
    EXPECT_EQ(std::get<FlutterMethodCall>(call).method, "onTerminateRequest");
    EXPECT_TRUE(std::get<FlutterMethodCall>(call).arguments.isNull());
  }
  WindowExtPlugin::instance = nullptr;
}

// Catches a stand-in channel left without a handler, or one that answers a
// call with anything but "not implemented" (no reply data), or not exactly once.
TEST(PluginChannels, AnswerEveryCallNotImplemented) {
  NSApplication app;
  RecordingMessenger messenger;
  FlutterPluginRegistrar ext("WindowExtPlugin", messenger),
      manager("WindowManagerPlugin", messenger);
  WindowExtPlugin::registerWith(ext);
  WindowManagerPlugin::registerWith(manager);
  WindowExtPlugin::instance = nullptr;
  for (const char* channel : {"window_ext", "window_manager"}) {
    ASSERT_EQ(messenger.handlers.count(channel), 1u) << channel;
    for (const char* method : {"ensureInitialized", "show", "setTitle"}) {
      const auto call = StandardMethodCodec::instance().encodeMethodCall(
          {method, EncodableValue(EncodableMap{{"title", "x"}})});
      EXPECT_EQ(messenger.deliver(channel, call), std::vector<std::vector<uint8_t>>{{}})
          << channel << " " << method;
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
  for (NSWindow* window : {&a, &a, &b}) hiddenWindowAtLaunch(*window);
  EXPECT_EQ(hiddenWindowAtLaunchCount(a.windowNumber()), 2);
  EXPECT_EQ(hiddenWindowAtLaunchCount(b.windowNumber()), 1);
  auto noted = [](const NSWindow& w) {
    return std::string("window ")
        .append(std::to_string(w.windowNumber()))
        .append(" hiddenWindowAtLaunch");
  };
  EXPECT_EQ(app.changeLog(), (std::vector<std::string>{noted(a), noted(a), noted(b)}));
}

}  // namespace
}  // namespace korvane::external_plugins

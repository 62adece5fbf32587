#include "external_plugins/external_plugins.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/embedding/standard_method_codec.h"
#include "platform/embedding/testing/recording_messenger.h"

namespace korvane::external_plugins {
namespace {

using Bytes = std::vector<uint8_t>;

// Catches a stand-in channel left without a handler, one that answers a call
// with anything but "not implemented" (no reply data) or not exactly once,
// and a quit hand-over sent through the messenger of an earlier registration
// instead of the latest, or wanting a reply. (What the hand-over sends is
// checked end to end.)
TEST(ExternalPlugins, ChannelsAnswerNotImplementedAndQuitGoesToTheLatestRegistration) {
  testing::RecordingMessenger earlier, messenger;
  FlutterPluginRegistrar old("WindowExtPlugin", earlier), ext("WindowExtPlugin", messenger),
      manager("WindowManagerPlugin", messenger);
  WindowExtPlugin::registerWith(old);
  WindowExtPlugin::registerWith(ext);
  WindowManagerPlugin::registerWith(manager);
  for (const char* channel : {"window_ext", "window_manager"}) {
    for (const char* method : {"ensureInitialized", "show", "setTitle"}) {
      std::vector<Bytes> replies;
      messenger.handlers[channel](
          StandardMethodCodec::instance().encodeMethodCall({method, EncodableMap{{"title", "x"}}}),
          [&](Bytes reply) { replies.push_back(reply); });
      EXPECT_EQ(replies, std::vector<Bytes>{{}}) << channel << " " << method;
    }
  }
  WindowExtPlugin::instance->handleTerminateRequest();
  WindowExtPlugin::instance = nullptr;
  ASSERT_TRUE(earlier.sent.empty() && messenger.sent.size() == 1);
  EXPECT_TRUE(messenger.sent[0].channel == "window_ext" && !messenger.sent[0].reply);
}

}  // namespace
}  // namespace korvane::external_plugins

#include "login_item/launch_at_startup_channel.h"

#include <memory>

#include "platform/embedding/method_channel.h"

namespace korvane {

void registerLaunchAtStartupChannel(BinaryMessenger& messenger, const PlatformServices& services) {
  FlutterMethodChannel::methodChannelWithName("launch_at_startup", messenger)
      .setMethodCallHandler([state = std::make_shared<LaunchAtLogin>(services)](
                                const FlutterMethodCall& call, FlutterResult result) {
        handleLaunchAtStartupCall(*state, call, std::move(result));
      });
}

void handleLaunchAtStartupCall(LaunchAtLogin& state, const FlutterMethodCall& call,
                               FlutterResult result) {
  if (call.method == "launchAtStartupIsEnabled") {
    result(EncodableValue(state.isEnabled()));
    return;
  }
  if (call.method == "launchAtStartupSetEnabled") {
    const EncodableMap* arguments = call.arguments.asMap();
    bool stringKeys = arguments != nullptr;
    for (const auto& [key, value] : arguments != nullptr ? *arguments : EncodableMap{}) {
      stringKeys = stringKeys && key.asString() != nullptr;
    }
    // A value that is missing or not a boolean changes nothing: it cannot say
    // which state the interface wanted.
    const EncodableValue* value = stringKeys ? arguments->find("setEnabledValue") : nullptr;
    if (value != nullptr && value->asBool() != nullptr) state.setIsEnabled(*value->asBool());
    result(EncodableValue());
    return;
  }
  result(FlutterMethodNotImplemented);
}

}  // namespace korvane

#include "login_item/launch_at_startup_channel.h"

#include "login_item/launch_at_login.h"
#include "platform/embedding/method_channel.h"

namespace korvane {

void handleLaunchAtStartupCall(const FlutterMethodCall& call, FlutterResult result) {
  if (call.method == "launchAtStartupIsEnabled") {
    result(EncodableValue(LaunchAtLogin::isEnabled()));
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
    if (value != nullptr && value->asBool() != nullptr)
      LaunchAtLogin::setIsEnabled(*value->asBool());
    result(EncodableValue());
    return;
  }
  result(FlutterMethodNotImplemented);
}

}  // namespace korvane

#include "external_plugins/window_manager_plugin.h"

#include <string>
#include <unordered_map>

#include "external_plugins/external_plugins.h"
#include "platform/appkit/ns_application.h"
#include "platform/embedding/method_channel.h"

namespace korvane::external_plugins {
namespace {

std::unordered_map<int, int>& callsByWindow() {
  static auto* calls = new std::unordered_map<int, int>();
  return *calls;
}

}  // namespace

void WindowManagerPlugin::registerWith(FlutterPluginRegistrar& registrar) {
  noteRegistration({"WindowManagerPlugin", registrar.key(), 'S'}, registrar);
  FlutterMethodChannel::methodChannelWithName(kChannel, registrar.messenger())
      .setMethodCallHandler([](const FlutterMethodCall&, FlutterResult result) {
        result(FlutterMethodNotImplemented);
      });
}

void hiddenWindowAtLaunch(NSWindow& window) {
  ++callsByWindow()[window.windowNumber()];
  NSApp().noteChange("window " + std::to_string(window.windowNumber()) + " hiddenWindowAtLaunch");
}

int hiddenWindowAtLaunchCount(int windowNumber) {
  const auto found = callsByWindow().find(windowNumber);
  return found == callsByWindow().end() ? 0 : found->second;
}

}  // namespace korvane::external_plugins

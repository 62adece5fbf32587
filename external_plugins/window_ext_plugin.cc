#include "external_plugins/window_ext_plugin.h"

#include "external_plugins/external_plugins.h"
#include "platform/embedding/method_channel.h"
#include "platform/embedding/standard_method_codec.h"

namespace korvane::external_plugins {
namespace {

// Keeps the shared instance alive; a new registration replaces it.
std::unique_ptr<WindowExtPlugin>& sharedStorage() {
  static auto* storage = new std::unique_ptr<WindowExtPlugin>();
  return *storage;
}

}  // namespace

WindowExtPlugin* WindowExtPlugin::instance = nullptr;

void WindowExtPlugin::registerWith(FlutterPluginRegistrar& registrar) {
  noteRegistration({"WindowExtPlugin", registrar.key(), 'S'}, registrar);
  FlutterMethodChannel::methodChannelWithName(kChannel, registrar.messenger())
      .setMethodCallHandler([](const FlutterMethodCall&, FlutterResult result) {
        result(FlutterMethodNotImplemented);
      });
  sharedStorage().reset(new WindowExtPlugin(registrar.messenger()));
  instance = sharedStorage().get();
}

void WindowExtPlugin::handleTerminateRequest() {
  ++terminateRequests_;
  messenger_->send(kChannel, StandardMethodCodec::instance().encodeMethodCall(
                                 {"onTerminateRequest", EncodableValue()}));
}

}  // namespace korvane::external_plugins

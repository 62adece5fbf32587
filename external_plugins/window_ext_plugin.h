// Stand-in for window_ext's plug-in: its shared instance, its channel, and
// the one operation the application delegate hands quit requests to.
//
// Thread: main thread only.
#pragma once

#include <memory>

#include "platform/embedding/binary_messenger.h"
#include "platform/embedding/plugin_registry.h"

namespace korvane::external_plugins {

class WindowExtPlugin {
 public:
  // The channel the plug-in shares with its Dart side.
  static constexpr const char* kChannel = "window_ext";

  // The shared instance: null until the plug-in registers, then the instance
  // of the latest registration. Its messenger must outlive every use.
  static WindowExtPlugin* instance;

  // Makes the shared instance, keeping `registrar`'s messenger, and installs
  // on "window_ext" a handler that answers every call with
  // FlutterMethodNotImplemented (the stand-in knows none of its methods).
  static void registerWith(FlutterPluginRegistrar& registrar);

  // Hands a quit request to the interface: sends the method call
  // "onTerminateRequest" (no arguments) on "window_ext", wanting no reply.
  void handleTerminateRequest();
  // Calls of handleTerminateRequest so far.
  int terminateRequestCount() const { return terminateRequests_; }

  WindowExtPlugin(const WindowExtPlugin&) = delete;
  WindowExtPlugin& operator=(const WindowExtPlugin&) = delete;

 private:
  explicit WindowExtPlugin(BinaryMessenger& messenger) : messenger_(&messenger) {}

  BinaryMessenger* messenger_;
  int terminateRequests_ = 0;
};

}  // namespace korvane::external_plugins

#include "platform/appkit/flutter_view_controller.h"

#include <cstdio>

#include "platform/appkit/ns_application.h"
#include "platform/diagnostic_log.h"
#include "platform/linux/engine/interface_engine.h"
#include "platform/main_thread.h"

namespace korvane {

FlutterViewController::FlutterViewController() {
  KORVANE_ASSERT_MAIN_THREAD();
  auto interfaceEngine = std::make_shared<InterfaceEngine>(realDiagnosticLog());
  engine_ = interfaceEngine;
  setPreferredContentSize(kDefaultContentSize);
  NSApplication& app = NSApp();
  app.addLaunchTask([&app, weakEngine = std::weak_ptr<InterfaceEngine>(
                               interfaceEngine)]() -> std::optional<std::string> {
    const std::shared_ptr<InterfaceEngine> engine = weakEngine.lock();
    if (engine == nullptr) return std::nullopt;
    if (auto failure = engine->start(app.launchArguments().interfaceSocket)) {
      return failure->message;
    }
    // The ready line: every channel is registered and the socket listens.
    std::printf("interface-socket=%s\n", engine->interfaceSocketPath().c_str());
    std::fflush(stdout);
    return std::nullopt;
  });
}

FlutterViewController::~FlutterViewController() { KORVANE_ASSERT_MAIN_THREAD(); }

std::shared_ptr<FlutterPluginRegistrar> FlutterViewController::registrarForPlugin(
    const std::string& key) {
  KORVANE_ASSERT_MAIN_THREAD();
  registrarKeys_.push_back(key);
  std::shared_ptr<FlutterPluginRegistrar>& registrar = registrars_[key];
  if (registrar == nullptr) {
    registrar = std::make_shared<FlutterPluginRegistrar>(key, engine_->binaryMessenger());
  }
  return registrar;
}

}  // namespace korvane

#include "platform/embedding/flutter_view_controller.h"

#include <cstdio>

#include "platform/appkit/ns_application.h"
#include "platform/diagnostic_log.h"
#include "platform/main_thread.h"

namespace korvane {

FlutterViewController::FlutterViewController()
    : engine_(std::make_shared<FlutterEngine>(diagnosticLog())) {
  KORVANE_ASSERT_MAIN_THREAD();
  setPreferredContentSize(kDefaultContentSize);
  NSApplication& app = NSApp();
  app.addLaunchTask(
      [&app, weakEngine = std::weak_ptr<FlutterEngine>(engine_)]() -> std::optional<std::string> {
        const std::shared_ptr<FlutterEngine> engine = weakEngine.lock();
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

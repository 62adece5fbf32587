// The Flutter view controller: the content of the window that shows the
// interface. It makes and owns its engine and is the plug-in registry of
// that engine.
//
// Made with the plain constructor, it also gives the shared application a
// launch task that starts the engine at the launch arguments'
// --interface-socket path (or where the address rules say) and then prints
// the one line "interface-socket=<path>" on standard output. Nothing else of
// the host ever writes to standard output.
//
// Thread: main thread only.
#pragma once

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/appkit/ns_view_controller.h"
#include "platform/embedding/flutter_engine.h"
#include "platform/embedding/plugin_registry.h"

namespace korvane {

class FlutterViewController : public NSViewController, public FlutterPluginRegistry {
 public:
  // The size the Flutter view asks of its window before the interface has laid
  // itself out.
  static constexpr NSSize kDefaultContentSize{800, 600};

  // A controller with its own engine, which logs to realDiagnosticLog().
  FlutterViewController();
  ~FlutterViewController() override;

  // The engine, the same on every call.
  FlutterEngine& engine() { return *engine_; }

  // The registrar for plug-in `key`: one per key (asked again, the same one),
  // on the engine's messenger.
  std::shared_ptr<FlutterPluginRegistrar> registrarForPlugin(const std::string& key) override;
  // Every key registrarForPlugin was asked for, in order.
  const std::vector<std::string>& registrarKeys() const { return registrarKeys_; }

 private:
  // Shared with the launch task, which must not start an engine that has gone.
  std::shared_ptr<FlutterEngine> engine_;
  std::unordered_map<std::string, std::shared_ptr<FlutterPluginRegistrar>> registrars_;
  std::vector<std::string> registrarKeys_;
};

}  // namespace korvane

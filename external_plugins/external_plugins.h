// Stand-ins for the external Flutter plug-ins (see README.md here): the
// registration entry points only. Thread: main thread.
#pragma once

#include <string>
#include <vector>

#include "platform/embedding/plugin_registry.h"

namespace korvane::external_plugins {

// One registration as a stand-in saw it.
struct Registration {
  std::string pluginClass;
  std::string registrarKey;
  char form;  // 'S' class-level register(with:), 'O' class message, 'I' instance
  friend bool operator==(const Registration&, const Registration&) = default;
};

// Every registration made in this process, in order.
std::vector<Registration>& externalPluginRegistrations();

// The class-level form (register(with:)).
#define KORVANE_EXTERNAL_PLUGIN_S(Name)                                       \
  class Name {                                                                \
   public:                                                                    \
    static void registerWith(FlutterPluginRegistrar& registrar) {             \
      externalPluginRegistrations().push_back({#Name, registrar.key(), 'S'}); \
    }                                                                         \
  };

KORVANE_EXTERNAL_PLUGIN_S(AppLinksMacosPlugin)
KORVANE_EXTERNAL_PLUGIN_S(ConnectivityPlusPlugin)
KORVANE_EXTERNAL_PLUGIN_S(DeviceInfoPlusMacosPlugin)
KORVANE_EXTERNAL_PLUGIN_S(DynamicColorPlugin)
KORVANE_EXTERNAL_PLUGIN_S(FilePickerPlugin)
KORVANE_EXTERNAL_PLUGIN_S(FileSelectorPlugin)
KORVANE_EXTERNAL_PLUGIN_S(FlutterJsPlugin)
KORVANE_EXTERNAL_PLUGIN_S(HotkeyManagerMacosPlugin)
KORVANE_EXTERNAL_PLUGIN_S(MobileScannerPlugin)
KORVANE_EXTERNAL_PLUGIN_S(PathProviderPlugin)
KORVANE_EXTERNAL_PLUGIN_S(ScreenRetrieverMacosPlugin)
KORVANE_EXTERNAL_PLUGIN_S(SharedPreferencesPlugin)
KORVANE_EXTERNAL_PLUGIN_S(TrayManagerPlugin)
KORVANE_EXTERNAL_PLUGIN_S(UrlLauncherPlugin)
KORVANE_EXTERNAL_PLUGIN_S(WebViewFlutterPlugin)
KORVANE_EXTERNAL_PLUGIN_S(WindowExtPlugin)
KORVANE_EXTERNAL_PLUGIN_S(WindowManagerPlugin)

#undef KORVANE_EXTERNAL_PLUGIN_S

// The class-message form (registerWithRegistrar:).
class FPPPackageInfoPlusPlugin {
 public:
  static void registerWithRegistrar(FlutterPluginRegistrar& registrar) {
    externalPluginRegistrations().push_back({"FPPPackageInfoPlusPlugin", registrar.key(), 'O'});
  }
};

class SqflitePlugin {
 public:
  static void registerWithRegistrar(FlutterPluginRegistrar& registrar) {
    externalPluginRegistrations().push_back({"SqflitePlugin", registrar.key(), 'O'});
  }
};

// The instance form (init(with:)).
class InAppWebViewFlutterPlugin {
 public:
  explicit InAppWebViewFlutterPlugin(FlutterPluginRegistrar& registrar) {
    externalPluginRegistrations().push_back({"InAppWebViewFlutterPlugin", registrar.key(), 'I'});
  }
};

}  // namespace korvane::external_plugins

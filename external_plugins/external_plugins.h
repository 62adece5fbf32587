// Stand-ins for the external Flutter plug-ins (see README.md here): the
// registration entry points, and for window_ext and window_manager the few
// operations the application shell calls. Thread: main thread.
#pragma once

#include <functional>
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

// Called with each registration as it is made, with its registrar (for tests
// that look at the engine at that moment); none by default.
using RegistrationObserver = std::function<void(const Registration&, FlutterPluginRegistrar&)>;
void setRegistrationObserver(RegistrationObserver observer);

// Records a registration and tells the observer.
void noteRegistration(Registration registration, FlutterPluginRegistrar& registrar);

// The class-level form (register(with:)).
#define KORVANE_EXTERNAL_PLUGIN_S(Name)                           \
  class Name {                                                    \
   public:                                                        \
    static void registerWith(FlutterPluginRegistrar& registrar) { \
      noteRegistration({#Name, registrar.key(), 'S'}, registrar); \
    }                                                             \
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

#undef KORVANE_EXTERNAL_PLUGIN_S

// The class-message form (registerWithRegistrar:).
class FPPPackageInfoPlusPlugin {
 public:
  static void registerWithRegistrar(FlutterPluginRegistrar& registrar) {
    noteRegistration({"FPPPackageInfoPlusPlugin", registrar.key(), 'O'}, registrar);
  }
};

class SqflitePlugin {
 public:
  static void registerWithRegistrar(FlutterPluginRegistrar& registrar) {
    noteRegistration({"SqflitePlugin", registrar.key(), 'O'}, registrar);
  }
};

// The instance form (init(with:)).
class InAppWebViewFlutterPlugin {
 public:
  explicit InAppWebViewFlutterPlugin(FlutterPluginRegistrar& registrar) {
    noteRegistration({"InAppWebViewFlutterPlugin", registrar.key(), 'I'}, registrar);
  }
};

}  // namespace korvane::external_plugins

// The two plug-ins the application shell talks to.
#include "external_plugins/window_ext_plugin.h"
#include "external_plugins/window_manager_plugin.h"

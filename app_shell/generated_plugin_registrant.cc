#include "app_shell/generated_plugin_registrant.h"

#include "external_plugins/external_plugins.h"

namespace korvane {

void RegisterGeneratedPlugins(FlutterPluginRegistry& registry) {
  using namespace external_plugins;
  AppLinksMacosPlugin::registerWith(*registry.registrarForPlugin("AppLinksMacosPlugin"));
  ConnectivityPlusPlugin::registerWith(*registry.registrarForPlugin("ConnectivityPlusPlugin"));
  DeviceInfoPlusMacosPlugin::registerWith(
      *registry.registrarForPlugin("DeviceInfoPlusMacosPlugin"));
  DynamicColorPlugin::registerWith(*registry.registrarForPlugin("DynamicColorPlugin"));
  FilePickerPlugin::registerWith(*registry.registrarForPlugin("FilePickerPlugin"));
  FileSelectorPlugin::registerWith(*registry.registrarForPlugin("FileSelectorPlugin"));
  // The instance keeps itself alive through the registrar if it needs to.
  InAppWebViewFlutterPlugin(*registry.registrarForPlugin("InAppWebViewFlutterPlugin"));
  FlutterJsPlugin::registerWith(*registry.registrarForPlugin("FlutterJsPlugin"));
  HotkeyManagerMacosPlugin::registerWith(*registry.registrarForPlugin("HotkeyManagerMacosPlugin"));
  MobileScannerPlugin::registerWith(*registry.registrarForPlugin("MobileScannerPlugin"));
  FPPPackageInfoPlusPlugin::registerWithRegistrar(
      *registry.registrarForPlugin("FPPPackageInfoPlusPlugin"));
  PathProviderPlugin::registerWith(*registry.registrarForPlugin("PathProviderPlugin"));
  ScreenRetrieverMacosPlugin::registerWith(
      *registry.registrarForPlugin("ScreenRetrieverMacosPlugin"));
  SharedPreferencesPlugin::registerWith(*registry.registrarForPlugin("SharedPreferencesPlugin"));
  SqflitePlugin::registerWithRegistrar(*registry.registrarForPlugin("SqflitePlugin"));
  // The framework registers nothing: its registrar is only asked for.
  registry.registrarForPlugin("Sqlite3FlutterLibsPlugin");
  TrayManagerPlugin::registerWith(*registry.registrarForPlugin("TrayManagerPlugin"));
  UrlLauncherPlugin::registerWith(*registry.registrarForPlugin("UrlLauncherPlugin"));
  WebViewFlutterPlugin::registerWith(*registry.registrarForPlugin("WebViewFlutterPlugin"));
  WindowExtPlugin::registerWith(*registry.registrarForPlugin("WindowExtPlugin"));
  WindowManagerPlugin::registerWith(*registry.registrarForPlugin("WindowManagerPlugin"));
}

}  // namespace korvane

#include "app_shell/generated_plugin_registrant.h"

#include <gtest/gtest.h>

#include "external_plugins/external_plugins.h"
#include "platform/appkit/flutter_view_controller.h"
#include "platform/appkit/ns_application.h"

namespace korvane {
namespace {

// Catches a plug-in left out, registered twice, out of order, under another
// key, in the wrong form, or a registration made for the sqlite3 libraries.
TEST(RegisterGeneratedPlugins, TwentyOneKeysInOrderWithTheirForms) {
  // Each key with its form: 'S' class-level, 'O' class message, 'I' instance,
  // 'R' registrar only.
  const std::string rows[] = {
      "SAppLinksMacosPlugin",        "SConnectivityPlusPlugin",   "SDeviceInfoPlusMacosPlugin",
      "SDynamicColorPlugin",         "SFilePickerPlugin",         "SFileSelectorPlugin",
      "IInAppWebViewFlutterPlugin",  "SFlutterJsPlugin",          "SHotkeyManagerMacosPlugin",
      "SMobileScannerPlugin",        "OFPPPackageInfoPlusPlugin", "SPathProviderPlugin",
      "SScreenRetrieverMacosPlugin", "SSharedPreferencesPlugin",  "OSqflitePlugin",
      "RSqlite3FlutterLibsPlugin",   "STrayManagerPlugin",        "SUrlLauncherPlugin",
      "SWebViewFlutterPlugin",       "SWindowExtPlugin",          "SWindowManagerPlugin"};
  NSApplication app;
  FlutterViewController registry;
  external_plugins::externalPluginRegistrations().clear();
  RegisterGeneratedPlugins(registry);
  std::vector<std::string> keys;
  std::vector<external_plugins::Registration> expected;
  for (const std::string& row : rows) {
    keys.push_back(row.substr(1));
    // Every key is the plug-in class's own name.
    if (row[0] != 'R') expected.push_back({row.substr(1), row.substr(1), row[0]});
  }
  EXPECT_EQ(registry.registrarKeys(), keys);
  EXPECT_EQ(external_plugins::externalPluginRegistrations(), expected);
}

}  // namespace
}  // namespace korvane

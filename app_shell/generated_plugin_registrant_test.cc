#include "app_shell/generated_plugin_registrant.h"

#include <gtest/gtest.h>

#include "external_plugins/external_plugins.h"
#include "platform/appkit/flutter_view_controller.h"
#include "platform/appkit/ns_application.h"

namespace korvane {
namespace {

using external_plugins::Registration;

// Catches a plug-in left out, registered twice, out of order, under another
// key, in the wrong form, or a registration made for the sqlite3 libraries.
TEST(RegisterGeneratedPlugins, TwentyOneKeysInOrderWithTheirForms) {
  struct Row {
    const char* key;
    char form;  // 'R': registrar only
  } rows[] = {{"AppLinksMacosPlugin", 'S'},
              {"ConnectivityPlusPlugin", 'S'},
              {"DeviceInfoPlusMacosPlugin", 'S'},
              {"DynamicColorPlugin", 'S'},
              {"FilePickerPlugin", 'S'},
              {"FileSelectorPlugin", 'S'},
              {"InAppWebViewFlutterPlugin", 'I'},
              {"FlutterJsPlugin", 'S'},
              {"HotkeyManagerMacosPlugin", 'S'},
              {"MobileScannerPlugin", 'S'},
              {"FPPPackageInfoPlusPlugin", 'O'},
              {"PathProviderPlugin", 'S'},
              {"ScreenRetrieverMacosPlugin", 'S'},
              {"SharedPreferencesPlugin", 'S'},
              {"SqflitePlugin", 'O'},
              {"Sqlite3FlutterLibsPlugin", 'R'},
              {"TrayManagerPlugin", 'S'},
              {"UrlLauncherPlugin", 'S'},
              {"WebViewFlutterPlugin", 'S'},
              {"WindowExtPlugin", 'S'},
              {"WindowManagerPlugin", 'S'}};
  NSApplication app;
  FlutterViewController registry;
  external_plugins::externalPluginRegistrations().clear();
  RegisterGeneratedPlugins(registry);

  std::vector<std::string> keys;
  std::vector<Registration> expected;
  for (const Row& row : rows) {
    keys.push_back(row.key);
    // Every key is the plug-in class's own name.
    if (row.form != 'R') expected.push_back({row.key, row.key, row.form});
  }
  EXPECT_EQ(registry.registrarKeys(), keys);
  EXPECT_EQ(keys.size(), 21u);
  EXPECT_EQ(external_plugins::externalPluginRegistrations(), expected);
}

}  // namespace
}  // namespace korvane

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "app_shell/app_delegate.h"
#include "app_shell/generated_plugin_registrant.h"
#include "app_shell/main_flutter_window.h"
#include "app_shell/main_interface.h"
#include "external_plugins/external_plugins.h"
#include "platform/appkit/flutter_view_controller.h"
#include "platform/appkit/ns_application.h"
#include "platform/embedding/channel_messenger.h"
#include "testing/temp_dir.h"

namespace korvane {
namespace {

// Catches a reopen that skips a window of the list (hidden or already
// visible), fronts them out of order, activates once after the loop instead
// of after each window, leaves the wrong window key, answers false, or
// touches anything when there are no windows or the flag says some are visible.
TEST(AppDelegateTest, ReopenFrontsEachWindowOfTheListInOrder) {
  const std::string a = "A order above 0", b = "B order above 0";
  // Windows, whether the second is shown already, the flag, and the log
  // ("A ..." and "B ..." are about the two windows).
  const std::tuple<size_t, bool, bool, std::vector<std::string>> cases[] = {
      {0, false, false, {}},
      {2,
       false,
       false,
       {a, "A visible", a, "A key", "activate", b, "B visible", b, "A notkey", "B key",
        "activate"}},
      {2,
       true,
       false,
       {a, "A visible", a, "A key", "activate", b, "A notkey", "B key", "activate"}},
      {2, true, true, {}}};
  for (auto [count, shown, hasVisibleWindows, expected] : cases) {
    NSApplication app;
    AppDelegate delegate;
    app.setDelegate(&delegate);
    std::vector<std::unique_ptr<NSWindow>> windows;
    for (size_t i = 0; i < count; ++i)
      windows.push_back(std::make_unique<NSWindow>(NSRect{0, 0, 100, 100}, NSWindowStyleMaskTitled,
                                                   NSBackingStoreBuffered, false));
    if (shown) windows[1]->orderFront(nullptr);
    app.clearChangeLog();
    EXPECT_TRUE(delegate.applicationShouldHandleReopen(app, hasVisibleWindows));
    for (std::string& line : expected)
      if (line != "activate")
        line.replace(0, 1, "window " + std::to_string(windows[line[0] - 'A']->windowNumber()));
    EXPECT_EQ(app.changeLog(), expected);
    EXPECT_EQ(app.isActive(), !expected.empty());
  }
}

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
  for (const std::string& row : rows) {  // every key is the plug-in class's own name
    keys.push_back(row.substr(1));
    if (row[0] != 'R') expected.push_back({keys.back(), keys.back(), row[0]});
  }
  EXPECT_EQ(registry.registrarKeys(), keys);
  EXPECT_EQ(external_plugins::externalPluginRegistrations(), expected);
}

constexpr NSRect kFrame{5, 6, 1000, 700};  // not the Flutter view's own size

class MainFlutterWindowTest : public ::testing::Test {
 protected:
  void TearDown() override { external_plugins::setRegistrationObserver(nullptr); }

  NSApplication app_;
  MainFlutterWindow window_{kFrame, NSWindowStyleMaskTitled, NSBackingStoreBuffered, false};
  const std::string name_ = "window " + std::to_string(window_.windowNumber());
};

// Catches the plug-ins registered before the launch_at_startup handler or
// after the install-location channel, on another engine than the content
// view controller's, NSWindow's awakeFromNib called before the wiring, and a
// window that takes the Flutter view's size instead of keeping its frame.
TEST_F(MainFlutterWindowTest, WakingWiresTheChannelsInOrder) {
  auto messenger = [this]() -> ChannelMessenger& {
    auto& controller = dynamic_cast<FlutterViewController&>(*window_.contentViewController());
    return dynamic_cast<ChannelMessenger&>(controller.engine().binaryMessenger());
  };
  std::vector<std::string> registered, wrong;
  external_plugins::setRegistrationObserver(
      [&](const external_plugins::Registration& registration, FlutterPluginRegistrar& registrar) {
        auto& seen = dynamic_cast<ChannelMessenger&>(registrar.messenger());
        const auto log = app_.changeLog();
        registered.push_back(registration.registrarKey);
        if (!seen.hasHandler("launch_at_startup") || seen.hasHandler("macos_install_location") ||
            &seen != &messenger() || std::count(log.begin(), log.end(), name_ + " awake") != 0) {
          wrong.push_back(registration.registrarKey);
        }
      });
  window_.awakeFromNib();
  EXPECT_EQ(registered.size(), 20u) << "every registration but the registrar-only one";
  EXPECT_EQ(wrong, std::vector<std::string>{});
  EXPECT_TRUE(messenger().hasHandler("launch_at_startup") &&
              messenger().hasHandler("macos_install_location"));
  EXPECT_EQ(app_.changeLog().back(), name_ + " awake");
  EXPECT_EQ(window_.frame(), kFrame);
}

// Catches hiddenWindowAtLaunch skipped for some ordering mode (ordering out
// included) or called before NSWindow has ordered the window.
TEST_F(MainFlutterWindowTest, EveryOrderingIsFollowedByHiddenWindowAtLaunch) {
  NSWindow other({0, 0, 1, 1}, NSWindowStyleMaskTitled, NSBackingStoreBuffered, false);
  other.orderFront(nullptr);
  const std::string hidden = name_ + " hiddenWindowAtLaunch", below = name_ + " order below ",
                    above = name_ + " order above 0", out = name_ + " order out";
  const std::pair<std::function<void()>, std::vector<std::string>> cases[] = {
      {[&] { window_.orderFront(nullptr); }, {above, name_ + " visible", hidden}},
      {[&] { window_.order(NSWindowBelow, other.windowNumber()); },
       {below + std::to_string(other.windowNumber()), hidden}},
      {[&] { window_.makeKeyAndOrderFront(nullptr); }, {above, hidden, name_ + " key"}},
      {[&] { window_.orderOut(nullptr); }, {out, name_ + " hidden", name_ + " notkey", hidden}},
      {[&] { window_.orderOut(nullptr); }, {out, hidden}},
      {[&] { window_.orderBack(nullptr); }, {below + "0", name_ + " visible", hidden}},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(i);
    const int before = external_plugins::hiddenWindowAtLaunchCount(window_.windowNumber());
    app_.clearChangeLog();
    cases[i].first();
    EXPECT_EQ(app_.changeLog(), cases[i].second);
    EXPECT_EQ(external_plugins::hiddenWindowAtLaunchCount(window_.windowNumber()), before + 1);
  }
}

// Catches an interface file that makes the wrong delegate or window, leaves
// the window unwoken, hidden or not key, or loses its frame; closing the last
// window ending the application; and a reopen that does not bring it back.
TEST(MainInterface, MakesAVisibleMainWindowThatOutlivesItsClosing) {
  testing::TempDir dir;
  setenv("XDG_CONFIG_HOME", dir.file("config").c_str(), 1);
  NSApplication app;
  loadMainInterface(app);
  ASSERT_EQ(app.windows().size(), 1u);
  auto* window = dynamic_cast<MainFlutterWindow*>(app.windows().front());
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(dynamic_cast<AppDelegate*>(app.delegate()) != nullptr &&
              dynamic_cast<FlutterViewController*>(window->contentViewController()) != nullptr);
  EXPECT_EQ(window->title(), "Korvane");
  EXPECT_EQ(window->frame(), kMainWindowFrame);
  for (const bool reopened : {false, true}) {
    EXPECT_TRUE(window->isVisible() && window->isKeyWindow()) << reopened;
    window->close();
    EXPECT_FALSE(window->isVisible());
    EXPECT_FALSE(app.stopRequested());
    EXPECT_EQ(app.windows().size(), 1u);
    EXPECT_TRUE(app.handleReopen());
    EXPECT_TRUE(app.isActive()) << reopened;
  }
}

}  // namespace
}  // namespace korvane

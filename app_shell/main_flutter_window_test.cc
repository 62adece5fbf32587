#include "app_shell/main_flutter_window.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "external_plugins/external_plugins.h"
#include "platform/appkit/flutter_view_controller.h"
#include "platform/appkit/ns_application.h"
#include "platform/embedding/channel_messenger.h"
#include "platform/embedding/standard_method_codec.h"
#include "platform/main_loop.h"
#include "testing/temp_dir.h"

namespace korvane {
namespace {

using external_plugins::hiddenWindowAtLaunchCount;

constexpr NSRect kFrame{5, 6, 1000, 700};

class MainFlutterWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The login-item state the launch_at_startup handler reads lives here.
    setenv("XDG_CONFIG_HOME", dir_.file("config").c_str(), 1);
  }
  void TearDown() override { external_plugins::setRegistrationObserver(nullptr); }

  ChannelMessenger& messengerOf(MainFlutterWindow& window) {
    auto* controller = dynamic_cast<FlutterViewController*>(window.contentViewController());
    EXPECT_NE(controller, nullptr);
    return dynamic_cast<ChannelMessenger&>(controller->engine().binaryMessenger());
  }

  testing::TempDir dir_;
  NSApplication app_;
  MainFlutterWindow window_{kFrame, NSWindowStyleMaskTitled, NSBackingStoreBuffered, false};
};

// Catches a window that takes the Flutter view's size instead of keeping the
// frame the interface file gave it.
TEST_F(MainFlutterWindowTest, WakingKeepsTheFrame) {
  ASSERT_NE(FlutterViewController::kDefaultContentSize, (NSSize{kFrame.width, kFrame.height}));
  window_.awakeFromNib();
  EXPECT_NE(dynamic_cast<FlutterViewController*>(window_.contentViewController()), nullptr);
  EXPECT_EQ(window_.frame(), kFrame);
}

// Catches the plug-ins registered before the launch_at_startup handler or
// after the install-location channel, on another engine than the content
// view controller's, or NSWindow's awakeFromNib called before the wiring.
TEST_F(MainFlutterWindowTest, WakingWiresTheChannelsInOrder) {
  struct Seen {
    std::string key;
    bool launchAtStartup;
    bool installLocation;
    bool sameEngine;
    bool awake;
  };
  std::vector<Seen> seen;
  const std::string awake = "window " + std::to_string(window_.windowNumber()) + " awake";
  external_plugins::setRegistrationObserver(
      [&](const external_plugins::Registration& registration, FlutterPluginRegistrar& registrar) {
        auto& messenger = dynamic_cast<ChannelMessenger&>(registrar.messenger());
        const auto log = app_.changeLog();
        seen.push_back({registration.registrarKey, messenger.hasHandler("launch_at_startup"),
                        messenger.hasHandler("macos_install_location"),
                        &messenger == &messengerOf(window_),
                        std::find(log.begin(), log.end(), awake) != log.end()});
      });
  window_.awakeFromNib();
  ASSERT_EQ(seen.size(), 20u) << "every registration but the registrar-only one";
  for (const Seen& s : seen) {
    EXPECT_TRUE(s.launchAtStartup) << s.key;
    EXPECT_FALSE(s.installLocation) << s.key;
    EXPECT_TRUE(s.sameEngine) << s.key;
    EXPECT_FALSE(s.awake) << s.key;
  }
  ChannelMessenger& messenger = messengerOf(window_);
  EXPECT_TRUE(messenger.hasHandler("launch_at_startup"));
  EXPECT_TRUE(messenger.hasHandler("macos_install_location"));
  EXPECT_EQ(app_.changeLog().back(), awake);
  auto* controller = dynamic_cast<FlutterViewController*>(window_.contentViewController());
  ASSERT_EQ(controller->registrarKeys().size(), 21u);
  EXPECT_EQ(controller->registrarKeys()[15], "Sqlite3FlutterLibsPlugin");
}

// Catches a channel wired to the wrong handler: each call is answered by
// its own handler through the engine made on waking.
TEST_F(MainFlutterWindowTest, CallsReachTheirHandlers) {
  window_.awakeFromNib();
  ChannelMessenger& messenger = messengerOf(window_);
  const auto& codec = StandardMethodCodec::instance();
  std::optional<std::vector<uint8_t>> launch, install;
  messenger.dispatch("launch_at_startup", codec.encodeMethodCall({"launchAtStartupIsEnabled", {}}),
                     [&](std::vector<uint8_t> reply) { launch = std::move(reply); });
  messenger.dispatch("macos_install_location",
                     codec.encodeMethodCall({"isDirWritable", EncodableMap{{"path", dir_.path()}}}),
                     [&](std::vector<uint8_t> reply) { install = std::move(reply); });
  ASSERT_TRUE(runMainLoopUntil([&] { return launch && install; }));
  EXPECT_EQ(*launch, codec.encodeSuccessEnvelope(false));
  EXPECT_EQ(*install, codec.encodeSuccessEnvelope(true));
}

// Catches hiddenWindowAtLaunch skipped for some ordering mode (ordering out
// included) or called before NSWindow has ordered the window.
TEST_F(MainFlutterWindowTest, EveryOrderingIsFollowedByHiddenWindowAtLaunch) {
  NSWindow other({0, 0, 1, 1}, NSWindowStyleMaskTitled, NSBackingStoreBuffered, false);
  other.orderFront(nullptr);
  const std::string name = "window " + std::to_string(window_.windowNumber());
  struct Case {
    const char* what;
    std::function<void()> order;
    std::vector<std::string> log;
  } cases[] = {
      {"front",
       [&] { window_.orderFront(nullptr); },
       {name + " order above 0", name + " visible", name + " hiddenWindowAtLaunch"}},
      {"below another",
       [&] { window_.order(NSWindowBelow, other.windowNumber()); },
       {name + " order below " + std::to_string(other.windowNumber()),
        name + " hiddenWindowAtLaunch"}},
      {"key and front",
       [&] { window_.makeKeyAndOrderFront(nullptr); },
       {name + " order above 0", name + " hiddenWindowAtLaunch", name + " key"}},
      {"out",
       [&] { window_.orderOut(nullptr); },
       {name + " order out", name + " hidden", name + " notkey", name + " hiddenWindowAtLaunch"}},
      {"out again",
       [&] { window_.orderOut(nullptr); },
       {name + " order out", name + " hiddenWindowAtLaunch"}},
      {"back",
       [&] { window_.orderBack(nullptr); },
       {name + " order below 0", name + " visible", name + " hiddenWindowAtLaunch"}},
  };
  for (const Case& c : cases) {
    const int before = hiddenWindowAtLaunchCount(window_.windowNumber());
    app_.clearChangeLog();
    c.order();
    EXPECT_EQ(app_.changeLog(), c.log) << c.what;
    EXPECT_EQ(hiddenWindowAtLaunchCount(window_.windowNumber()), before + 1) << c.what;
  }
}

}  // namespace
}  // namespace korvane

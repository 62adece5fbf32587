#include "app_shell/main_flutter_window.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "external_plugins/external_plugins.h"
#include "platform/appkit/flutter_view_controller.h"
#include "platform/appkit/ns_application.h"
#include "platform/embedding/channel_messenger.h"

namespace korvane {
namespace {

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
  EXPECT_TRUE(messenger().hasHandler("launch_at_startup"));
  EXPECT_TRUE(messenger().hasHandler("macos_install_location"));
  EXPECT_EQ(app_.changeLog().back(), name_ + " awake");
  EXPECT_EQ(window_.frame(), kFrame);
}

// Catches hiddenWindowAtLaunch skipped for some ordering mode (ordering out
// included) or called before NSWindow has ordered the window.
TEST_F(MainFlutterWindowTest, EveryOrderingIsFollowedByHiddenWindowAtLaunch) {
  NSWindow other({0, 0, 1, 1}, NSWindowStyleMaskTitled, NSBackingStoreBuffered, false);
  other.orderFront(nullptr);
  const std::string hidden = name_ + " hiddenWindowAtLaunch", below = name_ + " order below ";
  const struct {
    std::function<void()> order;
    std::vector<std::string> log;
  } cases[] = {
      {[&] { window_.orderFront(nullptr); },
       {name_ + " order above 0", name_ + " visible", hidden}},
      {[&] { window_.order(NSWindowBelow, other.windowNumber()); },
       {below + std::to_string(other.windowNumber()), hidden}},
      {[&] { window_.makeKeyAndOrderFront(nullptr); },
       {name_ + " order above 0", hidden, name_ + " key"}},
      {[&] { window_.orderOut(nullptr); },
       {name_ + " order out", name_ + " hidden", name_ + " notkey", hidden}},
      {[&] { window_.orderOut(nullptr); }, {name_ + " order out", hidden}},
      {[&] { window_.orderBack(nullptr); }, {below + "0", name_ + " visible", hidden}},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(i);
    const int before = external_plugins::hiddenWindowAtLaunchCount(window_.windowNumber());
    app_.clearChangeLog();
    cases[i].order();
    EXPECT_EQ(app_.changeLog(), cases[i].log);
    EXPECT_EQ(external_plugins::hiddenWindowAtLaunchCount(window_.windowNumber()), before + 1);
  }
}

}  // namespace
}  // namespace korvane

#include "app_shell/main_interface.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "app_shell/app_delegate.h"
#include "app_shell/main_flutter_window.h"
#include "platform/appkit/flutter_view_controller.h"
#include "testing/temp_dir.h"

namespace korvane {
namespace {

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
  EXPECT_NE(dynamic_cast<AppDelegate*>(app.delegate()), nullptr);
  EXPECT_NE(dynamic_cast<FlutterViewController*>(window->contentViewController()), nullptr);
  EXPECT_EQ(window->title(), "Korvane");
  EXPECT_EQ(window->frame(), kMainWindowFrame);
  for (const bool reopened : {false, true}) {
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(window->isKeyWindow());
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

#include "app_shell/main_interface.h"

#include <memory>

#include "app_shell/app_delegate.h"
#include "app_shell/main_flutter_window.h"

namespace korvane {

void loadMainInterface(NSApplication& app) {
  app.adoptDelegate(std::make_unique<AppDelegate>());
  auto window = std::make_unique<MainFlutterWindow>(
      kMainWindowFrame,
      NSWindowStyleMaskTitled | NSWindowStyleMaskClosable | NSWindowStyleMaskMiniaturizable |
          NSWindowStyleMaskResizable,
      NSBackingStoreBuffered, false);
  MainFlutterWindow& mainWindow = *window;
  app.adoptWindow(std::move(window));
  mainWindow.setTitle("Korvane");
  mainWindow.awakeFromNib();
  mainWindow.makeKeyAndOrderFront(nullptr);
}

}  // namespace korvane

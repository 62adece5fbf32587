#include "app_shell/main_flutter_window.h"

#include <memory>

#include "app_shell/generated_plugin_registrant.h"
#include "external_plugins/external_plugins.h"
#include "install_location/channel/macos_install_location_channel.h"
#include "login_item/launch_at_startup_channel.h"
#include "platform/appkit/flutter_view_controller.h"
#include "platform/embedding/method_channel.h"
#include "platform/services.h"

namespace korvane {

MainFlutterWindow::MainFlutterWindow(NSRect contentRect, NSWindowStyleMask styleMask,
                                     NSBackingStoreType backing, bool defer)
    : NSWindow(contentRect, styleMask, backing, defer) {}

void MainFlutterWindow::awakeFromNib() {
  auto owned = std::make_unique<FlutterViewController>();
  FlutterViewController& flutterViewController = *owned;
  const NSRect windowFrame = frame();
  setContentViewController(std::move(owned));
  setFrame(windowFrame, true);

  BinaryMessenger& messenger = flutterViewController.engine().binaryMessenger();
  registerLaunchAtStartupChannel(messenger, realPlatformServices());

  RegisterGeneratedPlugins(flutterViewController);

  MacosInstallLocationChannel::register_(flutterViewController.engine().binaryMessenger());

  NSWindow::awakeFromNib();
}

void MainFlutterWindow::order(NSWindowOrderingMode mode, int relativeTo) {
  NSWindow::order(mode, relativeTo);
  external_plugins::hiddenWindowAtLaunch(*this);
}

}  // namespace korvane

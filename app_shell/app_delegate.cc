#include "app_shell/app_delegate.h"

#include "external_plugins/external_plugins.h"
#include "platform/appkit/ns_application.h"

namespace korvane {

bool AppDelegate::applicationShouldTerminateAfterLastWindowClosed(NSApplication&) { return false; }

NSApplicationTerminateReply AppDelegate::applicationShouldTerminate(NSApplication&) {
  if (external_plugins::WindowExtPlugin* plugin = external_plugins::WindowExtPlugin::instance) {
    plugin->handleTerminateRequest();
  }
  return NSTerminateCancel;
}

bool AppDelegate::applicationSupportsSecureRestorableState(NSApplication&) { return true; }

bool AppDelegate::applicationShouldHandleReopen(NSApplication& app, bool hasVisibleWindows) {
  if (hasVisibleWindows) return true;
  // A copy: showing a window must not disturb the walk.
  for (NSWindow* window : std::vector<NSWindow*>(app.windows())) {
    if (!window->isVisible()) window->setIsVisible(true);
    window->makeKeyAndOrderFront(this);
    // Once per window, as the window server expects after each ordering.
    app.activateIgnoringOtherApps(true);
  }
  return true;
}

}  // namespace korvane

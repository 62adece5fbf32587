// The application's one window class: when woken from the main interface
// file it becomes the host of the Flutter interface and wires the engine's
// channels; after every ordering it lets window_manager look at it.
//
// Thread: main thread only.
#pragma once

#include "platform/appkit/ns_window.h"

namespace korvane {

class MainFlutterWindow : public NSWindow {
 public:
  // Passed through to NSWindow unchanged.
  MainFlutterWindow(NSRect contentRect, NSWindowStyleMask styleMask, NSBackingStoreType backing,
                    bool defer);

  // In this order: makes a Flutter view controller (with its own engine) the
  // content view controller while keeping the window's frame; installs the
  // "launch_at_startup" handler; registers the plug-ins; registers the
  // "macos_install_location" channel, all on the engine's one messenger;
  // then NSWindow::awakeFromNib.
  void awakeFromNib() override;

  // NSWindow's ordering, then window_manager's hiddenWindowAtLaunch on this
  // window, whatever the mode.
  void order(NSWindowOrderingMode mode, int relativeTo) override;
};

}  // namespace korvane

#include "platform/appkit/ns_application_delegate.h"

namespace korvane {

bool NSApplicationDelegate::applicationShouldTerminateAfterLastWindowClosed(NSApplication&) {
  return false;
}

NSApplicationTerminateReply NSApplicationDelegate::applicationShouldTerminate(NSApplication&) {
  return NSTerminateNow;
}

bool NSApplicationDelegate::applicationSupportsSecureRestorableState(NSApplication&) {
  return false;
}

bool NSApplicationDelegate::applicationShouldHandleReopen(NSApplication&, bool) { return true; }

void NSApplicationDelegate::applicationDidFinishLaunching(NSApplication&) {}

}  // namespace korvane

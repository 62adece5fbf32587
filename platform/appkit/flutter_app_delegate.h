// The Flutter embedding's application delegate: the base of the
// application's own delegate, answering as AppKit does by default.
//
// Thread: main thread only.
#pragma once

#include "platform/appkit/ns_application_delegate.h"

namespace korvane {

class FlutterAppDelegate : public NSApplicationDelegate {};

}  // namespace korvane

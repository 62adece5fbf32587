// The handler of the "launch_at_startup" method channel: reads and sets
// LaunchAtLogin's state and replies before it returns.
//
// Thread: main thread.
#pragma once

#include "platform/embedding/method_call.h"
#include "platform/embedding/method_result.h"

namespace korvane {

// "launchAtStartupIsEnabled": the state as a boolean, arguments ignored.
// "launchAtStartupSetEnabled": sets the state to the boolean under
// "setEnabledValue" and replies null; without a string-keyed map, or when
// that key is missing or not a boolean, replies null and changes nothing.
// Any other name: FlutterMethodNotImplemented.
void handleLaunchAtStartupCall(const FlutterMethodCall& call, FlutterResult result);

}  // namespace korvane

// The "launch_at_startup" method channel: reads and sets a LaunchAtLogin's
// state and replies before the handler returns.
//
// Thread: main thread.
#pragma once

#include "login_item/launch_at_login.h"
#include "platform/embedding/binary_messenger.h"
#include "platform/embedding/method_call.h"
#include "platform/embedding/method_result.h"
#include "platform/services.h"

namespace korvane {

// Installs the handler on `messenger`, over a LaunchAtLogin of its own made
// with `services` (which must outlive the messenger); the handler keeps it for
// as long as it stays installed.
void registerLaunchAtStartupChannel(BinaryMessenger& messenger, const PlatformServices& services);

// "launchAtStartupIsEnabled": the state as a boolean, arguments ignored.
// "launchAtStartupSetEnabled": sets the state to the boolean under
// "setEnabledValue" and replies null; without a string-keyed map, or when
// that key is missing or not a boolean, replies null and changes nothing.
// Any other name: FlutterMethodNotImplemented.
void handleLaunchAtStartupCall(LaunchAtLogin& state, const FlutterMethodCall& call,
                               FlutterResult result);

}  // namespace korvane

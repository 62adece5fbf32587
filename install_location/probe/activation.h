// Bringing other running instances of this application to the front: unhide,
// activate ignoring other applications, then a reopen request that the
// instance answers through its application delegate.
//
// Thread: main thread (the workspace is read and asked there). The outcome of
// a reopen request arrives later on a thread of the workspace's and is only
// logged.
#pragma once

#include "platform/services.h"

namespace korvane::InstallLocationProbe {

// Runs the activation sequence on every other instance (same bundle
// identifier, another process), in the workspace's order. False, touching
// nothing, when the running bundle has no identifier or no other instance
// runs; true otherwise, whatever the requests' outcome.
bool activateOtherInstance(const PlatformServices& services);

// The activation sequence on one instance: unhide, activate ignoring other
// applications, requestReopen. Outcomes are not inspected.
void activateInstance(const PlatformServices& services, const RunningApplication& instance);

// Asks the workspace to open the instance's bundle again (no substitution, no
// new instance, activating), so that the running instance gets a reopen
// request. Nothing for an instance without a bundle URL. Returns at once; the
// completion logs "[install-location] reopen failed pid=<expected>: <error>"
// or, when another process answered, "[install-location] reopen landed
// pid=<answered>, expected <expected>", and nothing when the expected process
// answered or nothing came back. `services.logger` must outlive the request.
void requestReopen(const PlatformServices& services, const RunningApplication& instance);

}  // namespace korvane::InstallLocationProbe

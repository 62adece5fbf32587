// Starting an application's executable apart from this process, the way the
// workspace starts an application that is not running.
//
// The process gets a new session (no terminal, none of this process's job
// control signals), standard input, output and error on "/dev/null", "/" as
// its working directory, default signal dispositions and an empty signal
// mask, no descriptor of this process but those three, and the environment
// it is given. It stays this process's child until it ends, and is then
// reaped through GLib's child watch on the default main context (which the
// host's main loop always serves), so none is left as a zombie.
//
// Thread: environmentForLaunch() on the main thread (it reads the
// environment, which the main thread may change); the rest on any thread.
#pragma once

#include <cstdint>
#include <string>
#include <system_error>
#include <vector>

namespace korvane {

// This process's environment as "NAME=value" entries, less
// KORVANE_INTERFACE_SOCKET: a started copy of the host must choose its own
// interface socket rather than collide with this host's.
std::vector<std::string> environmentForLaunch();

struct LaunchResult {
  int32_t pid = 0;        // the new process; 0 on failure
  std::error_code error;  // why it could not be started (the exec's error too)
};

// Starts `executable` (argument 0 is its path, no other arguments) with
// `environment`.
LaunchResult launchApplication(const std::string& executable,
                               const std::vector<std::string>& environment);

// Whether process `pid`, started by launchApplication(), has ended (also when
// it has already been reaped).
bool launchedProcessHasEnded(int32_t pid);

}  // namespace korvane

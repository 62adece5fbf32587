// The running applications of this user, as the workspace lists them on
// Linux (the list behind Workspace::runningApplications).
//
// A process is an application when its executable lies directly in
// "<Name>.app/Contents/MacOS/" (also after the file was removed while it
// runs): that bundle is its URL and, when the bundle's "Contents/Info.plist"
// holds a string "CFBundleIdentifier", that is its identifier. Processes of
// this user are those whose real user is this process's real user.
#pragma once

#include <chrono>
#include <vector>

#include "platform/workspace.h"

namespace korvane {

// One look at every process of this user, in ascending process identifier,
// applications with their URL and identifier, other processes (and those whose
// executable cannot be read) with neither. A process that ends while it is
// read is left out. Reads the process file system afresh and each bundle's
// information list once; the cost grows with the machine's processes, so it
// is for tools and tests, never for the main thread. Thread: any.
std::vector<RunningApplication> runningApplicationsOfThisUser();

// The applications of this user, kept up to date by a thread of its own the
// way the reference platform's workspace keeps its list: the thread looks at
// the processes about once a second while the list is in use (and again at
// once when it is asked for after a quiet spell), learning the facts of each
// process once. A process is learned anew when its pid, start time or
// executable changes; its identifier is what its bundle held when it was
// first seen, so deleting or replacing the bundle later changes nothing.
class RunningApplicationTable {
 public:
  // The shared table; its thread starts on first use. Any thread.
  static RunningApplicationTable& shared();

  // The applications of this user in ascending process identifier: the
  // latest look, with the hosts that announced themselves (see
  // instance_announcement.h) since added or their announced facts preferred,
  // and the processes that have ended since left out. Costs a small read per
  // application and per announcement: nothing here grows with the machine's
  // other processes. Any thread.
  std::vector<RunningApplication> applications();

  // Waits until the table's thread has looked at the processes once more
  // after this call (at most `limit`); for tests and tools. False on time-out.
  // Any thread but the main thread's handlers.
  bool waitForNextLook(std::chrono::milliseconds limit);

  RunningApplicationTable(const RunningApplicationTable&) = delete;
  RunningApplicationTable& operator=(const RunningApplicationTable&) = delete;

 private:
  RunningApplicationTable();
  class Impl;
  Impl* impl_;  // never destroyed: its thread runs until the process ends
};

}  // namespace korvane

// Where a process's bundle lies, worked out from its executable's path. Pure
// string operations: nothing here looks at the file system.
//
// Thread: any.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace korvane {

// "<Name>.app" when `executable` lies directly in "<Name>.app/Contents/MacOS/"
// (the names "Contents" and "MacOS" and the extension "app" exactly, in that
// letter case); nullopt otherwise.
std::optional<std::string> appBundleOfExecutable(std::string_view executable);

// The running process's bundle: its ".app" bundle as above, else the folder
// that holds the executable.
std::string mainBundlePathOfExecutable(std::string_view executable);

// The executable's path as the kernel reports it for a process
// ("/proc/<pid>/exe"), without the " (deleted)" that marks a file removed
// while it runs.
std::string_view withoutDeletedMark(std::string_view linkTarget);

}  // namespace korvane

// Reading a symbolic link of the process file system, e.g. "/proc/self/exe".
//
// Thread: any.
#pragma once

#include <optional>
#include <string>

namespace korvane {

// The target of the link at `path`; nullopt when it cannot be read (no such
// process, no permission, a kernel thread without an executable).
std::optional<std::string> readLinkTarget(const std::string& path);

}  // namespace korvane

// Path strings as the reference platform's path and file-URL operations treat
// them. Pure string operations: nothing here looks at the file system.
//
// Thread: any.
#pragma once

#include <string>
#include <string_view>

namespace korvane {

// `path` with "/" and `component` appended, without doubling a trailing "/"
// of `path` (an empty `path` gives `component` alone).
std::string appendingPathComponent(std::string_view path, std::string_view component);

// The parent folder: a trailing "/" is dropped first, then the last component
// with the "/" before it; a path directly under the root gives "/", the root
// gives "/", and a single relative component gives "".
std::string deletingLastPathComponent(std::string_view path);

// The last component ("" for "", "/" for the root), trailing "/" ignored.
std::string lastPathComponent(std::string_view path);

// The text after the last "." of the last component; "" when it has none. A
// "." that begins the component does not count: ".hidden" has none.
std::string pathExtension(std::string_view path);

// The path of a file URL made from `path` and standardized: absolute against
// `workingDirectory` when relative, "." and ".." components removed (".." at
// the root stays at the root), repeated "/" collapsed, no trailing "/" (the
// root alone is "/"). Symbolic links are not resolved.
std::string standardizedPath(std::string_view path, std::string_view workingDirectory);

// The same against the process's current working directory.
std::string standardizedPath(std::string_view path);

}  // namespace korvane

// errno as a std::error_code: the one conversion every Linux backend uses, so
// that an error's message and its comparisons (std::errc) are the same
// everywhere.
//
// Thread: any (errno is per thread).
#pragma once

#include <cerrno>
#include <system_error>

namespace korvane::posix {

inline std::error_code errnoCode(int error) { return {error, std::generic_category()}; }

// The calling thread's errno, read at once: call it right after the failing call.
inline std::error_code lastErrnoCode() { return errnoCode(errno); }

}  // namespace korvane::posix

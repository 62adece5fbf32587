// Facts of a process that the process file system ("/proc") reports.
//
// Thread: any. Each call reads one small file; nothing is kept.
#pragma once

#include <cstdint>
#include <optional>

namespace korvane {

// When process `pid` started, in clock ticks after boot ("/proc/<pid>/stat",
// field 22). With the pid it names one process for the life of the system:
// a pid used again by a later process comes with another start time. nullopt
// when there is no such process.
std::optional<uint64_t> processStartTime(int32_t pid);

// The real user id of process `pid` ("Uid:" of "/proc/<pid>/status"); nullopt
// when there is no such process.
std::optional<uint32_t> processRealUser(int32_t pid);

}  // namespace korvane

// What a running host tells the other copies about itself: its announcement,
// "app-<pid>.info" beside its instance endpoint "app-<pid>.sock" (the default
// socket folder, this user's alone).
//
// It holds the facts of the host as they were at its start: its process
// identifier and start time (together they name one process, see
// process_status.h), the application bundle it runs from as the system names
// it, and the bundle identifier it read then. Another copy learns from it who
// the host is at once, without waiting for its own look at the processes, and
// keeps knowing it after the bundle on disk has been deleted or replaced
// (which is what an update does).
//
// The file is text, one "key=value" line each: "pid", "start", and, for a host
// that runs from an application bundle, "bundle" and (when its information
// list has one) "identifier". Values are bytes with "\", control characters
// and DEL written as "\xHH", so a value may hold any byte, a newline or a NUL
// among them. The file is written to a temporary name and renamed into place,
// so a reader never sees half of it.
//
// Thread: any.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

namespace korvane {

struct InstanceAnnouncement {
  int32_t pid = 0;
  uint64_t startTime = 0;
  std::optional<std::string> bundlePath;        // the ".app" folder, links resolved
  std::optional<std::string> bundleIdentifier;  // only with a bundle
  friend bool operator==(const InstanceAnnouncement&, const InstanceAnnouncement&) = default;
};

// The longest announcement file read, in bytes.
inline constexpr size_t kMaxAnnouncementBytes = 64 * 1024;

// "app-<pid>.info".
std::string instanceAnnouncementFileName(int64_t pid);
// The pid of a file name "app-<pid>.info" (a positive decimal number); nullopt
// for any other name.
std::optional<int32_t> pidOfAnnouncementFileName(std::string_view name);

std::string encodeInstanceAnnouncement(const InstanceAnnouncement& announcement);
// nullopt unless `text` is an announcement: the lines above, each once, "pid"
// and "start" numbers, escapes well formed, an identifier only with a bundle.
std::optional<InstanceAnnouncement> decodeInstanceAnnouncement(std::string_view text);

// This process's announcement: its pid and start time, and, when its
// executable lies in "<Name>.app/Contents/MacOS/", that bundle and the
// identifier of the running bundle (as the bundle reader keeps it). nullopt
// when the process file system cannot tell the start time.
std::optional<InstanceAnnouncement> thisInstanceAnnouncement();

// Writes `announcement` as "app-<pid>.info" in `folder`, mode 0600, replacing
// an earlier one. Returns the error, or an empty one.
std::error_code writeInstanceAnnouncement(const std::string& folder,
                                          const InstanceAnnouncement& announcement);

// Reads the announcement file at `path`: a regular file (a final link is not
// followed) of this process's user, at most kMaxAnnouncementBytes, that
// decodes; nullopt otherwise.
std::optional<InstanceAnnouncement> readInstanceAnnouncement(const std::string& path);

}  // namespace korvane

// Walks "/proc": "<pid>/status" for the real user id, "<pid>/exe" for the
// executable's path.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <map>
#include <string_view>

#include "platform/bundle_paths.h"
#include "platform/path_string.h"
#include "platform/proc_link.h"
#include "platform/property_list.h"
#include "platform/running_applications.h"

namespace korvane {
namespace {

std::vector<int32_t> processIdentifiers() {
  std::vector<int32_t> pids;
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return pids;
  while (const dirent* entry = readdir(proc)) {
    const std::string_view name(entry->d_name);
    int32_t pid = 0;
    const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), pid);
    if (error == std::errc() && end == name.data() + name.size() && pid > 0) pids.push_back(pid);
  }
  closedir(proc);
  std::sort(pids.begin(), pids.end());
  return pids;
}

// The real user id from "Uid:\t<real>\t<effective>\t<saved>\t<fs>" of
// "/proc/<pid>/status"; nullopt when the process is gone.
std::optional<uid_t> realUserOf(const std::string& processFolder) {
  const int fd = open((processFolder + "/status").c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  char buffer[4096];
  size_t filled = 0;
  while (filled < sizeof buffer) {
    const ssize_t n = read(fd, buffer + filled, sizeof buffer - filled);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    filled += static_cast<size_t>(n);
  }
  close(fd);
  const std::string_view status(buffer, filled);
  constexpr std::string_view kUid = "\nUid:";
  size_t at = status.find(kUid);
  if (at == std::string_view::npos) return std::nullopt;
  at = status.find_first_not_of(" \t", at + kUid.size());
  if (at == std::string_view::npos) return std::nullopt;
  uid_t uid = 0;
  const auto [end, error] = std::from_chars(status.data() + at, status.data() + status.size(), uid);
  if (error != std::errc()) return std::nullopt;
  return uid;
}

bool stillThere(const std::string& processFolder) {
  struct stat status;
  return stat(processFolder.c_str(), &status) == 0;
}

class IdentifierCache {
 public:
  const std::optional<std::string>& identifierOf(const std::string& bundlePath) {
    auto it = identifiers_.find(bundlePath);
    if (it != identifiers_.end()) return it->second;
    std::optional<std::string> identifier;
    if (auto info =
            readPropertyListStrings(appendingPathComponent(bundlePath, "Contents/Info.plist"))) {
      auto entry = info->find("CFBundleIdentifier");
      if (entry != info->end()) identifier = entry->second;
    }
    return identifiers_.emplace(bundlePath, std::move(identifier)).first->second;
  }

 private:
  std::map<std::string, std::optional<std::string>> identifiers_;
};

}  // namespace

std::vector<RunningApplication> runningApplicationsOfThisUser() {
  const uid_t me = getuid();
  IdentifierCache identifiers;
  std::vector<RunningApplication> applications;
  for (const int32_t pid : processIdentifiers()) {
    const std::string folder = "/proc/" + std::to_string(pid);
    const auto user = realUserOf(folder);
    if (!user || *user != me) continue;
    RunningApplication application;
    application.processIdentifier = pid;
    const auto executable = readLinkTarget(folder + "/exe");
    if (!executable) {
      // Kernel threads and zombies have no executable; a process that ended
      // meanwhile is no longer listed at all.
      if (!stillThere(folder)) continue;
    } else if (auto bundle = appBundleOfExecutable(withoutDeletedMark(*executable))) {
      application.bundleIdentifier = identifiers.identifierOf(*bundle);
      application.bundleURL = FileURL::fileURLWithPath(*bundle);
    }
    applications.push_back(std::move(application));
  }
  return applications;
}

}  // namespace korvane

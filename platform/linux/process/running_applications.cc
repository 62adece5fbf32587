// Looks at "/proc": "<pid>/stat" for the start time, "<pid>/exe" for the
// executable's path, "<pid>/status" for the real user id.
#include "platform/linux/process/running_applications.h"

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string_view>
#include <thread>
#include <unordered_map>

#include "platform/bundle_paths.h"
#include "platform/linux/engine/interface_address.h"
#include "platform/linux/ipc/instance_announcement.h"
#include "platform/linux/process/proc_link.h"
#include "platform/linux/process/process_status.h"
#include "platform/path_string.h"
#include "platform/property_list.h"

namespace korvane {
namespace {

using Clock = std::chrono::steady_clock;

// How often the table looks at the processes while it is in use, and how
// long after its last use it goes on looking.
constexpr std::chrono::milliseconds kLookInterval{1000};
constexpr std::chrono::seconds kInUse{60};

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

std::string processFolder(int32_t pid) { return "/proc/" + std::to_string(pid); }

std::optional<std::string> executableOf(int32_t pid) {
  return readLinkTarget(processFolder(pid) + "/exe");
}

// Each bundle's identifier, read at most once per look.
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

RunningApplication applicationFrom(int32_t pid, const std::string& bundle,
                                   IdentifierCache& identifiers) {
  return RunningApplication{pid, identifiers.identifierOf(bundle),
                            FileURL::fileURLWithPath(bundle)};
}

// An application as the table keeps it: with the start time that, with the
// pid, names the process.
struct Entry {
  RunningApplication application;
  uint64_t startTime = 0;
};

}  // namespace

std::vector<RunningApplication> runningApplicationsOfThisUser() {
  const uid_t me = getuid();
  IdentifierCache identifiers;
  std::vector<RunningApplication> applications;
  for (const int32_t pid : processIdentifiers()) {
    const auto user = processRealUser(pid);
    if (!user || *user != me) continue;
    RunningApplication application{pid, std::nullopt, std::nullopt};
    const auto executable = executableOf(pid);
    if (!executable) {
      // Kernel threads and zombies have no executable; a process that ended
      // meanwhile is no longer listed at all.
      if (!processStartTime(pid)) continue;
    } else if (auto bundle = appBundleOfExecutable(withoutDeletedMark(*executable))) {
      application = applicationFrom(pid, *bundle, identifiers);
    }
    applications.push_back(std::move(application));
  }
  return applications;
}

class RunningApplicationTable::Impl {
 public:
  Impl() : lastUse_(Clock::now()) {
    std::thread([this] { run(); }).detach();
  }

  std::vector<RunningApplication> applications() {
    std::shared_ptr<const std::vector<Entry>> snapshot;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      snapshot = snapshot_;
      const bool quiet = Clock::now() - lastUse_ > kInUse;
      lastUse_ = Clock::now();
      if (quiet) {
        looksWanted_ = true;
        wake_.notify_all();
      }
    }
    std::vector<Entry> entries = *snapshot;
    // Processes that have ended since the look are left out.
    std::erase_if(entries, [](const Entry& entry) {
      return processStartTime(entry.application.processIdentifier) != entry.startTime;
    });
    addAnnouncements(entries);
    std::vector<RunningApplication> applications;
    applications.reserve(entries.size());
    for (Entry& entry : entries) applications.push_back(std::move(entry.application));
    return applications;
  }

  bool waitForNextLook(std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> lock(mutex_);
    lastUse_ = Clock::now();
    // The look under way may have read /proc before the call: wait for the
    // one after it.
    const uint64_t target = looksDone_ + 2;
    looksWanted_ = true;
    wake_.notify_all();
    return done_.wait_for(lock, limit, [&] { return looksDone_ >= target; });
  }

 private:
  // What one look learned of a process, kept while its pid, start time and
  // executable stay the same.
  struct Known {
    uint64_t startTime = 0;
    std::string executable;
    std::optional<RunningApplication> application;  // an application of this user
  };

  void run() {
    for (;;) {
      look();
      std::unique_lock<std::mutex> lock(mutex_);
      ++looksDone_;
      done_.notify_all();
      if (!looksWanted_) {
        if (Clock::now() - lastUse_ > kInUse) {
          wake_.wait(lock, [this] { return looksWanted_; });
        } else {
          wake_.wait_for(lock, kLookInterval, [this] { return looksWanted_; });
        }
      }
      looksWanted_ = false;
    }
  }

  // Runs on the table's thread only; `known_` is its own.
  void look() {
    const uid_t me = getuid();
    IdentifierCache identifiers;
    std::unordered_map<int32_t, Known> known;
    auto entries = std::make_shared<std::vector<Entry>>();
    for (const int32_t pid : processIdentifiers()) {
      const std::optional<uint64_t> start = processStartTime(pid);
      if (!start) continue;  // ended
      // Without the mark of a file removed while it runs: deleting the
      // bundle does not make the process another one.
      const std::optional<std::string> link = executableOf(pid);
      std::string executable(link ? withoutDeletedMark(*link) : std::string_view());
      auto earlier = known_.find(pid);
      Known facts;
      if (earlier != known_.end() && earlier->second.startTime == *start &&
          earlier->second.executable == executable) {
        facts = std::move(earlier->second);
      } else {
        facts.startTime = *start;
        facts.executable = std::move(executable);
        auto bundle = appBundleOfExecutable(facts.executable);
        if (bundle && processRealUser(pid) == me) {
          facts.application = applicationFrom(pid, *bundle, identifiers);
        }
      }
      if (facts.application) entries->push_back(Entry{*facts.application, facts.startTime});
      known.emplace(pid, std::move(facts));
    }
    known_ = std::move(known);
    std::lock_guard<std::mutex> lock(mutex_);
    snapshot_ = std::move(entries);
  }

  // Reads the announcements in this user's default socket folders; an
  // announcement of a live process of this user replaces what the look
  // learned of it, or adds it. `entries`, in ascending pid, are known to be
  // alive; they stay in that order.
  static void addAnnouncements(std::vector<Entry>& entries) {
    const InterfaceAddressInputs inputs = InterfaceAddressInputs::fromProcess(std::nullopt);
    for (const std::string& folder : defaultInterfaceSocketFolders(inputs)) {
      std::string unsafe;
      if (checkInterfaceSocketFolder(folder, inputs.uid, unsafe)) continue;
      DIR* dir = opendir(folder.c_str());
      if (dir == nullptr) continue;
      while (const dirent* item = readdir(dir)) {
        const std::optional<int32_t> pid = pidOfAnnouncementFileName(item->d_name);
        if (!pid) continue;
        auto announced = readInstanceAnnouncement(appendingPathComponent(folder, item->d_name));
        if (!announced || announced->pid != *pid || !announced->bundlePath) continue;
        auto at = std::lower_bound(
            entries.begin(), entries.end(), *pid,
            [](const Entry& e, int32_t p) { return e.application.processIdentifier < p; });
        const bool listed = at != entries.end() && at->application.processIdentifier == *pid;
        // A listed entry was just found alive with its start time; any other
        // announcement may be of a host that has ended.
        const bool alive = listed ? at->startTime == announced->startTime
                                  : processStartTime(*pid) == announced->startTime;
        if (!alive) continue;
        Entry entry{RunningApplication{*pid, announced->bundleIdentifier,
                                       FileURL::fileURLWithPath(*announced->bundlePath)},
                    announced->startTime};
        if (listed) {
          *at = std::move(entry);
        } else {
          entries.insert(at, std::move(entry));
        }
      }
      closedir(dir);
    }
  }

  std::unordered_map<int32_t, Known> known_;  // the table's thread only

  std::mutex mutex_;
  std::condition_variable wake_;  // the thread: a look is wanted
  std::condition_variable done_;  // waiters: a look is done
  std::shared_ptr<const std::vector<Entry>> snapshot_ = std::make_shared<std::vector<Entry>>();
  Clock::time_point lastUse_;
  bool looksWanted_ = false;
  uint64_t looksDone_ = 0;
};

RunningApplicationTable::RunningApplicationTable() : impl_(new Impl()) {}

RunningApplicationTable& RunningApplicationTable::shared() {
  static RunningApplicationTable* table = new RunningApplicationTable();
  return *table;
}

std::vector<RunningApplication> RunningApplicationTable::applications() {
  return impl_->applications();
}

bool RunningApplicationTable::waitForNextLook(std::chrono::milliseconds limit) {
  return impl_->waitForNextLook(limit);
}

}  // namespace korvane

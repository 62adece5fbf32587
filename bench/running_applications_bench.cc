// The main thread's part of the methods that look at the running
// applications, beside 0 and 1,000 idle processes of this user, with a bare
// readdir of /proc as the baseline (what any walk of the processes costs at
// the least, and what grows with the machine).
//
//   BareProcReaddir        opendir + readdir of /proc, nothing read per entry
//   FullProcessWalk        one look at every process (what the main thread
//                          used to do on every call; now the table's thread)
//   ActivateOtherInstance  the whole method: nobody else runs this application
//   RunningAppAtPath       the running flag of "probeCandidate" and the lookup
//                          of "activateInstalled"
//   ScanMainThreadPart     "scanInstalledCopies" until the handler returns
//                          (sibling paths gathered, work queued), both
//                          application folders empty
//   RevealHandler          "revealInFinder" without arguments until it
//                          returns: the least a handler costs, the scan's
//                          baseline
//
// Target: each main-thread figure beside 1,000 processes at most 2x its figure
// beside none + 0.5 ms; the scan's part at most 0.3 ms.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <vector>

#include "install_location/channel/macos_install_location_channel.h"
#include "install_location/probe/activation.h"
#include "install_location/probe/running_instances.h"
#include "platform/linux/ipc/instance_announcement.h"
#include "platform/linux/process/running_applications.h"
#include "platform/main_loop.h"
#include "testing/fakes/test_services.h"
#include "testing/temp_dir.h"

namespace korvane {
namespace {

using namespace std::chrono_literals;

// Idle children of this process, as many as the benchmark's argument asks.
class IdleProcesses {
 public:
  void resize(size_t count) {
    while (pids_.size() > count) {
      kill(pids_.back(), SIGKILL);
      waitpid(pids_.back(), nullptr, 0);
      pids_.pop_back();
    }
    while (pids_.size() < count) {
      const pid_t pid = fork();
      if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);  // never outlives the benchmark
        for (;;) pause();
      }
      if (pid < 0) break;
      pids_.push_back(pid);
    }
    // Let the table learn them, as it would on a machine that has had them.
    RunningApplicationTable::shared().waitForNextLook(30s);
  }
  ~IdleProcesses() { resize(0); }

 private:
  std::vector<pid_t> pids_;
};

IdleProcesses& idle() {
  static IdleProcesses* processes = new IdleProcesses();
  return *processes;
}

// A runtime folder as a host has it: its own endpoint and announcement, and
// another host's.
struct RuntimeFolder {
  testing::TempDir dir;
  RuntimeFolder() {
    const std::string folder = dir.file("korvane");
    mkdir(folder.c_str(), 0700);
    setenv("XDG_RUNTIME_DIR", dir.path().c_str(), 1);
    if (auto self = thisInstanceAnnouncement()) writeInstanceAnnouncement(folder, *self);
    for (const char* name : {"interface-1.sock", "app-1.sock", "interface-2.sock", "app-2.sock"}) {
      close(open((folder + "/" + name).c_str(), O_CREAT | O_WRONLY, 0600));
    }
    writeInstanceAnnouncement(folder, {2, 1, "/Applications/Other.app", "com.example.other"});
  }
};

struct Services {
  RuntimeFolder runtime;
  testing::TempDir dir;
  testing::TestServices test;
  PlatformServices services{test.fileSystem, realWorkspace(), test.logger,
                            test.bundles,    test.folders,    test.loginItems,
                            test.defaults,   test.version,    test.loginItemLogger};
  Services() {
    test.folders.system = dir.file("none-system");
    test.folders.user = dir.file("none-user");
    test.bundles.main.path = dir.file("Korvane.app");
    test.bundles.main.info = PropertyListStrings{
        {"CFBundleIdentifier", "com.example.korvane.bench" + std::to_string(getpid())}};
  }
};

void BareProcReaddir(benchmark::State& state) {
  idle().resize(static_cast<size_t>(state.range(0)));
  size_t entries = 0;
  for (auto _ : state) {
    DIR* proc = opendir("/proc");
    while (readdir(proc) != nullptr) ++entries;
    closedir(proc);
  }
  benchmark::DoNotOptimize(entries);
}

void FullProcessWalk(benchmark::State& state) {
  idle().resize(static_cast<size_t>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(runningApplicationsOfThisUser());
}

void ActivateOtherInstance(benchmark::State& state) {
  idle().resize(static_cast<size_t>(state.range(0)));
  Services s;
  for (auto _ : state) {
    benchmark::DoNotOptimize(InstallLocationProbe::activateOtherInstance(s.services));
  }
}

void RunningAppAtPath(benchmark::State& state) {
  idle().resize(static_cast<size_t>(state.range(0)));
  Services s;
  const std::string path = s.dir.file("Korvane.app");
  for (auto _ : state) {
    benchmark::DoNotOptimize(InstallLocationProbe::runningAppAtPath(s.services, path));
  }
}

// Times the handler until it returns; the reply is awaited outside the timing.
void mainThreadPart(benchmark::State& state, const char* method) {
  idle().resize(static_cast<size_t>(state.range(0)));
  Services s;
  for (auto _ : state) {
    bool replied = false;
    MacosInstallLocationChannel::handleMethodCall(
        FlutterMethodCall{method, EncodableValue()},
        FlutterResult([&replied](FlutterResultValue) { replied = true; }), s.services);
    state.PauseTiming();
    runMainLoopUntil([&replied] { return replied; }, 10s);
    state.ResumeTiming();
  }
}

void ScanMainThreadPart(benchmark::State& state) { mainThreadPart(state, "scanInstalledCopies"); }
void RevealHandler(benchmark::State& state) { mainThreadPart(state, "revealInFinder"); }

BENCHMARK(BareProcReaddir)->Arg(0)->Arg(1000)->Unit(benchmark::kMicrosecond);
BENCHMARK(FullProcessWalk)->Arg(0)->Arg(1000)->Unit(benchmark::kMicrosecond);
BENCHMARK(ActivateOtherInstance)->Arg(0)->Arg(1000)->Unit(benchmark::kMicrosecond);
BENCHMARK(RunningAppAtPath)->Arg(0)->Arg(1000)->Unit(benchmark::kMicrosecond);
BENCHMARK(ScanMainThreadPart)->Arg(0)->Arg(1000)->Unit(benchmark::kMicrosecond);
BENCHMARK(RevealHandler)->Arg(0)->Arg(1000)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace korvane

BENCHMARK_MAIN();

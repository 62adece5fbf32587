// The installed-copy scan beside a bare loop of the system calls it cannot
// avoid, over one folder holding 1,000 copies of this application, 1,000
// other bundles and 1,000 plain files (binary Info.plists), and over one ten
// times that size (the argument).
//
//   BareLoop   list the folder; lstat and stat each ".app" entry; read and
//              parse each Info.plist once (libplist, no checks, nothing kept)
//   Scan       scanInstalledCopies over the same folder, real backends
//
// Target: Scan within 1.2x of BareLoop at both sizes, with no more system
// calls per entry (strace -c shows them). The scan takes each entry's type
// from the listing where the file system records it, so it makes one call
// fewer per ".app" entry than the bare loop.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <fcntl.h>
#include <plist/plist.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "install_location/copies/installed_copies.h"
#include "testing/bundle_maker.h"
#include "testing/fakes/test_services.h"
#include "testing/temp_dir.h"

namespace korvane {
namespace {

constexpr int kEach = 1000;
constexpr char kId[] = "com.example.korvane";

struct Folder {
  testing::TempDir dir;
  std::string apps = dir.file("Applications");
  int each;

  explicit Folder(int scale) : each(kEach * scale) {
    mkdir(apps.c_str(), 0755);
    for (int i = 0; i < each; ++i) {
      const std::string n = std::to_string(i);
      testing::makeBundle(apps + "/Korvane " + n + ".app", testing::bundleInfo(kId, n),
                          testing::PlistFormat::binary);
      testing::makeBundle(apps + "/Other " + n + ".app",
                          testing::bundleInfo("com.other.app" + n, n),
                          testing::PlistFormat::binary);
      const int fd = open((apps + "/file " + n + ".txt").c_str(), O_CREAT | O_WRONLY, 0644);
      close(fd);
    }
  }
};

// One folder per size, made on first use and kept.
Folder& folder(int64_t scale) {
  static Folder* small = new Folder(1);
  if (scale == 1) return *small;
  static Folder* large = new Folder(10);
  return *large;
}

void BareLoop(benchmark::State& state) {
  const std::string& apps = folder(state.range(0)).apps;
  std::vector<char> buffer(64 * 1024);
  size_t parsed = 0;
  for (auto _ : state) {
    DIR* d = opendir(apps.c_str());
    while (dirent* e = readdir(d)) {
      std::string name = e->d_name;
      if (name.size() < 4 || name.compare(name.size() - 4, 4, ".app") != 0) continue;
      const std::string path = apps + "/" + name;
      struct stat st;
      lstat(path.c_str(), &st);
      stat(path.c_str(), &st);
      const int fd = open((path + "/Contents/Info.plist").c_str(), O_RDONLY);
      const ssize_t n = read(fd, buffer.data(), buffer.size());
      close(fd);
      plist_t plist = nullptr;
      plist_from_bin(buffer.data(), static_cast<uint32_t>(n), &plist);
      if (plist != nullptr) ++parsed;
      plist_free(plist);
    }
    closedir(d);
  }
  benchmark::DoNotOptimize(parsed);
}

void Scan(benchmark::State& state) {
  testing::TestServices test;
  const Folder& f = folder(state.range(0));
  test.folders.system = f.apps;
  test.folders.user = std::nullopt;
  test.bundles.main.info = PropertyListStrings{{"CFBundleIdentifier", kId}};
  size_t found = 0;
  for (auto _ : state) {
    const ResultMap map = InstallLocationProbe::scanInstalledCopies(test.services, {});
    found = map.find("candidates")->asList()->size();
  }
  if (found != static_cast<size_t>(f.each)) state.SkipWithError("the scan did not find every copy");
}

BENCHMARK(BareLoop)->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(Scan)->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace
}  // namespace korvane

BENCHMARK_MAIN();

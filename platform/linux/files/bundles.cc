// The running bundle is found from the executable's path ("/proc/self/exe"):
// "<Name>.app" when the executable lies in "<Name>.app/Contents/MacOS/",
// otherwise the folder that holds it.
#include "platform/bundles.h"

#include "platform/bundle_paths.h"
#include "platform/file_url.h"
#include "platform/linux/process/proc_link.h"
#include "platform/path_string.h"

namespace korvane {
namespace {

std::optional<PropertyListStrings> infoOfBundle(const std::string& bundlePath) {
  return readPropertyListStrings(appendingPathComponent(bundlePath, "Contents/Info.plist"));
}

class LinuxBundleReader final : public BundleReader {
 public:
  // Opening the path as a bundle would read this same file (a path that is no
  // folder has no "Contents/Info.plist" under it either), so one read answers.
  std::optional<PropertyListStrings> infoStrings(const std::string& bundlePath) override {
    if (bundlePath.find('\0') != std::string::npos) return std::nullopt;
    return infoOfBundle(bundlePath);
  }

  MainBundle mainBundle() override {
    static const MainBundle* const bundle = new MainBundle(readMainBundle());
    return *bundle;
  }

 private:
  static MainBundle readMainBundle() {
    MainBundle bundle;
    if (auto executable = readLinkTarget("/proc/self/exe")) {
      bundle.path = mainBundlePathOfExecutable(withoutDeletedMark(*executable));
    } else {
      // No process file system: the working directory stands in.
      bundle.path = standardizedPath(FileURL::fileURLWithPath(".").path(), "/");
    }
    bundle.info = infoOfBundle(bundle.path);
    return bundle;
  }
};

}  // namespace

BundleReader& realBundleReader() {
  static LinuxBundleReader* reader = new LinuxBundleReader();
  return *reader;
}

}  // namespace korvane

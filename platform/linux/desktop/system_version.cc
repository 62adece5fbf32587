// Linux has no version of the reference platform's own. It reports 13.0.0,
// the first version with the main application's login-item service, so that
// the newer mechanism (the main application's autostart entry) is used.
#include "platform/system_version.h"

#include <tuple>

namespace korvane {
namespace {

class LinuxSystemVersion final : public SystemVersion {
 public:
  bool isAtLeast(int major, int minor, int patch) override {
    return std::tuple(13, 0, 0) >= std::tuple(major, minor, patch);
  }
};

}  // namespace

SystemVersion& realSystemVersion() {
  static LinuxSystemVersion* version = new LinuxSystemVersion();  // never destroyed
  return *version;
}

}  // namespace korvane

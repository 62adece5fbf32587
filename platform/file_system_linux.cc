// Extended attributes that come from macOS live in the "user." namespace on
// Linux file systems ("com.apple.quarantine" is "user.com.apple.quarantine").
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>

#include "platform/file_system.h"

namespace korvane {
namespace {

bool holdsNul(const std::string& path) { return path.find('\0') != std::string::npos; }

class LinuxFileSystem final : public FileSystem {
 public:
  AttributeLookup extendedAttribute(const std::string& path, const std::string& name) override {
    AttributeLookup result;
    if (holdsNul(path) || holdsNul(name)) {
      result.error = std::make_error_code(std::errc::invalid_argument);
      return result;
    }
    const std::string linuxName = "user." + name;
    // A size query: no buffer. getxattr (not lgetxattr) follows a final link.
    const ssize_t size = getxattr(path.c_str(), linuxName.c_str(), nullptr, 0);
    if (size >= 0) {
      result.status = AttributeLookup::Status::present;
      result.size = static_cast<size_t>(size);
    } else if (errno == ENODATA) {
      result.status = AttributeLookup::Status::missing;
    } else {
      result.error = std::error_code(errno, std::generic_category());
    }
    return result;
  }

  bool isWritableFile(const std::string& path) override {
    if (holdsNul(path)) return false;
    return access(path.c_str(), W_OK) == 0;
  }
};

}  // namespace

FileSystem& realFileSystem() {
  static LinuxFileSystem* fileSystem = new LinuxFileSystem();
  return *fileSystem;
}

}  // namespace korvane

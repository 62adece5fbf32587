#include "platform/application_folders.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "platform/path_string.h"

namespace korvane {
namespace {

// The home folder: $HOME when set and not empty, else this user's entry in
// the password database.
std::optional<std::string> homeFolder() {
  const char* home = std::getenv("HOME");
  if (home != nullptr && *home != '\0') return std::string(home);
  long suggested = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(suggested > 0 ? static_cast<size_t>(suggested) : 4096);
  for (;;) {
    passwd entry{};
    passwd* found = nullptr;
    const int error = getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found);
    if (error == ERANGE && buffer.size() < (size_t{1} << 20)) {
      buffer.resize(buffer.size() * 2);
      continue;
    }
    if (error != 0 || found == nullptr || found->pw_dir == nullptr || *found->pw_dir == '\0') {
      return std::nullopt;
    }
    return std::string(found->pw_dir);
  }
}

class LinuxApplicationFolders final : public ApplicationFolders {
 public:
  std::string systemFolder() override { return "/Applications"; }

  std::optional<std::string> userFolder() override {
    auto home = homeFolder();
    if (!home) return std::nullopt;
    return appendingPathComponent(*home, "Applications");
  }
};

}  // namespace

ApplicationFolders& realApplicationFolders() {
  static LinuxApplicationFolders* folders = new LinuxApplicationFolders();
  return *folders;
}

}  // namespace korvane

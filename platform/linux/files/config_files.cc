#include "platform/linux/files/config_files.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "platform/linux/posix/errno_code.h"
#include "platform/linux/posix/io.h"

namespace korvane {
namespace {

std::optional<std::string> homeFolder() {
  if (const char* home = getenv("HOME"); home != nullptr && home[0] == '/') return home;
  const long suggested = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(suggested > 0 ? static_cast<size_t>(suggested) : 16384);
  passwd entry{};
  passwd* found = nullptr;
  while (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == ERANGE) {
    buffer.resize(buffer.size() * 2);
  }
  if (found == nullptr || found->pw_dir == nullptr || found->pw_dir[0] != '/') return std::nullopt;
  return std::string(found->pw_dir);
}

// mkdir that counts an existing folder as success.
std::optional<ConfigFileError> makeFolder(const std::string& path, mode_t mode) {
  if (mkdir(path.c_str(), mode) == 0) return std::nullopt;
  const int error = errno;
  struct stat info {};
  if (error == EEXIST && stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
    return std::nullopt;
  if (error == EEXIST)
    return ConfigFileError{path, std::make_error_code(std::errc::not_a_directory)};
  return ConfigFileError{path, posix::errnoCode(error)};
}

std::optional<ConfigFileError> makeFolderWithParents(const std::string& path, mode_t mode) {
  for (size_t slash = path.find('/', 1); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    if (slash > 0 && path[slash - 1] == '/') continue;
    const std::string parent = path.substr(0, slash);
    struct stat info {};
    if (stat(parent.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) continue;
    if (auto error = makeFolder(parent, mode)) return error;
  }
  return makeFolder(path, mode);
}

}  // namespace

std::string ConfigFileError::describe(std::string_view what) const {
  std::string text(what);
  text.append(" \"").append(path).append("\": ").append(code.message());
  return text;
}

std::optional<std::string> userConfigFolder() {
  // A relative XDG_CONFIG_HOME is invalid and ignored, as the base-directory rules say.
  if (const char* config = getenv("XDG_CONFIG_HOME"); config != nullptr && config[0] == '/') {
    return std::string(config);
  }
  auto home = homeFolder();
  if (!home) return std::nullopt;
  return *home + (home->back() == '/' ? ".config" : "/.config");
}

std::optional<ConfigFileError> makeConfigSubfolder(const std::string& configFolder,
                                                   const std::string& folder, unsigned mode) {
  if (auto error = makeFolderWithParents(configFolder, S_IRWXU)) return error;
  return makeFolder(configFolder + "/" + folder, static_cast<mode_t>(mode));
}

std::optional<ConfigFileError> replaceFileAtomically(const std::string& folder,
                                                     const std::string& name,
                                                     std::string_view bytes, unsigned mode) {
  const std::string target = folder + "/" + name;
  std::string temporary = folder + "/." + name + ".XXXXXX";
  const int fd = mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) return ConfigFileError{folder, posix::lastErrnoCode()};
  std::optional<ConfigFileError> failure;
  if (fchmod(fd, static_cast<mode_t>(mode)) != 0 ||
      !posix::writeFully(fd, bytes.data(), bytes.size()) || fsync(fd) != 0) {
    failure = ConfigFileError{temporary, posix::lastErrnoCode()};
  }
  if (close(fd) != 0 && !failure) failure = ConfigFileError{temporary, posix::lastErrnoCode()};
  if (!failure && rename(temporary.c_str(), target.c_str()) != 0) {
    failure = ConfigFileError{target, posix::lastErrnoCode()};
  }
  if (failure) {
    unlink(temporary.c_str());
    return failure;
  }
  // The rename itself reaches the disk with the folder's entry.
  if (const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
    fsync(dir);
    close(dir);
  }
  return std::nullopt;
}

}  // namespace korvane

#include "platform/linux/engine/interface_address.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/linux/posix/errno_code.h"

namespace korvane {
namespace {

std::optional<std::string> environmentValue(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

std::string octal(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

// XDG_RUNTIME_DIR can hold the socket folder: set, absolute, and a folder
// this user may create entries in.
bool runtimeDirUsable(const std::optional<std::string>& dir) {
  if (!dir || dir->empty() || dir->front() != '/') return false;
  struct stat info {};
  if (stat(dir->c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return false;
  return access(dir->c_str(), W_OK | X_OK) == 0;
}

std::string tmpFolder(const InterfaceAddressInputs& inputs) {
  const std::string base = inputs.tmpDir && !inputs.tmpDir->empty() ? *inputs.tmpDir : "/tmp";
  return base + "/korvane-" + std::to_string(inputs.uid);
}

InterfaceSocketPath failure(std::error_code error, std::string message) {
  return InterfaceSocketPath{{}, error, std::move(message)};
}

}  // namespace

InterfaceAddressInputs InterfaceAddressInputs::fromProcess(std::optional<std::string> option) {
  InterfaceAddressInputs inputs;
  inputs.option = std::move(option);
  inputs.environment = environmentValue("KORVANE_INTERFACE_SOCKET");
  inputs.runtimeDir = environmentValue("XDG_RUNTIME_DIR");
  inputs.tmpDir = environmentValue("TMPDIR");
  inputs.uid = getuid();
  inputs.pid = getpid();
  return inputs;
}

std::error_code checkInterfaceSocketFolder(const std::string& folder, uint32_t uid,
                                           std::string& message) {
  const std::string where = "interface socket folder " + folder;
  struct stat info {};
  if (lstat(folder.c_str(), &info) != 0) {
    const int error = errno;
    message = where + ": " + std::strerror(error);
    return posix::errnoCode(error);
  }
  if (S_ISLNK(info.st_mode)) {
    message = where + " is a symbolic link; refusing to use it";
    return posix::errnoCode(ELOOP);
  }
  if (!S_ISDIR(info.st_mode)) {
    message = where + " is not a folder";
    return posix::errnoCode(ENOTDIR);
  }
  if (info.st_uid != uid) {
    message = where + " belongs to uid " + std::to_string(info.st_uid) + ", not to uid " +
              std::to_string(uid) + "; refusing to use it";
    return posix::errnoCode(EPERM);
  }
  if ((info.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
    message =
        where + " has mode " + octal(info.st_mode) + ", which lets other users in; it must be 0700";
    return posix::errnoCode(EPERM);
  }
  return {};
}

std::vector<std::string> defaultInterfaceSocketFolders(const InterfaceAddressInputs& inputs) {
  std::vector<std::string> folders;
  if (inputs.runtimeDir && !inputs.runtimeDir->empty() && inputs.runtimeDir->front() == '/') {
    folders.push_back(*inputs.runtimeDir + "/korvane");
  }
  folders.push_back(tmpFolder(inputs));
  return folders;
}

InterfaceSocketPath prepareDefaultSocketPath(const InterfaceAddressInputs& inputs,
                                             std::string_view fileName) {
  const std::string folder =
      runtimeDirUsable(inputs.runtimeDir) ? *inputs.runtimeDir + "/korvane" : tmpFolder(inputs);
  if (mkdir(folder.c_str(), S_IRWXU) != 0 && errno != EEXIST) {
    const int error = errno;
    return failure(posix::errnoCode(error),
                   "cannot make interface socket folder " + folder + ": " + std::strerror(error));
  }
  std::string message;
  if (std::error_code error = checkInterfaceSocketFolder(folder, inputs.uid, message)) {
    return failure(error, std::move(message));
  }
  return InterfaceSocketPath{folder + "/" + std::string(fileName), {}, {}};
}

InterfaceSocketPath prepareInterfaceSocketPath(const InterfaceAddressInputs& inputs) {
  if (inputs.option) {
    if (inputs.option->empty())
      return failure(posix::errnoCode(EINVAL), "--interface-socket needs a path");
    return InterfaceSocketPath{*inputs.option, {}, {}};
  }
  if (inputs.environment && !inputs.environment->empty()) {
    return InterfaceSocketPath{*inputs.environment, {}, {}};
  }
  return prepareDefaultSocketPath(inputs, "interface-" + std::to_string(inputs.pid) + ".sock");
}

}  // namespace korvane

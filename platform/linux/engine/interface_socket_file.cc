#include "platform/linux/engine/interface_socket_file.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/linux/posix/errno_code.h"

namespace korvane {
namespace {

enum class Probe { live, stale, failed };

bool makeAddress(const std::string& path, sockaddr_un& address) {
  address = {};
  address.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path, path.data(), path.size());
  return true;
}

// Connects without waiting: a full backlog (EAGAIN) still means someone listens.
Probe probe(const sockaddr_un& address, int& error) {
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) {
    error = errno;
    return Probe::failed;
  }
  const int result = connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  error = result == 0 ? 0 : errno;
  close(fd);
  if (result == 0 || error == EAGAIN || error == EINPROGRESS) return Probe::live;
  if (error == ECONNREFUSED || error == ENOENT) return Probe::stale;
  return Probe::failed;
}

ListeningSocket failure(int error, std::string message) {
  ListeningSocket result;
  result.error = posix::errnoCode(error);
  result.message = std::move(message);
  return result;
}

}  // namespace

bool interfaceSocketIsLive(const std::string& path) {
  sockaddr_un address;
  int error = 0;
  return makeAddress(path, address) && probe(address, error) == Probe::live;
}

ListeningSocket listenAtInterfaceSocket(const std::string& path, std::string_view what) {
  const std::string where = std::string(what) + " " + path;
  sockaddr_un address;
  if (!makeAddress(path, address)) {
    return failure(ENAMETOOLONG, where + " is not a usable socket path (empty, or longer than " +
                                     std::to_string(sizeof address.sun_path - 1) + " bytes)");
  }
  struct stat info {};
  if (lstat(path.c_str(), &info) == 0) {
    if (!S_ISSOCK(info.st_mode)) {
      return failure(EEXIST, where + " exists and is not a socket; refusing to replace it");
    }
    int error = 0;
    switch (probe(address, error)) {
      case Probe::live:
        return failure(EADDRINUSE,
                       "another host is listening on " + where + "; refusing to take it over");
      case Probe::failed:
        return failure(error, "cannot check " + where + ": " + std::strerror(error));
      case Probe::stale:
        if (unlink(path.c_str()) != 0 && errno != ENOENT) {
          error = errno;
          return failure(error, "cannot remove stale " + where + ": " + std::strerror(error));
        }
        break;
    }
  }

  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) {
    const int error = errno;
    return failure(error, "cannot make " + where + ": " + std::strerror(error));
  }
  // The window between bind and chmod is harmless: every peer's uid is checked
  // on accept, and the default folders are private anyway.
  if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    const int error = errno;
    close(fd);
    if (error == EADDRINUSE) {
      return failure(error,
                     where + " appeared while the host was starting; refusing to take it over");
    }
    return failure(error, "cannot listen on " + where + ": " + std::strerror(error));
  }
  if (chmod(path.c_str(), S_IRUSR | S_IWUSR) != 0 || listen(fd, SOMAXCONN) != 0 ||
      lstat(path.c_str(), &info) != 0) {
    const int error = errno;
    close(fd);
    unlink(path.c_str());
    return failure(error, "cannot listen on " + where + ": " + std::strerror(error));
  }
  ListeningSocket result;
  result.fd = fd;
  result.device = info.st_dev;
  result.inode = info.st_ino;
  return result;
}

void removeInterfaceSocketFile(const std::string& path, uint64_t device, uint64_t inode) {
  struct stat info {};
  if (lstat(path.c_str(), &info) != 0) return;
  if (info.st_dev != device || info.st_ino != inode) return;
  unlink(path.c_str());
}

}  // namespace korvane

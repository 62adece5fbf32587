#include "testing/unix_socket.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <optional>

namespace korvane::testing {
namespace {

std::optional<sockaddr_un> addressOf(const std::string& path) {
  sockaddr_un address{};
  if (path.size() >= sizeof address.sun_path) return std::nullopt;
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.data(), path.size());
  return address;
}

}  // namespace

int connectUnixSocket(const std::string& path) {
  const auto address = addressOf(path);
  if (!address) return -1;
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (connect(fd, reinterpret_cast<const sockaddr*>(&*address), sizeof *address) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

int bindUnixSocket(const std::string& path, bool listening) {
  const auto address = addressOf(path);
  if (!address) return -1;
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (bind(fd, reinterpret_cast<const sockaddr*>(&*address), sizeof *address) != 0 ||
      (listening && listen(fd, 4) != 0)) {
    close(fd);
    return -1;
  }
  return fd;
}

}  // namespace korvane::testing

#include "platform/linux/process/proc_link.h"

#include <unistd.h>

#include <vector>

namespace korvane {

std::optional<std::string> readLinkTarget(const std::string& path) {
  // readlink does not say how long the target is: grow until it fits.
  std::vector<char> buffer(256);
  for (;;) {
    const ssize_t length = readlink(path.c_str(), buffer.data(), buffer.size());
    if (length < 0) return std::nullopt;
    if (static_cast<size_t>(length) < buffer.size()) {
      return std::string(buffer.data(), static_cast<size_t>(length));
    }
    if (buffer.size() >= (size_t{1} << 16)) return std::nullopt;
    buffer.resize(buffer.size() * 4);
  }
}

}  // namespace korvane

// Whole reads and writes on a file descriptor, retrying interrupted calls and
// short transfers.
//
// Thread: any.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <optional>

namespace korvane::posix {

// Reads until `size` bytes are in `buffer` or the end of the file: the count
// read. nullopt on an error, with errno set.
inline std::optional<size_t> readFully(int fd, void* buffer, size_t size) {
  size_t filled = 0;
  while (filled < size) {
    const ssize_t n = ::read(fd, static_cast<char*>(buffer) + filled, size - filled);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::nullopt;
    if (n == 0) break;
    filled += static_cast<size_t>(n);
  }
  return filled;
}

// Writes all `size` bytes; false on an error, with errno set (EIO when the
// descriptor takes nothing).
inline bool writeFully(int fd, const void* bytes, size_t size) {
  size_t done = 0;
  while (done < size) {
    const ssize_t n = ::write(fd, static_cast<const char*>(bytes) + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) errno = EIO;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace korvane::posix

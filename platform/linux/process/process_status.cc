#include "platform/linux/process/process_status.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <string>
#include <string_view>

#include "platform/linux/posix/file_descriptor.h"
#include "platform/linux/posix/io.h"

namespace korvane {
namespace {

// Reads at most `size` bytes of the file; 0 when it cannot be opened.
size_t readSmallFile(const std::string& path, char* buffer, size_t size) {
  const posix::FileDescriptor file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!file.valid()) return 0;
  return posix::readFully(file.get(), buffer, size).value_or(0);
}

std::string processFile(int32_t pid, const char* name) {
  return "/proc/" + std::to_string(pid) + "/" + name;
}

template <typename Number>
std::optional<Number> numberAt(std::string_view text) {
  Number value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end == text.data()) return std::nullopt;
  return value;
}

}  // namespace

std::optional<uint64_t> processStartTime(int32_t pid) {
  if (pid <= 0) return std::nullopt;
  char buffer[1024];
  const std::string_view stat(buffer,
                              readSmallFile(processFile(pid, "stat"), buffer, sizeof buffer));
  // "<pid> (<name>) <state> ...": the name may hold spaces and ")", so the
  // fields are counted from the last ")"; the state is field 3.
  const size_t close = stat.rfind(')');
  if (close == std::string_view::npos) return std::nullopt;
  size_t at = close + 1;
  for (int field = 3; field <= 22; ++field) {
    at = stat.find_first_not_of(' ', at);
    if (at == std::string_view::npos) return std::nullopt;
    if (field == 22) return numberAt<uint64_t>(stat.substr(at));
    at = stat.find(' ', at);
    if (at == std::string_view::npos) return std::nullopt;
  }
  return std::nullopt;
}

std::optional<uint32_t> processRealUser(int32_t pid) {
  if (pid <= 0) return std::nullopt;
  char buffer[4096];
  const std::string_view status(buffer,
                                readSmallFile(processFile(pid, "status"), buffer, sizeof buffer));
  // "Uid:\t<real>\t<effective>\t<saved>\t<fs>"
  constexpr std::string_view kUid = "\nUid:";
  size_t at = status.find(kUid);
  if (at == std::string_view::npos) return std::nullopt;
  at = status.find_first_not_of(" \t", at + kUid.size());
  if (at == std::string_view::npos) return std::nullopt;
  return numberAt<uint32_t>(status.substr(at));
}

}  // namespace korvane

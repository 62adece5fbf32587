#include "platform/linux/ipc/instance_announcement.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <vector>

#include "platform/bundle_paths.h"
#include "platform/bundles.h"
#include "platform/linux/files/config_files.h"
#include "platform/linux/posix/file_descriptor.h"
#include "platform/linux/posix/io.h"
#include "platform/linux/process/proc_link.h"
#include "platform/linux/process/process_status.h"
#include "platform/path_string.h"
#include "platform/process.h"

namespace korvane {
namespace {

constexpr std::string_view kPrefix = "app-";
constexpr std::string_view kSuffix = ".info";
constexpr char kHex[] = "0123456789abcdef";

void appendEscaped(std::string& out, std::string_view value) {
  for (const char c : value) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7f || c == '\\') {
      out += "\\x";
      out += kHex[byte >> 4];
      out += kHex[byte & 0xf];
    } else {
      out += c;
    }
  }
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::optional<std::string> unescaped(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  for (size_t i = 0; i < value.size(); ++i) {
    const auto byte = static_cast<unsigned char>(value[i]);
    if (byte < 0x20 || byte == 0x7f) return std::nullopt;
    if (value[i] != '\\') {
      out += value[i];
      continue;
    }
    if (value.size() - i < 4 || value[i + 1] != 'x') return std::nullopt;
    const int high = hexDigit(value[i + 2]);
    const int low = hexDigit(value[i + 3]);
    if (high < 0 || low < 0) return std::nullopt;
    out += static_cast<char>(high << 4 | low);
    i += 3;
  }
  return out;
}

template <typename Number>
std::optional<Number> wholeNumber(std::string_view text) {
  Number value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || text.empty()) {
    return std::nullopt;
  }
  return value;
}

}  // namespace

std::string instanceAnnouncementFileName(int64_t pid) {
  return std::string(kPrefix) + std::to_string(pid) + std::string(kSuffix);
}

std::optional<int32_t> pidOfAnnouncementFileName(std::string_view name) {
  if (!name.starts_with(kPrefix) || !name.ends_with(kSuffix)) return std::nullopt;
  name.remove_prefix(kPrefix.size());
  name.remove_suffix(kSuffix.size());
  if (name.empty() || name.front() < '1' || name.front() > '9') return std::nullopt;
  return wholeNumber<int32_t>(name);
}

std::string encodeInstanceAnnouncement(const InstanceAnnouncement& announcement) {
  std::string text = "pid=" + std::to_string(announcement.pid) +
                     "\nstart=" + std::to_string(announcement.startTime) + "\n";
  if (announcement.bundlePath) {
    text += "bundle=";
    appendEscaped(text, *announcement.bundlePath);
    text += "\n";
    if (announcement.bundleIdentifier) {
      text += "identifier=";
      appendEscaped(text, *announcement.bundleIdentifier);
      text += "\n";
    }
  }
  return text;
}

std::optional<InstanceAnnouncement> decodeInstanceAnnouncement(std::string_view text) {
  InstanceAnnouncement announcement;
  bool pid = false, start = false;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    if (end == std::string_view::npos) return std::nullopt;  // every line ends in "\n"
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(end + 1);
    const size_t equals = line.find('=');
    if (equals == std::string_view::npos) return std::nullopt;
    const std::string_view key = line.substr(0, equals);
    const std::string_view value = line.substr(equals + 1);
    if (key == "pid" && !pid) {
      auto number = wholeNumber<int32_t>(value);
      if (!number || *number <= 0) return std::nullopt;
      announcement.pid = *number;
      pid = true;
    } else if (key == "start" && !start) {
      auto number = wholeNumber<uint64_t>(value);
      if (!number) return std::nullopt;
      announcement.startTime = *number;
      start = true;
    } else if (key == "bundle" && !announcement.bundlePath) {
      announcement.bundlePath = unescaped(value);
      if (!announcement.bundlePath) return std::nullopt;
    } else if (key == "identifier" && !announcement.bundleIdentifier) {
      announcement.bundleIdentifier = unescaped(value);
      if (!announcement.bundleIdentifier) return std::nullopt;
    } else {
      return std::nullopt;
    }
  }
  if (!pid || !start) return std::nullopt;
  if (announcement.bundleIdentifier && !announcement.bundlePath) return std::nullopt;
  return announcement;
}

std::optional<InstanceAnnouncement> thisInstanceAnnouncement() {
  InstanceAnnouncement announcement;
  announcement.pid = currentProcessIdentifier();
  const std::optional<uint64_t> start = processStartTime(announcement.pid);
  if (!start) return std::nullopt;
  announcement.startTime = *start;
  if (auto executable = readLinkTarget("/proc/self/exe")) {
    announcement.bundlePath = appBundleOfExecutable(withoutDeletedMark(*executable));
  }
  if (announcement.bundlePath) {
    announcement.bundleIdentifier = realBundleReader().mainBundle().bundleIdentifier();
  }
  return announcement;
}

std::error_code writeInstanceAnnouncement(const std::string& folder,
                                          const InstanceAnnouncement& announcement) {
  auto failure = replaceFileAtomically(folder, instanceAnnouncementFileName(announcement.pid),
                                       encodeInstanceAnnouncement(announcement), S_IRUSR | S_IWUSR);
  return failure ? failure->code : std::error_code();
}

std::optional<InstanceAnnouncement> readInstanceAnnouncement(const std::string& path) {
  const posix::FileDescriptor file(
      open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
  if (!file.valid()) return std::nullopt;
  struct stat status {};
  std::vector<char> bytes;
  if (fstat(file.get(), &status) == 0 && S_ISREG(status.st_mode) && status.st_uid == getuid() &&
      static_cast<size_t>(status.st_size) <= kMaxAnnouncementBytes) {
    bytes.resize(static_cast<size_t>(status.st_size) + 1);
    const size_t filled = posix::readFully(file.get(), bytes.data(), bytes.size()).value_or(0);
    // One byte more than it had: it grew while read, so it is not the file we
    // looked at.
    bytes.resize(filled <= static_cast<size_t>(status.st_size) ? filled : 0);
  }
  if (bytes.empty()) return std::nullopt;
  return decodeInstanceAnnouncement(std::string_view(bytes.data(), bytes.size()));
}

}  // namespace korvane

// The property-list reader: POSIX for the file, libplist for the parse, the
// checks in property_list_check.h in between.
#include "platform/property_list.h"

#include <fcntl.h>
#include <plist/plist.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/linux/files/property_list_check.h"
#include "platform/linux/posix/file_descriptor.h"

namespace korvane {
namespace {

struct PlistDeleter {
  void operator()(void* node) const { plist_free(node); }
};
using PlistNode = std::unique_ptr<void, PlistDeleter>;

struct MallocDeleter {
  void operator()(void* p) const { std::free(p); }
};

// The largest read buffer kept for the next file.
constexpr size_t kKeptReadBytes = 64 * 1024;

constexpr uint8_t kBinaryMagic[] = {'b', 'p', 'l', 'i', 's', 't', '0', '0'};
constexpr uint8_t kBinaryPrefix[] = {'b', 'p', 'l', 'i', 's', 't'};
constexpr uint8_t kUtf8ByteOrderMark[] = {0xEF, 0xBB, 0xBF};

bool startsWith(std::span<const uint8_t> bytes, std::span<const uint8_t> prefix) {
  return bytes.size() >= prefix.size() &&
         std::memcmp(bytes.data(), prefix.data(), prefix.size()) == 0;
}

// Reads the whole regular file behind `fd` into `bytes` (whose memory is
// reused); nullopt when it is larger than
// the limit or a read fails. Reads at most one byte past the limit, so a file
// that grows while it is read cannot make this read more. Once the size the
// file had when it was opened has arrived, it stops without the extra read
// that would only confirm the end (a file of reported size 0, as in /proc,
// is read to its end).
std::optional<std::vector<uint8_t>> readAll(int fd, off_t sizeHint, std::vector<uint8_t> bytes) {
  constexpr size_t kCeiling = kMaxPropertyListBytes + 1;
  if (static_cast<size_t>(sizeHint) >= kCeiling) return std::nullopt;
  bytes.clear();
  bytes.resize(std::min<size_t>(static_cast<size_t>(sizeHint) + 1, kCeiling));
  size_t filled = 0;
  for (;;) {
    if (filled == bytes.size()) {
      if (bytes.size() == kCeiling) return std::nullopt;
      bytes.resize(std::min(bytes.size() * 2, kCeiling));
    }
    const ssize_t n = read(fd, bytes.data() + filled, bytes.size() - filled);
    if (n < 0) {
      if (errno == EINTR) continue;
      return std::nullopt;
    }
    if (n == 0) break;
    filled += static_cast<size_t>(n);
    if (sizeHint > 0 && filled == static_cast<size_t>(sizeHint)) break;
  }
  if (filled > kMaxPropertyListBytes) return std::nullopt;
  bytes.resize(filled);
  return bytes;
}

}  // namespace

std::optional<PropertyListStrings> parsePropertyListStrings(std::span<const uint8_t> bytes) {
  if (bytes.empty() || bytes.size() > kMaxPropertyListBytes) return std::nullopt;
  plist_t parsed = nullptr;
  // Binary lists only, and nearly always empty: the top-level 8-bit strings
  // holding a NUL, which the parser cuts there, read whole by the check.
  std::vector<WholeTextEntry> wholeText;
  if (startsWith(bytes, kBinaryMagic)) {
    if (checkBinaryPropertyList(bytes, &wholeText) != PropertyListCheck::ok) return std::nullopt;
    plist_from_bin(reinterpret_cast<const char*>(bytes.data()), static_cast<uint32_t>(bytes.size()),
                   &parsed);
  } else if (startsWith(bytes, kBinaryPrefix)) {
    return std::nullopt;  // another binary format version
  } else {
    if (startsWith(bytes, kUtf8ByteOrderMark)) bytes = bytes.subspan(sizeof(kUtf8ByteOrderMark));
    // XML has no way to carry U+0000 (the parser refuses "&#0;"), and the
    // parser would cut a key at a raw NUL byte.
    if (bytes.empty() || std::memchr(bytes.data(), 0, bytes.size()) != nullptr) return std::nullopt;
    if (checkXmlPropertyList(bytes) != PropertyListCheck::ok) return std::nullopt;
    plist_from_xml(reinterpret_cast<const char*>(bytes.data()), static_cast<uint32_t>(bytes.size()),
                   &parsed);
  }
  PlistNode root(parsed);
  if (!root || plist_get_node_type(root.get()) != PLIST_DICT) return std::nullopt;

  PropertyListStrings strings;
  plist_dict_iter rawIter = nullptr;
  plist_dict_new_iter(root.get(), &rawIter);
  std::unique_ptr<void, MallocDeleter> iter(rawIter);
  if (!iter) return std::nullopt;
  for (size_t entry = 0;; ++entry) {
    char* rawKey = nullptr;
    plist_t value = nullptr;
    plist_dict_next_item(root.get(), iter.get(), &rawKey, &value);
    std::unique_ptr<char, MallocDeleter> parsedKey(rawKey);
    if (!parsedKey) {
      // Entry i of the parse is entry i of the file: the parser keeps every
      // entry, repeated keys included, in order.
      if (!wholeText.empty() && entry != wholeText.size()) return std::nullopt;
      break;
    }
    if (!wholeText.empty() && entry >= wholeText.size()) return std::nullopt;
    const WholeTextEntry* file = wholeText.empty() ? nullptr : &wholeText[entry];
    std::string key = file && file->key ? *file->key : std::string(parsedKey.get());
    // A binary dictionary may repeat a key; as in XML, the last entry wins,
    // also when it is not a string.
    if (value != nullptr && plist_get_node_type(value) == PLIST_STRING) {
      uint64_t length = 0;
      const char* text = plist_get_string_ptr(value, &length);
      strings.insert_or_assign(std::move(key), file && file->value ? *file->value
                                               : text != nullptr   ? std::string(text, length)
                                                                   : std::string());
    } else {
      strings.erase(key);
    }
  }
  return strings;
}

std::optional<PropertyListStrings> readPropertyListStrings(const std::string& path) {
  // O_NONBLOCK: opening a FIFO must not wait for a writer; it is refused below.
  int fd;
  do {
    fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return std::nullopt;
  posix::FileDescriptor file(fd);
  struct stat status {};
  if (fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode)) return std::nullopt;
  if (status.st_size < 0 || static_cast<uint64_t>(status.st_size) > kMaxPropertyListBytes) {
    return std::nullopt;
  }
  // An information list is a few KiB: it is read into memory kept per
  // thread, one allocation fewer for each of the thousands a scan reads.
  thread_local std::vector<uint8_t> kept;
  std::optional<std::vector<uint8_t>> bytes = readAll(file.get(), status.st_size, std::move(kept));
  if (!bytes) return std::nullopt;
  std::optional<PropertyListStrings> strings = parsePropertyListStrings(*bytes);
  if (bytes->capacity() <= kKeptReadBytes) kept = std::move(*bytes);
  return strings;
}

}  // namespace korvane

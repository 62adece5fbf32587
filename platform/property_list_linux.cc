// The property-list reader: POSIX for the file, libplist for the parse, the
// checks in property_list_check.h in between.
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

#include "platform/property_list.h"
#include "platform/property_list_check.h"

namespace korvane {
namespace {

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

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

// Reads `width` (at most 8) big-endian bytes at `at`; nullopt when they are
// not all inside `bytes`.
std::optional<uint64_t> readUnsigned(std::span<const uint8_t> bytes, uint64_t at, uint64_t width) {
  if (width > 8 || at > bytes.size() || width > bytes.size() - at) return std::nullopt;
  uint64_t value = 0;
  for (uint64_t i = 0; i < width; ++i) value = (value << 8) | bytes[at + i];
  return value;
}

// The 8-bit strings among the top-level entries of a binary list, as the file
// holds them, for those that hold a NUL byte: the parser cuts an 8-bit string
// (key or value) at its first NUL, whereas UTF-16 strings come back whole.
// Entry i here is entry i of the parsed dictionary: the parser keeps every
// entry, repeated keys included, in the order of the file.
struct UncutEntry {
  std::optional<std::string> key;
  std::optional<std::string> value;
};

class UncutStrings {
 public:
  // Entry i for every entry of the root dictionary, or none at all when no
  // entry holds such a string; nullopt when the root is not a dictionary
  // (unreadable anyway) or anything read lies out of bounds (which the check
  // rules out before this runs).
  static std::optional<std::vector<UncutEntry>> read(std::span<const uint8_t> bytes) {
    UncutStrings list(bytes);
    return list.entries();
  }

 private:
  static constexpr size_t kTrailerSize = 32;
  static constexpr uint8_t kTypeInteger = 0x1;
  static constexpr uint8_t kTypeAsciiString = 0x5;
  static constexpr uint8_t kTypeDictionary = 0xD;
  static constexpr uint8_t kCountFollows = 0xF;

  struct Head {
    uint8_t type;
    uint64_t count;
    uint64_t bodyAt;
  };

  explicit UncutStrings(std::span<const uint8_t> bytes) : bytes_(bytes) {}

  std::optional<std::vector<UncutEntry>> entries() {
    if (bytes_.size() < sizeof(kBinaryMagic) + kTrailerSize) return std::nullopt;
    const uint64_t trailer = bytes_.size() - kTrailerSize;
    offsetSize_ = bytes_[trailer + 6];
    refSize_ = bytes_[trailer + 7];
    objectCount_ = *readUnsigned(bytes_, trailer + 8, 8);
    const uint64_t top = *readUnsigned(bytes_, trailer + 16, 8);
    tableAt_ = *readUnsigned(bytes_, trailer + 24, 8);
    if (offsetSize_ < 1 || offsetSize_ > 8 || refSize_ < 1 || refSize_ > 8) return std::nullopt;
    // Keeps the sums and products of positions below far from overflowing.
    if (objectCount_ > bytes_.size() || tableAt_ > bytes_.size()) return std::nullopt;
    const std::optional<Head> root = head(top);
    if (!root || root->type != kTypeDictionary || root->count > bytes_.size()) return std::nullopt;
    // Nearly every list holds no such string: it is found without
    // allocating anything, and then nothing is kept.
    std::vector<UncutEntry> entries;
    for (uint64_t i = 0; i < root->count; ++i) {
      const auto keyRef = readUnsigned(bytes_, root->bodyAt + i * refSize_, refSize_);
      const auto valueRef =
          readUnsigned(bytes_, root->bodyAt + (root->count + i) * refSize_, refSize_);
      if (!keyRef || !valueRef) return std::nullopt;
      UncutEntry entry;
      if (!stringWithNul(*keyRef, entry.key)) return std::nullopt;
      if (!stringWithNul(*valueRef, entry.value)) return std::nullopt;
      if (entry.key || entry.value) {
        entries.resize(root->count);  // room for every entry, made once
        entries[i] = std::move(entry);
      }
    }
    return entries;
  }

  // The marker (and count) of object `index`.
  std::optional<Head> head(uint64_t index) const {
    if (index >= objectCount_) return std::nullopt;
    const auto at = readUnsigned(bytes_, tableAt_ + index * offsetSize_, offsetSize_);
    if (!at || *at >= bytes_.size()) return std::nullopt;
    const uint8_t marker = bytes_[*at];
    Head result{static_cast<uint8_t>(marker >> 4), static_cast<uint64_t>(marker & 0xF), *at + 1};
    if (result.count == kCountFollows) {
      const auto countMarker = readUnsigned(bytes_, result.bodyAt, 1);
      if (!countMarker || (*countMarker >> 4) != kTypeInteger || (*countMarker & 0xF) > 3) {
        return std::nullopt;
      }
      const uint64_t width = uint64_t{1} << (*countMarker & 0xF);
      const auto count = readUnsigned(bytes_, result.bodyAt + 1, width);
      if (!count) return std::nullopt;
      result.count = *count;
      result.bodyAt += 1 + width;
    }
    return result;
  }

  // Sets `text` to object `index` when it is an 8-bit string holding a NUL;
  // false when it lies out of bounds.
  bool stringWithNul(uint64_t index, std::optional<std::string>& text) const {
    const std::optional<Head> object = head(index);
    if (!object) return false;
    if (object->type != kTypeAsciiString) return true;
    if (object->bodyAt > bytes_.size() || object->count > bytes_.size() - object->bodyAt) {
      return false;
    }
    const std::string_view chars(reinterpret_cast<const char*>(bytes_.data() + object->bodyAt),
                                 object->count);
    if (chars.find('\0') != std::string_view::npos) text.emplace(chars);
    return true;
  }

  std::span<const uint8_t> bytes_;
  uint64_t offsetSize_ = 0;
  uint64_t refSize_ = 0;
  uint64_t objectCount_ = 0;
  uint64_t tableAt_ = 0;
};

}  // namespace

std::optional<PropertyListStrings> parsePropertyListStrings(std::span<const uint8_t> bytes) {
  if (bytes.empty() || bytes.size() > kMaxPropertyListBytes) return std::nullopt;
  plist_t parsed = nullptr;
  std::optional<std::vector<UncutEntry>> uncut;  // binary lists holding a NUL only
  if (startsWith(bytes, kBinaryMagic)) {
    bool asciiNul = false;
    if (checkBinaryPropertyList(bytes, &asciiNul) != PropertyListCheck::ok) return std::nullopt;
    if (asciiNul) {
      uncut = UncutStrings::read(bytes);
      if (!uncut) return std::nullopt;
      if (uncut->empty()) uncut.reset();
    }
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
      if (uncut && entry != uncut->size()) return std::nullopt;
      break;
    }
    if (uncut && entry >= uncut->size()) return std::nullopt;
    const UncutEntry* file = uncut ? &(*uncut)[entry] : nullptr;
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
  FileDescriptor file(fd);
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

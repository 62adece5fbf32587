// Binary property lists: "bplist00", the objects, an offset table holding
// each object's position, and a 32-byte trailer. Each object starts with a
// marker byte (type in the high nibble, a size or count in the low one; a low
// nibble of 0xF means the count follows as an integer object). Arrays, sets
// and dictionaries hold object indexes ("references") of the trailer's
// reference size; a dictionary holds all its key references, then all its
// value references.
//
// Every reachable object is measured once (depth-first, without recursion)
// and its expanded node count, payload bytes and nesting height are kept, so
// an object shared a million times costs one visit.
#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/linux/files/property_list_check.h"

namespace korvane {
namespace {

constexpr uint8_t kMagic[] = {'b', 'p', 'l', 'i', 's', 't', '0', '0'};
constexpr size_t kHeaderSize = sizeof(kMagic);
constexpr size_t kTrailerSize = 32;

// Object types (the marker's high nibble).
enum : uint8_t {
  kTypeSimple = 0x0,  // 0x08 false, 0x09 true; null and fill are refused by the parser
  kTypeInteger = 0x1,
  kTypeReal = 0x2,
  kTypeDate = 0x3,
  kTypeData = 0x4,
  kTypeAsciiString = 0x5,
  kTypeUtf16String = 0x6,
  kTypeUid = 0x8,
  kTypeArray = 0xA,
  kTypeSet = 0xC,
  kTypeDictionary = 0xD,
};
constexpr uint8_t kMarkerFalse = 0x08;
constexpr uint8_t kMarkerTrue = 0x09;
constexpr uint8_t kCountFollows = 0xF;

uint64_t readBigEndian(const uint8_t* p, size_t width) {
  uint64_t value = 0;
  for (size_t i = 0; i < width; ++i) value = (value << 8) | p[i];
  return value;
}

uint32_t saturatingAdd(uint32_t a, uint64_t b) {
  const uint64_t sum = a + b;
  return sum > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(sum);
}

// One object as its marker describes it.
struct Object {
  uint8_t type = 0;
  size_t refsAt = 0;      // where its references start (containers)
  uint64_t refCount = 0;  // references it holds (a dictionary: 2 per entry)
  uint64_t keyCount = 0;  // the leading references that are keys (dictionaries)
  uint64_t payload = 0;   // bytes the parser allocates for it (strings, data)
  size_t textAt = 0;      // where a string's characters start
  uint64_t length = 0;    // a string's length in characters
  bool container() const {
    return type == kTypeArray || type == kTypeSet || type == kTypeDictionary;
  }
};

// What is known of an object once measured.
struct Measure {
  enum State : uint8_t { unvisited, open, done };
  State state = unvisited;
  uint8_t type = 0;
  bool keyChecked = false;
  uint16_t height = 0;  // nested arrays/dictionaries, itself included
  uint32_t nodes = 0;   // saturating
  uint32_t bytes = 0;   // saturating
};

// A container being measured: its references are visited one by one.
struct Frame {
  uint64_t index;
  Object object;
  uint64_t next = 0;
  uint16_t height = 0;  // tallest child so far
  uint32_t nodes = 1;
  uint32_t bytes = 0;
};

// The checker's working memory, kept per thread between lists: a scan checks
// thousands of small lists one after another. What a large list made it grow
// to is given back afterwards.
struct Scratch {
  static constexpr size_t kKeptObjects = 4096;
  std::vector<Measure> measures;
  std::vector<Frame> stack;

  void trim() {
    if (measures.capacity() > kKeptObjects) std::vector<Measure>().swap(measures);
    stack.clear();
  }
};

Scratch& scratch() {
  thread_local Scratch kept;
  return kept;
}

class BinaryChecker {
 public:
  explicit BinaryChecker(std::span<const uint8_t> bytes)
      : bytes_(bytes), measures_(scratch().measures), stack_(scratch().stack) {
    stack_.clear();
  }
  ~BinaryChecker() { scratch().trim(); }
  // After a run() that passed: the root dictionary's entries whose 8-bit key
  // or value holds a NUL, read whole (empty when there is none). Only looked
  // for when some 8-bit string measured holds one.
  std::vector<WholeTextEntry> wholeTextEntries() const {
    std::vector<WholeTextEntry> entries;
    Object root;
    if (!asciiNul_ || !readObject(topObject_, root) || root.type != kTypeDictionary) return entries;
    for (uint64_t i = 0; i < root.keyCount; ++i) {
      WholeTextEntry entry{textWithNul(referenceAt(root, i)),
                           textWithNul(referenceAt(root, root.keyCount + i))};
      if (!entry.key && !entry.value) continue;
      entries.resize(root.keyCount);  // room for every entry, made once
      entries[i] = std::move(entry);
    }
    return entries;
  }
  BinaryChecker(const BinaryChecker&) = delete;
  BinaryChecker& operator=(const BinaryChecker&) = delete;

  PropertyListCheck run() {
    if (PropertyListCheck c = readTrailer(); c != PropertyListCheck::ok) return c;
    for (uint64_t i = 0; i < objectCount_; ++i) {
      const uint64_t at = offsetOf(i);
      if (at < kHeaderSize || at >= tableAt_) return PropertyListCheck::malformed;
    }
    measures_.assign(objectCount_, Measure{});
    return measureFrom(topObject_);
  }

 private:
  PropertyListCheck readTrailer() {
    const size_t size = bytes_.size();
    if (size < kHeaderSize + 1 + 1 + kTrailerSize) return PropertyListCheck::malformed;
    if (std::memcmp(bytes_.data(), kMagic, kHeaderSize) != 0) return PropertyListCheck::malformed;
    const uint8_t* trailer = bytes_.data() + size - kTrailerSize;
    offsetSize_ = trailer[6];
    refSize_ = trailer[7];
    objectCount_ = readBigEndian(trailer + 8, 8);
    topObject_ = readBigEndian(trailer + 16, 8);
    const uint64_t tableAt = readBigEndian(trailer + 24, 8);
    if (offsetSize_ < 1 || offsetSize_ > 8 || refSize_ < 1 || refSize_ > 8) {
      return PropertyListCheck::malformed;
    }
    if (objectCount_ == 0 || topObject_ >= objectCount_) return PropertyListCheck::malformed;
    const uint64_t tableEndLimit = size - kTrailerSize;
    if (tableAt < kHeaderSize + 1 || tableAt > tableEndLimit) return PropertyListCheck::malformed;
    if (objectCount_ > (tableEndLimit - tableAt) / offsetSize_) return PropertyListCheck::malformed;
    // Every object a writer stores is referenced at least once, so a table
    // listing more objects than the node limit cannot be within it.
    if (objectCount_ > kMaxPropertyListNodes) return PropertyListCheck::tooManyNodes;
    tableAt_ = static_cast<size_t>(tableAt);
    return PropertyListCheck::ok;
  }

  uint64_t offsetOf(uint64_t index) const {
    return readBigEndian(bytes_.data() + tableAt_ + index * offsetSize_, offsetSize_);
  }

  uint64_t referenceAt(const Object& object, uint64_t i) const {
    return readBigEndian(bytes_.data() + object.refsAt + i * refSize_, refSize_);
  }

  // Reads the marker (and count) of object `index`; false when it is not an
  // object the parser accepts or it does not end before the offset table.
  bool readObject(uint64_t index, Object& object) const {
    size_t at = static_cast<size_t>(offsetOf(index));
    const size_t limit = tableAt_;
    const uint8_t marker = bytes_[at++];
    object.type = marker >> 4;
    uint64_t count = marker & 0xF;
    auto fits = [&](uint64_t length) { return length <= limit - at; };

    switch (object.type) {
      case kTypeSimple:
        return marker == kMarkerFalse || marker == kMarkerTrue;
      case kTypeInteger:  // 1, 2, 4, 8 or 16 bytes
        return count <= 4 && fits(uint64_t{1} << count);
      case kTypeReal:  // 4 or 8 bytes
        return (count == 2 || count == 3) && fits(uint64_t{1} << count);
      case kTypeDate:
        return count == 3 && fits(8);
      case kTypeUid:
        return fits(count + 1);
      case kTypeData:
      case kTypeAsciiString:
      case kTypeUtf16String:
      case kTypeArray:
      case kTypeSet:
      case kTypeDictionary:
        break;
      default:
        return false;
    }

    if (count == kCountFollows) {
      if (!fits(1)) return false;
      const uint8_t countMarker = bytes_[at++];
      const unsigned widthLog = countMarker & 0xF;
      if ((countMarker >> 4) != kTypeInteger || widthLog > 3) return false;
      const size_t width = size_t{1} << widthLog;
      if (!fits(width)) return false;
      count = readBigEndian(bytes_.data() + at, width);
      at += width;
    }
    // Every element takes at least one byte, so a count past the limit is out
    // of bounds before any multiplication can overflow.
    if (!fits(count)) return false;

    object.textAt = at;
    object.length = count;
    switch (object.type) {
      case kTypeData:
        object.payload = count;
        return true;
      case kTypeAsciiString:
        object.payload = count + 1;
        return true;
      case kTypeUtf16String:
        object.payload = 4 * (count + 1);  // the parser's UTF-8 buffer
        return fits(2 * count);
      case kTypeArray:
      case kTypeSet:
        object.refsAt = at;
        object.refCount = count;
        return fits(count * refSize_);
      default:  // dictionary
        object.refsAt = at;
        object.refCount = 2 * count;
        object.keyCount = count;
        return fits(2 * count * refSize_);
    }
  }

  // Object `index` when it is an 8-bit string holding a NUL byte.
  std::optional<std::string> textWithNul(uint64_t index) const {
    Object object;
    if (!readObject(index, object) || object.type != kTypeAsciiString) return std::nullopt;
    const std::string_view text(reinterpret_cast<const char*>(bytes_.data() + object.textAt),
                                object.length);
    if (text.find('\0') == std::string_view::npos) return std::nullopt;
    return std::string(text);
  }

  // Whether object `index` may be a dictionary key: a string, and not a
  // UTF-16 one holding U+0000. The parser decodes that to a NUL byte inside
  // the key, and its key accessor then fails an assertion (aborts).
  bool usableKey(uint64_t index) const {
    Object key;
    if (!readObject(index, key)) return false;
    if (key.type == kTypeAsciiString) return true;
    if (key.type != kTypeUtf16String) return false;
    for (uint64_t i = 0; i < key.length; ++i) {
      const uint8_t* unit = bytes_.data() + key.textAt + 2 * i;
      if (unit[0] == 0 && unit[1] == 0) return false;
    }
    return true;
  }

  // Adds a measured child to the running totals of the container at stack
  // position `at` (nesting depth at + 1). A child measured earlier through
  // another path may be tall enough to exceed the depth limit here.
  PropertyListCheck absorb(size_t at, const Measure& child) {
    Frame& frame = stack_[at];
    if (at + 1 + child.height > static_cast<size_t>(kMaxPropertyListDepth)) {
      return PropertyListCheck::tooDeep;
    }
    frame.nodes = saturatingAdd(frame.nodes, child.nodes);
    frame.bytes = saturatingAdd(frame.bytes, child.bytes);
    frame.height = std::max(frame.height, child.height);
    if (frame.nodes > kMaxPropertyListNodes) return PropertyListCheck::tooManyNodes;
    if (frame.bytes > kMaxPropertyListExpandedBytes) return PropertyListCheck::tooManyBytes;
    return PropertyListCheck::ok;
  }

  // Starts measuring object `index`: a leaf is measured at once, a container
  // is pushed. Measures already done are reused.
  PropertyListCheck enter(uint64_t index) {
    Measure& m = measures_[index];
    if (m.state == Measure::done) return PropertyListCheck::ok;
    if (m.state == Measure::open) return PropertyListCheck::cycle;
    Object object;
    if (!readObject(index, object)) return PropertyListCheck::malformed;
    m.type = object.type;
    if (!object.container()) {
      if (object.type == kTypeAsciiString && object.length > 0 &&
          std::memchr(bytes_.data() + object.textAt, 0, object.length) != nullptr) {
        asciiNul_ = true;
      }
      m.state = Measure::done;
      m.nodes = 1;
      m.bytes = saturatingAdd(0, object.payload);
      m.height = 0;
      if (m.bytes > kMaxPropertyListExpandedBytes) return PropertyListCheck::tooManyBytes;
      return PropertyListCheck::ok;
    }
    if (stack_.size() >= static_cast<size_t>(kMaxPropertyListDepth)) {
      return PropertyListCheck::tooDeep;
    }
    m.state = Measure::open;
    stack_.push_back(Frame{.index = index, .object = object});
    return PropertyListCheck::ok;
  }

  PropertyListCheck measureFrom(uint64_t top) {
    if (PropertyListCheck c = enter(top); c != PropertyListCheck::ok) return c;
    while (!stack_.empty()) {
      Frame& frame = stack_.back();
      if (frame.next == frame.object.refCount) {
        Measure& m = measures_[frame.index];
        m.state = Measure::done;
        m.nodes = frame.nodes;
        m.bytes = frame.bytes;
        m.height = static_cast<uint16_t>(frame.height + 1);
        stack_.pop_back();
        if (stack_.empty()) break;
        if (PropertyListCheck c = absorb(stack_.size() - 1, m); c != PropertyListCheck::ok)
          return c;
        continue;
      }
      const bool isKey = frame.next < frame.object.keyCount;
      const uint64_t child = referenceAt(frame.object, frame.next++);
      if (child >= objectCount_) return PropertyListCheck::malformed;
      // `frame` may move when `enter` pushes; only its index is used below.
      const size_t depth = stack_.size();
      if (PropertyListCheck c = enter(child); c != PropertyListCheck::ok) return c;
      const Measure& m = measures_[child];
      if (isKey && !m.keyChecked) {
        if (!usableKey(child)) return PropertyListCheck::malformed;
        measures_[child].keyChecked = true;
      }
      if (stack_.size() == depth) {  // a leaf, or an object measured before
        if (PropertyListCheck c = absorb(depth - 1, m); c != PropertyListCheck::ok) return c;
      }
    }
    if (measures_[top].height > kMaxPropertyListDepth) return PropertyListCheck::tooDeep;
    return PropertyListCheck::ok;
  }

  std::span<const uint8_t> bytes_;
  uint8_t offsetSize_ = 0;
  uint8_t refSize_ = 0;
  uint64_t objectCount_ = 0;
  uint64_t topObject_ = 0;
  size_t tableAt_ = 0;
  std::vector<Measure>& measures_;
  std::vector<Frame>& stack_;
  bool asciiNul_ = false;  // an 8-bit string holds a NUL byte
};

}  // namespace

PropertyListCheck checkBinaryPropertyList(std::span<const uint8_t> bytes,
                                          std::vector<WholeTextEntry>* wholeText) {
  BinaryChecker checker(bytes);
  const PropertyListCheck result = checker.run();
  if (wholeText != nullptr && result == PropertyListCheck::ok) {
    *wholeText = checker.wholeTextEntries();
  }
  return result;
}

}  // namespace korvane

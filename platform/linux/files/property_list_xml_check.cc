// XML property lists. libplist 2.2 reads XML with its own small tokeniser
// and builds the tree without recursion, but frees it recursively, so a
// deeply nested list crashes when it is freed (also when parsing fails
// half-way). Knowing where the parser's dictionaries and arrays open and
// close needs the parser's own view of the text: comments, processing
// instructions, quoted attribute values, CDATA in text, and tag names cut at
// a NUL byte as C strings are. So this follows its tokeniser step by step,
// and refuses whatever the parser would refuse or that it cannot follow.
// The parser stops once the root element is closed; so does this check.
#include <cstring>
#include <string_view>
#include <vector>

#include "platform/linux/files/property_list_check.h"

namespace korvane {
namespace {

enum class Open { plist, dict, array };

class XmlChecker {
 public:
  explicit XmlChecker(std::span<const uint8_t> bytes)
      : data_(reinterpret_cast<const char*>(bytes.data())), end_(bytes.size()) {}

  PropertyListCheck run();

 private:
  bool at(std::string_view s) const {
    return end_ - pos_ >= s.size() && std::memcmp(data_ + pos_, s.data(), s.size()) == 0;
  }

  void skipWhitespace() {
    while (pos_ < end_ && (data_[pos_] == ' ' || data_[pos_] == '\t' || data_[pos_] == '\r' ||
                           data_[pos_] == '\n')) {
      ++pos_;
    }
  }

  // Moves to the next `c`, or to the end. With `skipQuotes`, a double-quoted
  // run is passed over whole.
  void findChar(char c, bool skipQuotes) {
    while (pos_ < end_ && data_[pos_] != c) {
      if (skipQuotes && c != '"' && data_[pos_] == '"') {
        ++pos_;
        findChar('"', false);
        if (pos_ >= end_) return;
      }
      ++pos_;
    }
  }

  // Moves to the next `s` that starts before end - |s|, or to there.
  void findString(std::string_view s, bool skipQuotes) {
    while (pos_ + s.size() < end_) {
      if (std::memcmp(data_ + pos_, s.data(), s.size()) == 0) break;
      if (skipQuotes && data_[pos_] == '"') {
        ++pos_;
        findChar('"', false);
        if (pos_ >= end_) return;
      }
      ++pos_;
    }
  }

  // Moves to the next of `chars`, or to the end.
  void findNext(std::string_view chars, bool skipQuotes) {
    while (pos_ < end_) {
      if (skipQuotes && data_[pos_] == '"') {
        ++pos_;
        findChar('"', false);
        if (pos_ >= end_) return;
      }
      if (chars.find(data_[pos_]) != std::string_view::npos) return;
      ++pos_;
    }
  }

  // The parser compares tags with strncmp(input, tag, tagLength), where the
  // tag is a C string that may be shorter than tagLength.
  bool matchesTag(std::string_view tag, size_t tagLength) const {
    for (size_t i = 0; i < tagLength; ++i) {
      const char expected = i < tag.size() ? tag[i] : '\0';
      if (data_[pos_ + i] != expected) return false;
      if (expected == '\0') return true;
    }
    return true;
  }

  bool skipComment();
  bool skipDoctype();
  bool skipText(std::string_view tag, size_t tagLength);
  PropertyListCheck element();

  const char* data_;
  size_t end_;
  size_t pos_ = 0;
  std::vector<Open> open_;
  bool haveRoot_ = false;
  bool hasContent_ = false;
  int parentDepth_ = 0;  // nesting depth of the node new elements go into
  bool finished_ = false;
};

// After "<!--": skips to past "-->".
bool XmlChecker::skipComment() {
  findString("-->", false);
  if (!at("-->")) return false;
  pos_ += 3;
  return true;
}

// After "<!DOCTYPE": skips to past ">" or, with an internal subset, "]>".
bool XmlChecker::skipDoctype() {
  bool subset = false;
  while (pos_ < end_) {
    findNext(" \t\r\n[>", true);
    if (pos_ >= end_) return false;
    if (data_[pos_] == '[') {
      subset = true;
      break;
    }
    if (data_[pos_] == '>') {
      ++pos_;
      break;
    }
    skipWhitespace();
  }
  if (subset) {
    findString("]>", true);
    if (!at("]>")) return false;
    pos_ += 2;
  }
  return true;
}

// The text of a string, key, number, date or boolean element, up to and
// including its closing tag. Comments and CDATA may interrupt it; no other
// tag may.
bool XmlChecker::skipText(std::string_view tag, size_t tagLength) {
  for (;;) {
    findChar('<', false);
    if (pos_ >= end_) return false;
    if (++pos_ >= end_) return false;
    if (data_[pos_] == '/') break;
    if (data_[pos_] != '!') return false;
    if (++pos_ + 1 >= end_) return false;
    if (data_[pos_] == '-' && data_[pos_ + 1] == '-') {
      pos_ += 2;
      if (!skipComment()) return false;
    } else if (data_[pos_] == '[') {
      if (++pos_ + 8 >= end_) return false;
      if (!at("CDATA[")) return false;
      pos_ += 6;
      findString("]]>", false);
      if (!at("]]>")) return false;
      pos_ += 3;
    } else {
      return false;
    }
  }
  ++pos_;  // past '/'
  if (pos_ + tagLength >= end_ || !matchesTag(tag, tagLength)) return false;
  pos_ += tagLength;
  skipWhitespace();
  if (pos_ >= end_ || data_[pos_] != '>') return false;
  ++pos_;
  return true;
}

// One element tag, its '<' already passed.
PropertyListCheck XmlChecker::element() {
  const size_t start = pos_;
  findNext(" \r\n\t<>", false);
  if (pos_ >= end_) return PropertyListCheck::malformed;
  const size_t tagLength = pos_ - start;
  if (data_[pos_] != '>') findNext("<>", true);
  if (pos_ >= end_ || data_[pos_] != '>') return PropertyListCheck::malformed;
  // The parser copies the name as a C string: it ends at a NUL byte.
  std::string_view tag(data_ + start, tagLength);
  tag = tag.substr(0, tag.find('\0'));
  bool empty = false;
  if (data_[pos_ - 1] == '/') {
    const size_t slash = pos_ - start - 1;
    if (slash < tag.size()) tag = tag.substr(0, slash);
    empty = true;
  }
  ++pos_;

  if (tag == "plist") {
    hasContent_ = false;
    if (open_.empty() && haveRoot_) {  // a second top-level plist: the parser stops
      finished_ = true;
      return PropertyListCheck::ok;
    }
    if (empty) return PropertyListCheck::malformed;
    open_.push_back(Open::plist);
    return PropertyListCheck::ok;
  }
  if (tag == "/plist") {
    if (!hasContent_ || open_.empty() || open_.back() != Open::plist) {
      return PropertyListCheck::malformed;
    }
    open_.pop_back();
    return PropertyListCheck::ok;
  }
  hasContent_ = true;

  if (!tag.empty() && tag[0] == '/') {
    const std::string_view name = tag.substr(1);
    if (open_.empty()) return PropertyListCheck::malformed;
    const Open top = open_.back();
    if (!(top == Open::dict && name == "dict") && !(top == Open::array && name == "array")) {
      return PropertyListCheck::malformed;
    }
    open_.pop_back();
    if (--parentDepth_ == 0) finished_ = true;  // the root is closed: the parser stops
    return PropertyListCheck::ok;
  }

  const bool dict = tag == "dict";
  const bool array = tag == "array";
  if (!dict && !array) {
    if (tag != "string" && tag != "key" && tag != "integer" && tag != "real" && tag != "true" &&
        tag != "false" && tag != "data" && tag != "date") {
      return PropertyListCheck::malformed;
    }
    if (!empty && !skipText(tag, tagLength)) return PropertyListCheck::malformed;
    if (!haveRoot_) {  // a root that is not a container ends the parse
      haveRoot_ = true;
      finished_ = true;
    }
    return PropertyListCheck::ok;
  }

  // The root container becomes the parent even when empty ("<dict/>").
  const int depth = haveRoot_ ? parentDepth_ + 1 : 1;
  if (depth > kMaxPropertyListDepth) return PropertyListCheck::tooDeep;
  if (!haveRoot_) {
    haveRoot_ = true;
    parentDepth_ = 1;
  }
  if (!empty) {
    open_.push_back(dict ? Open::dict : Open::array);
    parentDepth_ = depth;
  }
  return PropertyListCheck::ok;
}

PropertyListCheck XmlChecker::run() {
  while (pos_ < end_ && !finished_) {
    skipWhitespace();
    if (pos_ >= end_) break;
    if (data_[pos_] != '<') return PropertyListCheck::malformed;
    if (++pos_ >= end_) return PropertyListCheck::malformed;
    if (data_[pos_] == '?') {
      findString("?>", true);
      if (!at("?>")) return PropertyListCheck::malformed;
      pos_ += 2;
    } else if (data_[pos_] == '!') {
      if (end_ - pos_ > 3 && at("!--")) {
        pos_ += 3;
        if (!skipComment()) return PropertyListCheck::malformed;
      } else if (end_ - pos_ > 8 && at("!DOCTYPE")) {
        pos_ += 8;
        if (!skipDoctype()) return PropertyListCheck::malformed;
      } else {
        return PropertyListCheck::malformed;
      }
    } else if (PropertyListCheck c = element(); c != PropertyListCheck::ok) {
      return c;
    }
  }
  if (!finished_ && !open_.empty()) return PropertyListCheck::malformed;
  return PropertyListCheck::ok;
}

}  // namespace

PropertyListCheck checkXmlPropertyList(std::span<const uint8_t> bytes) {
  return XmlChecker(bytes).run();
}

}  // namespace korvane

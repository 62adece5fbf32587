#include "platform/property_list.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/linux/files/property_list_check.h"
#include "testing/child_process.h"
#include "testing/temp_dir.h"

namespace korvane {
namespace {

using Bytes = std::vector<uint8_t>;
using Strings = PropertyListStrings;
using C = PropertyListCheck;
using namespace std::string_literals;

const std::string kHead =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST "
    "1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n<plist version=\"1.0\">\n";

Bytes x(const std::string& text) { return Bytes(text.begin(), text.end()); }

// `s` `n` times (halving `n`, so that deep repeats stay shallow).
std::string repeat(const std::string& s, size_t n) {
  return n == 0 ? "" : n % 2 ? s + repeat(s, n - 1) : repeat(s + s, n / 2);
}

// `value` in hex, `width` bytes big-endian.
std::string hex(uint64_t value, unsigned width) {
  std::string out;
  for (unsigned i = 2 * width; i-- > 0;) out += "0123456789ABCDEF"[value >> (4 * i) & 0xF];
  return out;
}

// One object in hex and a space: a marker byte holding the type in its high
// nibble and a count in the low one (from 15 on, 0xF and the count as an
// integer object), then the items (characters, UTF-16 units, data bytes or
// references), `width` bytes each. Types: 08/09 false/true, 1 integer, 2
// real, 3 date, 4 data, 5 8-bit string, 6 UTF-16 string, 8 UID, A array, C
// set, D dictionary (all keys, then all values; it counts pairs).
std::string object(uint8_t type, const std::vector<uint64_t>& items, unsigned width = 1) {
  const uint64_t count = items.size() / (type == 0xD ? 2 : 1);
  std::string out = hex(type << 4 | std::min<uint64_t>(count, 0xF), 1);
  const unsigned log = count <= 0xFF ? 0 : count <= 0xFFFF ? 1 : 2;
  if (count >= 0xF) out += hex(0x10 | log, 1) + hex(count, 1u << log);
  for (uint64_t item : items) out += hex(item, width);
  return out + " ";
}
std::string s(std::string_view text) { return object(0x5, {text.begin(), text.end()}); }
std::string u(std::u16string_view text) { return object(0x6, {text.begin(), text.end()}, 2); }

// A binary list of the objects written in hex, separated by spaces, with
// `top` as its root and `refSize`-byte references; offsets take the fewest
// bytes that hold the table's own offset.
Bytes bplist(const std::string& objects, uint64_t top = 0, unsigned refSize = 1) {
  std::string list = hex(0x62706C6973743030, 8);  // "bplist00"
  std::vector<uint64_t> offsets;
  std::istringstream in(objects);
  for (std::string o; in >> o; list += o) offsets.push_back(list.size() / 2);
  const uint64_t table = list.size() / 2;
  const unsigned offsetSize = table <= 0xFF ? 1 : table <= 0xFFFF ? 2 : 3;  // lists stay small
  for (uint64_t offset : offsets) list += hex(offset, offsetSize);
  list +=
      hex(offsetSize, 7) + hex(refSize, 1) + hex(offsets.size(), 8) + hex(top, 8) + hex(table, 8);
  Bytes out;
  for (size_t i = 0; i < list.size(); i += 2)
    out.push_back(static_cast<uint8_t>(std::stoi(list.substr(i, 2), nullptr, 16)));
  return out;
}

// {"k": "v"}, 50 bytes: objects at 8, 11 and 13, the offset table at 15 (one
// byte per object), then the trailer, whose fields end at these distances from
// the end: offset size -26, reference size -25, object count -17, top object
// -9, table offset -1 (the last three 8 bytes wide, big-endian).
const Bytes kDict = bplist("D10102 516B 5176");

// `list` with the byte at `at` (counted from the end when negative) set to `value`.
Bytes poke(Bytes list, long at, uint8_t value) {
  list[at < 0 ? list.size() - static_cast<size_t>(-at) : static_cast<size_t>(at)] = value;
  return list;
}

// A root array holding `count` pieces: chains of `length` arrays, each piece
// ending in the previous piece's start (the first in an empty array).
Bytes pieces(uint64_t count, uint64_t length) {
  std::vector<uint64_t> starts;
  std::string chains;
  for (uint64_t p = 0; p < count; ++p) {
    starts.push_back(1 + p * length);
    for (uint64_t i = 1; i < length; ++i) chains += object(0xA, {starts[p] + i}, 4);
    chains += p == 0 ? object(0xA, {}) : object(0xA, {starts[p - 1]}, 4);
  }
  return bplist(object(0xA, starts, 4) + chains, 0, 4);
}

// A root array holding `refs` references to one data object of `size` bytes.
Bytes shared(uint64_t refs, size_t size) {
  return bplist(object(0xA, std::vector<uint64_t>(refs, 1)) +
                object(0x4, std::vector<uint64_t>(size, 0x55)));
}

// A binary list whose root dictionary holds `entries` (objects: key, value,
// key, ...) in order, with 2-byte references.
Bytes dict(const std::string& entries) {
  const uint64_t n = std::count(entries.begin(), entries.end(), ' ');
  std::vector<uint64_t> refs;
  for (uint64_t i = 0; i < n; ++i) refs.push_back(i < n / 2 ? 2 * i + 1 : 2 * i - n + 2);
  return bplist(object(0xD, refs, 2) + entries, 0, 2);
}

// Expects `check` to give `expected` for each of `lists` (bytes or text); a
// failure names the list by its place, counted from 0.
template <typename... Lists>
void expectVerdicts(PropertyListCheck (*check)(std::span<const uint8_t>),
                    PropertyListCheck expected, const Lists&... lists) {
  size_t place = 0;
  for (const Bytes& list : {Bytes(lists.begin(), lists.end())...}) {
    EXPECT_EQ(check(list), expected) << "list " << place++;
  }
}

PropertyListCheck binary(std::span<const uint8_t> list) { return checkBinaryPropertyList(list); }

// A hostile binary list would reach the parser and crash or exhaust the host.
// Catches trailer fields, offsets, object extents and references trusted, a
// leaf of a kind or size the parser refuses, non-string or NUL-holding UTF-16
// keys (libplist aborts on a key holding NUL), cycles followed for ever, an
// off-by-one at the depth limit, depth counted along the open path only or in
// 16 bits, shared objects expanded without bound, and a good list refused.
TEST(PropertyListCheck, Binary) {
  std::string doubling = s("x");  // then arrays, each holding the one before twice
  for (uint64_t i = 0; i < 40; ++i) doubling += object(0xA, {i, i});
  const auto leaf = [](const std::string& hex) { return bplist("A101 " + hex); };  // in an array
  // A dictionary; a leaf root; {"k": [every leaf type], u"k2": a set}, the
  // last string's count in a following integer; a UTF-16 key holding a lone
  // surrogate; 512 deep; nodes at the limit.
  expectVerdicts(binary, C::ok, kDict, bplist("5161"),
                 bplist("D201030204 516B AA05060708090A0B0C0D0E 62006B0032 C20506 1007 09 08 "
                        "43010203 23400921FB54442D18 3341C0000000000000 8005 "
                        "1400000000000000010000000000000002 223F800000 5F10027878"),
                 bplist("D10102 620061D83D 09"), pieces(1, 511),
                 shared(kMaxPropertyListNodes - 1, 1));
  // The trailer: offset size 0 and 9, reference size 0 and 9, no objects,
  // the top past them, the table in the header, past the end, running into
  // the trailer, or too large to count; too short; another version; cut
  // short. Offsets into the header, at the table, and an unreached one
  // outside. References past the objects; an array's or a dictionary's
  // references running into the table; an 8-byte one past the objects.
  // Integer and array keys; a UTF-16 key holding U+0000. Leaves past the
  // table (string, UTF-16, integer); a count that is no integer or wider
  // than 8 bytes; a 32-byte integer, a 1-byte real, a 4-byte date; null,
  // fill and unknown types.
  expectVerdicts(
      binary, C::malformed, poke(kDict, -26, 0), poke(kDict, -26, 9), poke(kDict, -25, 0),
      poke(kDict, -25, 9), poke(kDict, -17, 0), poke(kDict, -9, 3), poke(kDict, -1, 4),
      poke(kDict, -8, 0xFF), poke(kDict, -17, 4),
      poke(poke(poke(kDict, -24, 0x40), -17, 0), -26, 8), "bplist00\0\0"s, poke(kDict, 7, '1'),
      Bytes(kDict.begin(), kDict.end() - 1), poke(kDict, -33, 0), poke(kDict, -33, 15),
      poke(bplist("A0 09"), -33, 200), bplist("A20105 09"), bplist("A501 09"),
      bplist("516B D2000000", 1), bplist("A1FFFFFFFFFFFFFFFF", 0, 8), bplist("D10102 1001 09"),
      bplist("D10102 A0 09"), bplist("D10102 63006100000062 09"), leaf("5F11FFFF61"),
      leaf("62006100"), leaf("130102"), leaf("5F21000161"), leaf("5F14" + std::string(34, '0')),
      leaf("15" + std::string(64, '0')), leaf("2001"), leaf("32" + std::string(16, '0')),
      leaf("00"), leaf("0F"), leaf("7161"), leaf("90"), leaf("B0"), leaf("E0"), leaf("F0"));
  // Itself; two arrays holding each other; through a dictionary's value.
  expectVerdicts(binary, C::cycle, bplist("A100"), bplist("A101 A100"), bplist("D10102 516B A100"));
  // 513 and 100,000 deep; a second chain leading into the first, measured
  // before (601 deep though the walk never holds more than 301 open arrays);
  // 66,000 deep in short walks (a height kept in 16 bits wraps to 464).
  expectVerdicts(binary, C::tooDeep, pieces(1, 512), pieces(1, 99990), pieces(2, 300),
                 pieces(132, 500));
  // 40 arrays each holding the next twice; a node past the limit; more
  // objects than the limit; 30 references to 600,000 bytes.
  expectVerdicts(binary, C::tooManyNodes, bplist(doubling, 40), shared(kMaxPropertyListNodes, 1),
                 bplist(repeat("09 ", kMaxPropertyListNodes + 1)));
  expectVerdicts(binary, C::tooManyBytes, shared(30, 600000));
}

// `n` nested `tag`s around `in`, inside a plist element.
std::string nested(size_t n, const std::string& in = "", const std::string& tag = "<array>") {
  return kHead + repeat(tag, n) + in + repeat("</array>", n) + "</plist>\n";
}

// Deep XML nesting that the check misses would overflow the parser's stack.
// Catches an off-by-one at the depth limit, empty containers not counted,
// nesting hidden from a check that tokenises unlike the parser (NUL in a tag
// name, quoted ">", comments, CDATA, instructions), a check that reads on past
// the root where the parser stops, and a good list refused.
TEST(PropertyListCheck, Xml) {
  const std::string a513 = repeat("<array>", 513), a600 = repeat("<array>", 600);
  // Every type; a string root; nothing; 512 deep; many siblings; arrays in a
  // comment, CDATA, a quoted instruction; junk past the root.
  expectVerdicts(checkXmlPropertyList, C::ok,
                 kHead +
                     "<dict>\n\t<key>k</key><array><dict/><array/><integer>3</integer>"
                     "<true/><false/><real>1.5</real><date>2020-01-01T00:00:00Z</date>"
                     "<data>AAEC</data><string>x</string></array>\n</dict>\n</plist>\n",
                 kHead + "<string>x</string></plist>", ""s, nested(512),
                 kHead + "<array>" + repeat("<array/><dict></dict>", 2000) + "</array></plist>",
                 nested(512, "<!--" + a600 + "-->"),
                 nested(511, "<string><![CDATA[" + a600 + "]]></string>"),
                 "<?x a=\"?>" + a600 + "\"?>" + nested(512), kHead + "<dict></dict>junk <array>",
                 kHead + "<dict/></plist><plist>junk");
  // 513 deep, also as an empty array or dictionary; 200,000 unclosed; tag
  // names cut at a NUL; a quoted ">"; a quote or a comment in text.
  expectVerdicts(checkXmlPropertyList, C::tooDeep, nested(513), nested(512, "<array/>"),
                 nested(512, "<dict />"), kHead + repeat("<array>", 200000),
                 nested(513, "", "<array\0>"s), nested(513, "", "<array\0 a>"s),
                 nested(513, "", "<array a=\">\">"),
                 kHead + "<array><string>\"</string>" + a513 + "\"",
                 kHead + "<array><string>a<!-- </string> -->b</string>" + a513);
}

// A string read wrongly would let a crafted list pass for another application.
// Catches strings lost, altered or cut at a NUL (a crafted value read as this
// application's "CFBundleIdentifier", or a crafted key overriding the real
// one), UTF-16 passed on undecoded, UTF-8 or entities mangled, non-strings
// read as text, the first of repeated keys winning or a later non-string
// leaving an earlier string, a byte-order mark refused, an empty dictionary
// refused, a root other than a dictionary or broken or cut-short input
// accepted, and XML holding a NUL parsed at all.
TEST(PropertyList, ParsesTheStringsTheBytesHold) {
  const std::string k = "CFBundleIdentifier", id = "org.example.app";
  std::vector<std::pair<Bytes, std::optional<Strings>>> all = {
      {dict(s("n") + u(u"Caf\u00e9 \U0001F600") + u(u"\u00fc") + s("v")),
       Strings{{"n", "Café 😀"}, {"ü", "v"}}},
      {dict(s(k) + s(id + "\0evil"s)), Strings{{k, id + "\0evil"s}}},
      {dict(s(k) + s(id) + s(k + "\0"s) + s("x")), Strings{{k, id}, {k + "\0"s, "x"}}},
      {dict(s("v") + u(u"12\0"s + u"34")), Strings{{"v", "12\0"s + "34"}}},
      {dict(s("a") + s("2") + s("a") + s("1")), Strings{{"a", "1"}}},
      {bplist("D201030204 5161 5474657874 5161 1005"), Strings{}},  // {"a": "text", "a": 5}
      {x("\xEF\xBB\xBF" + kHead + "<dict><key>a</key><string>Grüße&amp;&lt;</string></dict>"),
       Strings{{"a", "Grüße&<"}}},
      {bplist("D0"), Strings{}},
  };
  for (const Bytes& refused :
       {x(kHead + "<dict><key>" + k + "</key><string>" + id + "\0x"s + "</string></dict></plist>"),
        x(kHead + "<dict><key>a\0x"s + "</key><string>c</string></dict></plist>"),
        x(kHead + "<array><string>a</string></array></plist>"),
        x(kHead + "<string>a</string></plist>"), bplist("A101 5161"), bplist("5161"), x(""),
        x(kHead + "<dict><string>no key</string></dict></plist>"),
        x(kHead + "<dict><key>a</key><string>&bogus;</string></dict></plist>"),
        x(kHead + "<dict><key>a</key><string>&#0;</string></dict></plist>"),
        x("bplist01" + std::string(60, '\0'))})
    all.push_back({refused, std::nullopt});
  for (size_t n = 1; n < kDict.size(); ++n) all.push_back({{kDict.begin(), kDict.begin() + n}, {}});
  for (size_t i = 0; i < all.size(); ++i)
    EXPECT_EQ(parsePropertyListStrings(all[i].first), all[i].second) << "case " << i;
}

// A FIFO, a folder or an oversized file would block or exhaust the reader.
// Catches a missing file, a folder or a FIFO read as something, a FIFO
// blocking the reader (waiting for a writer, then for data) instead of
// reading as unreadable at once, a final link not followed to its regular
// file, an off-by-one at the size limit or a larger file read anyway, and
// about the deepest XML nesting that fits the limit reaching the parser (an unchecked
// libplist 2.2 frees it recursively and overflows a worker's stack). Each
// read runs in a child on a worker's stack with a time limit.
TEST(PropertyListFile, ReadsRegularFilesUpToTheLimit) {
  testing::TempDir dir;
  std::string atLimit = kHead + "<dict><key>a</key><string>b</string></dict></plist>";
  atLimit.resize(kMaxPropertyListBytes, ' ');
  std::ofstream(dir.file("at")) << atLimit;
  std::ofstream(dir.file("over")) << atLimit << ' ';
  std::ofstream(dir.file("deep")) << kHead + repeat("<array>", 140000);  // nearly 1 MiB
  std::filesystem::create_directory(dir.file("folder"));
  ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), S_IRUSR | S_IWUSR), 0);
  std::filesystem::create_symlink(dir.file("at"), dir.file("link"));
  const char* names[] = {"at", "link", "over", "missing", "folder", "fifo", "deep"};
  // In a child killed after 5 seconds, with a worker thread's 1 MiB of stack
  // (less than the main thread's 8 MiB): a mask of the names read wrongly
  // (the first two read as {"a": "b"}, the others as unreadable).
  const int wrong = testing::runInChild([&] {
    alarm(5);
    const rlimit worker{1024 * 1024, 1024 * 1024};
    setrlimit(RLIMIT_STACK, &worker);
    int mask = 0;
    for (int i = 0; i < 7; ++i) {
      const auto want = i < 2 ? std::optional(Strings{{"a", "b"}}) : std::nullopt;
      mask |= (readPropertyListStrings(dir.file(names[i])) != want) << i;
    }
    return mask;
  });
  EXPECT_EQ(wrong, 0) << "-1: the child crashed or blocked";
  EXPECT_FALSE(parsePropertyListStrings(x(atLimit + " ")));
}

}  // namespace
}  // namespace korvane

#include "platform/property_list.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "testing/binary_plist_builder.h"
#include "testing/bundle_maker.h"
#include "testing/child_process.h"
#include "testing/temp_dir.h"

namespace korvane {
namespace {

using testing::BinaryPlistBuilder;
using testing::PlistFormat;
using Bytes = std::vector<uint8_t>;

const std::string kHead =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
    "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
    "<plist version=\"1.0\">\n";

void writeFile(const std::string& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

void writeFile(const std::string& path, const Bytes& content) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(content.data()),
             static_cast<std::streamsize>(content.size()));
}

std::optional<PropertyListStrings> parse(const std::string& text) {
  return parsePropertyListStrings(
      std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

// Runs `body` in a child killed after `seconds`, on a thread with a 1 MiB
// stack (worker threads may have less than the main thread's 8 MiB); true
// when the child finished in time, did not crash, and `body` returned true.
bool inChildWithin(unsigned seconds, const std::function<bool()>& body) {
  return testing::runInChild([&] {
           alarm(seconds);
           pthread_attr_t attributes;
           pthread_attr_init(&attributes);
           pthread_attr_setstacksize(&attributes, 1024 * 1024);
           pthread_t thread;
           bool result = false;
           auto run = [&] { result = body(); };
           using Run = decltype(run);
           auto start = [](void* arg) -> void* {
             (*static_cast<Run*>(arg))();
             return nullptr;
           };
           if (pthread_create(&thread, &attributes, start, &run) != 0) return 2;
           pthread_join(thread, nullptr);
           return result ? 0 : 1;
         }) == 0;
}

class RoundTrip : public ::testing::TestWithParam<PlistFormat> {};

// Catches strings lost or altered, non-string values passed through as text,
// or non-ASCII text (stored as UTF-16 in binary lists) mangled.
TEST_P(RoundTrip, KeepsStringsOnly) {
  testing::TempDir dir;
  const std::string file = dir.file("Info.plist");
  ASSERT_TRUE(testing::writePropertyList(file,
                                         {{"CFBundleIdentifier", std::string("org.example.app")},
                                          {"CFBundleVersion", std::string("42")},
                                          {"CFBundleName", std::string("Grüße & <Apps> 😀")},
                                          {"Empty", std::string()},
                                          {"Count", int64_t{7}},
                                          {"Negative", int64_t{-3}},
                                          {"Flag", true}},
                                         GetParam()));
  auto strings = readPropertyListStrings(file);
  ASSERT_TRUE(strings.has_value());
  EXPECT_EQ(*strings, (PropertyListStrings{{"CFBundleIdentifier", "org.example.app"},
                                           {"CFBundleVersion", "42"},
                                           {"CFBundleName", "Grüße & <Apps> 😀"},
                                           {"Empty", ""}}));
}

// Catches an empty dictionary read as unreadable.
TEST_P(RoundTrip, EmptyDictionaryIsReadable) {
  testing::TempDir dir;
  ASSERT_TRUE(testing::makeBundle(dir.file("A.app"), {}, GetParam()));
  auto strings = readPropertyListStrings(dir.file("A.app/Contents/Info.plist"));
  ASSERT_TRUE(strings.has_value());
  EXPECT_TRUE(strings->empty());
}

INSTANTIATE_TEST_SUITE_P(Formats, RoundTrip,
                         ::testing::Values(PlistFormat::xml, PlistFormat::binary),
                         [](const auto& param) {
                           return param.param == PlistFormat::xml ? "Xml" : "Binary";
                         });

// Catches a root of another type taken for a dictionary.
TEST(PropertyList, RootMustBeADictionary) {
  EXPECT_FALSE(parse(kHead + "<array><string>a</string></array></plist>"));
  EXPECT_FALSE(parse(kHead + "<string>CFBundleIdentifier</string></plist>"));
  BinaryPlistBuilder b;
  b.array({1});
  b.string("a");
  EXPECT_FALSE(parsePropertyListStrings(b.finish(0)));
  BinaryPlistBuilder leaf;
  leaf.string("a");
  EXPECT_FALSE(parsePropertyListStrings(leaf.finish(0)));
}

// Catches UTF-16 values or keys dropped or passed on undecoded.
TEST(PropertyList, Utf16StringsComeThroughAsUtf8) {
  BinaryPlistBuilder b;
  const uint64_t top = b.dict({{1, 2}, {3, 4}});
  b.string("CFBundleName");
  b.utf16(u"Caf\u00e9 \U0001F600");
  b.utf16(u"Schl\u00fcssel");
  b.string("v");
  auto strings = parsePropertyListStrings(b.finish(top));
  ASSERT_TRUE(strings.has_value());
  EXPECT_EQ(*strings, (PropertyListStrings{{"CFBundleName", "Café 😀"}, {"Schlüssel", "v"}}));
}

// Catches a UTF-16 key holding U+0000 reaching libplist's key accessor, which
// aborts on it.
TEST(PropertyList, Utf16KeyWithNulIsUnreadable) {
  BinaryPlistBuilder b;
  b.dict({{1, 2}});
  b.utf16(std::u16string(u"a\0b", 3));
  b.string("v");
  const Bytes list = b.finish(0);
  EXPECT_TRUE(inChildWithin(20, [&] { return !parsePropertyListStrings(list); }));
}

// Catches a string or key holding a NUL cut to its prefix, so that a crafted
// "CFBundleIdentifier" reads as this application's (or a crafted key
// overrides the real one), and XML holding a NUL byte parsed at all.
TEST(PropertyList, NulNeverCutsAString) {
  using namespace std::string_literals;
  const std::string id = "org.example.app";
  BinaryPlistBuilder value;  // 8-bit, longer than 15 bytes: the count follows the marker
  value.dict({{1, 2}});
  value.string("CFBundleIdentifier");
  value.string(id + "\0evil"s);
  BinaryPlistBuilder key(2);  // a key holding a NUL after the real one
  key.dict({{1, 2}, {3, 4}});
  key.string("CFBundleIdentifier");
  key.string(id);
  key.string("CFBundleIdentifier\0"s);
  key.string("evil");
  BinaryPlistBuilder wide;
  wide.dict({{1, 2}});
  wide.string("CFBundleVersion");
  wide.utf16(
      u"12\0"
      u"34"s);
  const std::string xmlValue = kHead + "<dict><key>CFBundleIdentifier</key><string>" + id + "\0x"s +
                               "</string></dict></plist>";
  const std::string xmlKey = kHead + "<dict><key>CFBundleIdentifier</key><string>" + id +
                             "</string><key>CFBundleIdentifier\0x"s +
                             "</key><string>evil</string></dict></plist>";
  const struct {
    const char* name;
    Bytes bytes;
    std::optional<PropertyListStrings> expected;
  } cases[] = {
      {"8-bit value", value.finish(0), PropertyListStrings{{"CFBundleIdentifier", id + "\0evil"s}}},
      {"8-bit key", key.finish(0),
       PropertyListStrings{{"CFBundleIdentifier", id}, {"CFBundleIdentifier\0"s, "evil"}}},
      {"UTF-16 value", wide.finish(0),
       PropertyListStrings{{"CFBundleVersion",
                            "12\0"
                            "34"s}}},
      {"XML value", Bytes(xmlValue.begin(), xmlValue.end()), std::nullopt},
      {"XML key", Bytes(xmlKey.begin(), xmlKey.end()), std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(parsePropertyListStrings(c.bytes), c.expected) << c.name;
}

// Catches the first of two equal keys winning, or a later non-string value
// leaving an earlier string in place (the XML reader keeps the last entry).
TEST(PropertyList, RepeatedKeyKeepsTheLastEntry) {
  BinaryPlistBuilder b;
  const uint64_t top = b.dict({{1, 2}, {1, 3}, {4, 3}, {4, 2}});
  b.string("a");
  b.string("first");
  b.string("last");
  b.string("b");
  auto strings = parsePropertyListStrings(b.finish(top));
  ASSERT_TRUE(strings.has_value());
  EXPECT_EQ(*strings, (PropertyListStrings{{"a", "last"}, {"b", "first"}}));

  BinaryPlistBuilder n;
  const uint64_t top2 = n.dict({{1, 2}, {1, 3}});
  n.string("a");
  n.string("text");
  n.integer(5);
  strings = parsePropertyListStrings(n.finish(top2));
  ASSERT_TRUE(strings.has_value());
  EXPECT_TRUE(strings->empty());
}

// Catches a leading UTF-8 byte-order mark making an XML list unreadable.
TEST(PropertyList, XmlAfterByteOrderMark) {
  auto strings =
      parse("\xEF\xBB\xBF" + kHead + "<dict><key>a</key><string>b</string></dict></plist>");
  ASSERT_TRUE(strings.has_value());
  EXPECT_EQ(strings->at("a"), "b");
}

// Catches broken input accepted, or crashing the parser.
TEST(PropertyList, MalformedInputIsUnreadable) {
  const std::string xml =
      kHead + "<dict><key>CFBundleIdentifier</key><string>org.example</string></dict></plist>\n";
  BinaryPlistBuilder b;
  b.dict({{1, 2}});
  b.string("CFBundleIdentifier");
  b.string("org.example");
  const Bytes binary = b.finish(0);
  ASSERT_TRUE(parse(xml));
  ASSERT_TRUE(parsePropertyListStrings(binary));

  const std::vector<std::string> texts = {
      "",
      "hello",
      xml.substr(0, xml.size() / 2),
      xml.substr(0, xml.find("</dict>")),
      kHead + "<dict><key>a</key></array></plist>",
      kHead + "<dict><string>no key</string></dict></plist>",
      kHead + "<dict><key>a</key><string>&bogus;</string></dict></plist>",
      kHead + "<dict><key>a</key><string>&#0;</string></dict></plist>",
      "bplist00",
      "bplist01" + std::string(60, '\0'),
      std::string(binary.begin(), binary.end()).replace(6, 2, "15"),
  };
  for (const std::string& text : texts) EXPECT_FALSE(parse(text)) << text.substr(0, 120);
  for (size_t cut = 1; cut < binary.size(); ++cut) {
    EXPECT_FALSE(parsePropertyListStrings(std::span(binary).first(cut))) << "cut at " << cut;
  }
}

// Catches a missing file or a directory read as something other than
// unreadable.
TEST(PropertyListFile, MissingAndDirectoryAreUnreadable) {
  testing::TempDir dir;
  EXPECT_FALSE(readPropertyListStrings(dir.file("nothing.plist")));
  std::filesystem::create_directory(dir.file("Info.plist"));
  EXPECT_FALSE(readPropertyListStrings(dir.file("Info.plist")));
}

// Catches a FIFO blocking the reader (opening it waits for a writer, reading
// it waits for data) instead of reading as unreadable at once.
TEST(PropertyListFile, FifoIsUnreadableWithoutBlocking) {
  testing::TempDir dir;
  const std::string fifo = dir.file("Info.plist");
  ASSERT_EQ(mkfifo(fifo.c_str(), S_IRUSR | S_IWUSR), 0);
  EXPECT_TRUE(inChildWithin(5, [&] { return !readPropertyListStrings(fifo).has_value(); }));
  const std::string link = dir.file("Link.plist");
  std::filesystem::create_symlink(fifo, link);
  EXPECT_TRUE(inChildWithin(5, [&] { return !readPropertyListStrings(link).has_value(); }));
}

// Catches a final symbolic link not followed to its regular file, or a
// dangling one read as something.
TEST(PropertyListFile, SymlinkToRegularFileIsFollowed) {
  testing::TempDir dir;
  ASSERT_TRUE(testing::writePropertyList(dir.file("real.plist"),
                                         {{"CFBundleIdentifier", std::string("org.example")}},
                                         PlistFormat::binary));
  std::filesystem::create_symlink(dir.file("real.plist"), dir.file("Info.plist"));
  auto strings = readPropertyListStrings(dir.file("Info.plist"));
  ASSERT_TRUE(strings.has_value());
  EXPECT_EQ(strings->at("CFBundleIdentifier"), "org.example");
  std::filesystem::create_symlink(dir.file("gone.plist"), dir.file("Dangling.plist"));
  EXPECT_FALSE(readPropertyListStrings(dir.file("Dangling.plist")));
}

// Catches a file the process may not read being read anyway or crashing the
// reader (root bypasses permissions, so a child drops to an unprivileged user).
TEST(PropertyListFile, UnreadableWithoutPermission) {
  if (!testing::canSwitchUser()) GTEST_SKIP() << "needs root to drop to another user";
  testing::TempDir dir;
  ASSERT_EQ(chmod(dir.path().c_str(), S_IRWXU | S_IRGRP | S_IXGRP | S_IROTH | S_IXOTH), 0);
  const std::string file = dir.file("Info.plist");
  ASSERT_TRUE(testing::writePropertyList(file, {{"a", std::string("b")}}, PlistFormat::xml));
  ASSERT_EQ(chmod(file.c_str(), S_IRUSR | S_IWUSR), 0);
  EXPECT_EQ(
      testing::runInChild([&] { return readPropertyListStrings(file) ? 1 : 0; }, testing::kNobody),
      0);
}

// An XML list of exactly `size` bytes, padded with a comment before the
// root, whose dictionary holds "a" = "b".
std::string xmlOfSize(size_t size) {
  const std::string body = "<dict><key>a</key><string>b</string></dict></plist>\n";
  const std::string open = kHead + "<!--";
  const std::string close = "-->";
  return open + std::string(size - open.size() - close.size() - body.size(), 'x') + close + body;
}

// Catches an off-by-one at the size limit, or a file over it read anyway.
TEST(PropertyListFile, SizeLimit) {
  testing::TempDir dir;
  writeFile(dir.file("at.plist"), xmlOfSize(kMaxPropertyListBytes));
  writeFile(dir.file("over.plist"), xmlOfSize(kMaxPropertyListBytes + 1));
  ASSERT_EQ(std::filesystem::file_size(dir.file("at.plist")), kMaxPropertyListBytes);
  auto strings = readPropertyListStrings(dir.file("at.plist"));
  ASSERT_TRUE(strings.has_value());
  EXPECT_EQ(strings->at("a"), "b");
  EXPECT_FALSE(readPropertyListStrings(dir.file("over.plist")));
  const std::string over = xmlOfSize(kMaxPropertyListBytes + 1);
  EXPECT_FALSE(parse(over));
}

// The crafted lists below crash or exhaust an unchecked libplist 2.2. Each
// runs in a child with a time limit, so a crash or a hang fails the test
// instead of the run.

Bytes deepBinaryList(size_t depth) {
  BinaryPlistBuilder b(4);
  for (size_t i = 0; i + 1 < depth; ++i) b.array({i + 1});
  b.dict({});
  return b.finish(0);
}

// Catches binary nesting reaching the parser's recursion (100,000 deep
// overflows its stack).
TEST(PropertyListAttack, DeepBinaryNesting) {
  testing::TempDir dir;
  writeFile(dir.file("Info.plist"), deepBinaryList(100000));
  EXPECT_TRUE(inChildWithin(20, [&] { return !readPropertyListStrings(dir.file("Info.plist")); }));
}

// Catches XML nesting reaching the parser's recursive free. 200,000 levels
// no longer fit in a file under the size limit; the deepest that fits (about
// 150,000) still overflows a worker's stack in an unchecked parser.
TEST(PropertyListAttack, DeepXmlNesting) {
  testing::TempDir dir;
  std::string deepest;
  for (size_t depth : {size_t{200000}, (kMaxPropertyListBytes - kHead.size()) / 7}) {
    std::string xml = kHead;
    for (size_t i = 0; i < depth; ++i) xml += "<array>";
    writeFile(dir.file("Info.plist"), xml);
    EXPECT_TRUE(inChildWithin(20, [&] { return !readPropertyListStrings(dir.file("Info.plist")); }))
        << depth;
    deepest = xml;
  }
  EXPECT_LE(deepest.size(), kMaxPropertyListBytes);
  EXPECT_TRUE(inChildWithin(20, [&] { return !parse(deepest); }));
}

// Catches shared objects expanded once per reference: 40 levels of an array
// holding the next level twice expand to 2^40 nodes from under 300 bytes.
TEST(PropertyListAttack, ExponentialSharing) {
  BinaryPlistBuilder b;
  for (uint64_t i = 0; i < 40; ++i) b.array({i + 1, i + 1});
  b.string("x");
  const Bytes list = b.finish(0);
  ASSERT_LT(list.size(), 300u);
  EXPECT_TRUE(inChildWithin(20, [&] { return !parsePropertyListStrings(list); }));
}

// Catches a reference cycle or a reference past the objects reaching the
// parser (or looping the check).
TEST(PropertyListAttack, CyclesAndStrayReferences) {
  BinaryPlistBuilder cycle;
  cycle.dict({{1, 2}});
  cycle.string("k");
  cycle.array({3});
  cycle.array({2});
  BinaryPlistBuilder stray(2);
  stray.dict({{1, 700}});
  stray.string("k");
  EXPECT_TRUE(inChildWithin(20, [&] {
    return !parsePropertyListStrings(cycle.finish(0)) && !parsePropertyListStrings(stray.finish(0));
  }));
}

}  // namespace
}  // namespace korvane

#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>

#include "platform/linux/files/property_list_check.h"

namespace korvane {

void PrintTo(PropertyListCheck check, std::ostream* out);

namespace {

const std::string kHead =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
    "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
    "<plist version=\"1.0\">\n";

std::string repeat(const std::string& s, size_t n) {
  std::string out;
  out.reserve(s.size() * n);
  for (size_t i = 0; i < n; ++i) out += s;
  return out;
}

// `depth` nested arrays around `inner`, inside a plist element.
std::string nested(size_t depth, const std::string& inner = "",
                   const std::string& open = "<array>") {
  return kHead + repeat(open, depth) + inner + repeat("</array>", depth) + "</plist>\n";
}

PropertyListCheck check(const std::string& xml) {
  return checkXmlPropertyList(
      std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(xml.data()), xml.size()));
}

struct Case {
  const char* name;
  std::function<std::string()> make;
  PropertyListCheck expected;
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

class XmlCheck : public ::testing::TestWithParam<Case> {};

// Each case names the fault it would catch.
TEST_P(XmlCheck, Verdict) { EXPECT_EQ(check(GetParam().make()), GetParam().expected); }

using C = PropertyListCheck;
using namespace std::string_literals;

INSTANTIATE_TEST_SUITE_P(
    Lists, XmlCheck,
    ::testing::Values(
        // Good lists refused.
        Case{"InfoPlist",
             [] {
               return kHead +
                      "<dict>\n\t<key>CFBundleIdentifier</key>\n\t<string>org.example</string>\n"
                      "\t<key>LSItems</key><array><dict/><array/><integer>3</integer>"
                      "<true/><false/><real>1.5</real><date>2020-01-01T00:00:00Z</date>"
                      "<data>AAEC</data></array>\n</dict>\n</plist>\n";
             },
             C::ok},
        Case{"StringRoot", [] { return kHead + "<string>x</string></plist>"; }, C::ok},
        // Depth: an off-by-one at the limit, or empty containers not counted.
        Case{"Depth512", [] { return nested(512); }, C::ok},
        Case{"Depth513", [] { return nested(513); }, C::tooDeep},
        Case{"EmptyArrayAt513", [] { return nested(512, "<array/>"); }, C::tooDeep},
        Case{"EmptyDictAt513", [] { return nested(512, "<dict />"); }, C::tooDeep},
        Case{"Depth200000Unclosed", [] { return kHead + repeat("<array>", 200000); }, C::tooDeep},
        Case{"ManySiblingsAreNotDepth",
             [] {
               return kHead + "<array>" + repeat("<array/><dict></dict>", 2000) +
                      "</array></plist>";
             },
             C::ok},
        // Nesting hidden from a scanner that reads tags unlike the parser.
        Case{"TagNameCutAtNul", [] { return nested(513, "", "<array\0>"s); }, C::tooDeep},
        Case{"TagNameCutAtNulWithAttributes", [] { return nested(513, "", "<array\0 a>"s); },
             C::tooDeep},
        Case{"QuotedGreaterThanInAttribute", [] { return nested(513, "", "<array a=\">\">"); },
             C::tooDeep},
        Case{"QuoteInTextIsNotSkipped",
             [] { return kHead + "<array><string>\"</string>" + repeat("<array>", 513) + "\""; },
             C::tooDeep},
        Case{"ContainersInCommentDoNotCount",
             [] { return nested(512, "<!--" + repeat("<array>", 600) + "-->"); }, C::ok},
        Case{"ContainersInCdataDoNotCount",
             [] {
               return nested(511, "<string><![CDATA[" + repeat("<array>", 600) + "]]></string>");
             },
             C::ok},
        Case{"ContainersInQuotedInstructionDoNotCount",
             [] { return "<?x a=\"?>" + repeat("<array>", 600) + "\"?>" + nested(512); }, C::ok},
        Case{"CommentInTextDoesNotEndIt",
             [] {
               return kHead + "<array><string>a<!-- </string> -->b</string>" +
                      repeat("<array>", 513);
             },
             C::tooDeep},
        // The parser stops at the root's end tag; so must the check.
        Case{"TrailingJunkAfterRoot", [] { return kHead + "<dict></dict>junk <array>"; }, C::ok},
        Case{"SecondPlistAfterRoot", [] { return kHead + "<dict/></plist><plist>junk"; }, C::ok},
        // Broken lists passed on.
        Case{"Empty", [] { return ""s; }, C::ok},
        Case{"UnclosedRoot", [] { return kHead + "<dict><key>a</key><string>b</string>"; },
             C::malformed},
        Case{"MismatchedClose", [] { return kHead + "<dict></array></plist>"; }, C::malformed},
        Case{"CloseWithoutOpen", [] { return kHead + "</dict>"; }, C::malformed},
        Case{"ClosePlistInsideDict", [] { return kHead + "<dict></plist>"; }, C::malformed},
        Case{"EmptyPlistElement", [] { return "<plist></plist>"s; }, C::malformed},
        Case{"UnterminatedComment", [] { return kHead + "<!-- <dict>"; }, C::malformed},
        Case{"UnterminatedInstruction", [] { return "<?xml version=\"1.0\" "s; }, C::malformed},
        Case{"UnterminatedTag", [] { return kHead + "<dict"; }, C::malformed},
        Case{"UnknownTag", [] { return kHead + "<dictionary></dictionary></plist>"; },
             C::malformed},
        Case{"TextOutsideElements", [] { return "hello"s; }, C::malformed},
        Case{"TagInsideString", [] { return kHead + "<string>a<b>c</string></plist>"; },
             C::malformed},
        Case{"WrongCloseForString", [] { return kHead + "<string>a</key></plist>"; }, C::malformed},
        Case{"BadSpecialTag", [] { return kHead + "<!ELEMENT x>"; }, C::malformed}),
    [](const ::testing::TestParamInfo<Case>& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace korvane

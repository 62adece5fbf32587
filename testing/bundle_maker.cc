#include "testing/bundle_maker.h"

#include <plist/plist.h>

#include <filesystem>
#include <fstream>

namespace korvane::testing {

namespace fs = std::filesystem;

bool writePropertyList(const std::string& file, const std::vector<PlistEntry>& entries,
                       PlistFormat format) {
  plist_t dict = plist_new_dict();
  for (const auto& [key, value] : entries) {
    const auto* text = std::get_if<std::string>(&value);
    const auto* number = std::get_if<int64_t>(&value);
    plist_dict_set_item(dict, key.c_str(),
                        text     ? plist_new_string(text->c_str())
                        : number ? plist_new_uint(static_cast<uint64_t>(*number))
                                 : plist_new_bool(std::get<bool>(value) ? 1 : 0));
  }
  const bool xml = format == PlistFormat::xml;
  char* out = nullptr;
  uint32_t length = 0;
  (xml ? plist_to_xml : plist_to_bin)(dict, &out, &length);
  plist_free(dict);
  if (out == nullptr) return false;
  const std::string partial = file + ".partial";
  const bool written =
      static_cast<bool>(std::ofstream(partial, std::ios::binary).write(out, length).flush());
  (xml ? plist_to_xml_free : plist_to_bin_free)(out);
  std::error_code error;
  if (written) fs::rename(partial, file, error);
  if (written && !error) return true;
  fs::remove(partial, error);
  return false;
}

bool makeBundle(const std::string& bundlePath, const std::vector<PlistEntry>& entries,
                PlistFormat format) {
  std::error_code error;
  fs::create_directories(bundlePath + "/Contents", error);
  return !error && writePropertyList(bundlePath + "/Contents/Info.plist", entries, format);
}

bool makeAppBundle(const std::string& bundlePath, const std::string& identifier,
                   const std::string& executable, const std::string& program) {
  std::error_code error;
  fs::create_directories(bundlePath + "/Contents/MacOS", error);
  if (!error) fs::copy_file(program, bundlePath + "/Contents/MacOS/" + executable, error);
  return !error && makeBundle(bundlePath, {{"CFBundleIdentifier", identifier},
                                           {"CFBundleVersion", std::string("1")},
                                           {"CFBundleExecutable", executable}});
}

}  // namespace korvane::testing

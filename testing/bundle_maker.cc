#include "testing/bundle_maker.h"

#include <plist/plist.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <system_error>

namespace korvane::testing {
namespace {

struct PlistDeleter {
  void operator()(void* node) const { plist_free(node); }
};

plist_t newValue(const std::variant<std::string, int64_t, bool>& value) {
  if (const auto* text = std::get_if<std::string>(&value)) return plist_new_string(text->c_str());
  if (const auto* number = std::get_if<int64_t>(&value)) {
    return plist_new_uint(static_cast<uint64_t>(*number));
  }
  return plist_new_bool(std::get<bool>(value) ? 1 : 0);
}

}  // namespace

bool writePropertyList(const std::string& file, const std::vector<PlistEntry>& entries,
                       PlistFormat format) {
  std::unique_ptr<void, PlistDeleter> dict(plist_new_dict());
  for (const PlistEntry& entry : entries) {
    plist_dict_set_item(dict.get(), entry.key.c_str(), newValue(entry.value));
  }
  char* out = nullptr;
  uint32_t length = 0;
  if (format == PlistFormat::xml) {
    plist_to_xml(dict.get(), &out, &length);
  } else {
    plist_to_bin(dict.get(), &out, &length);
  }
  if (out == nullptr) return false;
  // Written beside the target and renamed over it, so a reader never sees
  // half a file.
  const std::string partial = file + ".partial";
  bool written = false;
  {
    std::ofstream stream(partial, std::ios::binary | std::ios::trunc);
    stream.write(out, length);
    written = static_cast<bool>(stream.flush());
  }
  if (format == PlistFormat::xml) {
    plist_to_xml_free(out);
  } else {
    plist_to_bin_free(out);
  }
  std::error_code ec;
  if (written) std::filesystem::rename(partial, file, ec);
  if (!written || ec) {
    std::filesystem::remove(partial, ec);
    return false;
  }
  return true;
}

bool makeBundle(const std::string& bundlePath, const std::vector<PlistEntry>& entries,
                PlistFormat format) {
  std::error_code ec;
  std::filesystem::create_directories(bundlePath + "/Contents", ec);
  if (ec) return false;
  return writePropertyList(bundlePath + "/Contents/Info.plist", entries, format);
}

}  // namespace korvane::testing

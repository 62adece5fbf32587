#include "install_location/probe/bundle_facts.h"

#include <limits>

#include "platform/path_string.h"

namespace korvane::InstallLocationProbe {
namespace {

std::optional<std::string> stringEntry(const std::optional<PropertyListStrings>& info,
                                       const std::string& key) {
  if (!info) return std::nullopt;
  auto it = info->find(key);
  if (it == info->end()) return std::nullopt;
  return it->second;
}

}  // namespace

std::optional<std::string> bundleIdFromInfo(const std::optional<PropertyListStrings>& info) {
  return stringEntry(info, "CFBundleIdentifier");
}

int64_t buildFromInfo(const std::optional<PropertyListStrings>& info) {
  return parseBuildNumber(stringEntry(info, "CFBundleVersion").value_or(""));
}

std::optional<std::string> rawBundleId(const PlatformServices& services,
                                       const std::string& appPath) {
  // Opening the folder as a bundle and reading its Info.plist directly read
  // the same file here, so one read serves both steps.
  return bundleIdFromInfo(services.bundles.infoStrings(appPath));
}

int64_t build(const PlatformServices& services, const std::string& appPath) {
  return buildFromInfo(services.bundles.infoStrings(appPath));
}

CandidateIdentity identity(const PlatformServices& services, const std::string& appPath,
                           const std::string& myBundleId) {
  if (!services.fileSystem.fileExists(appPath)) return CandidateIdentity::absent();
  std::optional<std::string> id = rawBundleId(services, appPath);
  if (!id) return CandidateIdentity::unreadable();
  if (*id == myBundleId) return CandidateIdentity::sameBundle(std::move(*id));
  return CandidateIdentity::differentBundle(std::move(*id));
}

std::string canonicalBundleDirName(const PlatformServices& services) {
  const MainBundle bundle = services.bundles.mainBundle();
  std::optional<std::string> name = bundle.infoValue("CFBundleName");
  if (name && !name->empty() && name->find('/') == std::string::npos &&
      name->find('\0') == std::string::npos) {
    return *name + ".app";
  }
  return lastPathComponent(bundle.path);
}

int64_t parseBuildNumber(std::string_view text) {
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (text.empty()) return 0;
  // Accumulated towards the sign so that the most negative value fits.
  constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
  constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
  int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return 0;
    const int digit = c - '0';
    if (negative) {
      if (value < (kMin + digit) / 10) return 0;
      value = value * 10 - digit;
    } else {
      if (value > (kMax - digit) / 10) return 0;
      value = value * 10 + digit;
    }
  }
  return value;
}

}  // namespace korvane::InstallLocationProbe

// Facts read out of an application bundle on disk or out of the running
// bundle. None of them fails outward: every failure is a defined value (no
// identifier, build 0, unreadable or absent, the current folder name).
//
// Thread: any; in the host they run on the worker queue. Stateless.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "install_location/probe/candidate_identity.h"
#include "platform/property_list.h"
#include "platform/services.h"

namespace korvane::InstallLocationProbe {

// The "CFBundleIdentifier" of the bundle at `appPath` (used unchanged), when
// it is a string; an empty string is an identifier like any other.
std::optional<std::string> rawBundleId(const PlatformServices& services,
                                       const std::string& appPath);

// The "CFBundleVersion" of the bundle at `appPath` parsed by parseBuildNumber;
// 0 when it is missing or not a string.
int64_t build(const PlatformServices& services, const std::string& appPath);

// absent when nothing exists at `appPath` (a final link followed), unreadable
// when no identifier can be read, else sameBundle or differentBundle by exact
// comparison with `myBundleId`.
CandidateIdentity identity(const PlatformServices& services, const std::string& appPath,
                           const std::string& myBundleId);

// The running bundle's "CFBundleName" followed by ".app" when that name is a
// non-empty string without "/" or NUL; otherwise the running bundle's own
// folder name.
std::string canonicalBundleDirName(const PlatformServices& services);

// The whole string as a signed decimal 64-bit integer: one optional leading
// "+" or "-", then one or more ASCII digits, nothing else; the full range,
// the most negative value included. 0 on any failure.
int64_t parseBuildNumber(std::string_view text);

// The same facts taken from info values already read, so that an operation
// that needs several of them reads each Info.plist once.
std::optional<std::string> bundleIdFromInfo(const std::optional<PropertyListStrings>& info);
int64_t buildFromInfo(const std::optional<PropertyListStrings>& info);

}  // namespace korvane::InstallLocationProbe

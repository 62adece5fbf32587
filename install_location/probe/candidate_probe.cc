#include "install_location/probe/candidate_probe.h"

#include "install_location/probe/bundle_facts.h"

namespace korvane::InstallLocationProbe {
namespace {

ResultMap answer(std::string_view identity, int64_t build, bool running) {
  ResultMap map;
  map.reserve(3);
  map.emplace("identity", std::string(identity));
  map.emplace("build", EncodableValue::integer(build));
  map.emplace("running", running);
  return map;
}

}  // namespace

ResultMap probeCandidate(const PlatformServices& services, const std::optional<std::string>& path,
                         bool running) {
  if (!path) return answer("absent", 0, false);
  const AttributesResult attributes = services.fileSystem.attributesOfItem(*path);
  if (attributes.attributes && attributes.attributes->type == FileType::symbolicLink) {
    return answer("unreadable", 0, running);
  }
  const std::string myBundleId = services.bundles.mainBundle().bundleIdentifier().value_or("");
  // Nothing there: nothing to read, and the build of nothing is 0.
  if (!services.fileSystem.fileExists(*path)) return answer("absent", 0, running);
  const std::optional<PropertyListStrings> info = services.bundles.infoStrings(*path);
  const std::optional<std::string> id = bundleIdFromInfo(info);
  const CandidateIdentity identity = !id                 ? CandidateIdentity::unreadable()
                                     : *id == myBundleId ? CandidateIdentity::sameBundle(*id)
                                                         : CandidateIdentity::differentBundle(*id);
  return answer(identity.text(), buildFromInfo(info), running);
}

}  // namespace korvane::InstallLocationProbe

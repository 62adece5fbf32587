// How a bundle path relates to the running application. Thread: any.
#pragma once

#include <string>
#include <string_view>

namespace korvane {

struct CandidateIdentity {
  enum class Case { sameBundle, differentBundle, unreadable, absent };

  Case kind = Case::absent;
  // The identifier read from the bundle; set for sameBundle and differentBundle.
  std::string bundleIdentifier;

  static CandidateIdentity sameBundle(std::string id) { return {Case::sameBundle, std::move(id)}; }
  static CandidateIdentity differentBundle(std::string id) {
    return {Case::differentBundle, std::move(id)};
  }
  static CandidateIdentity unreadable() { return {Case::unreadable, {}}; }
  static CandidateIdentity absent() { return {Case::absent, {}}; }

  // "sameBundle", "differentBundle", "unreadable" or "absent".
  std::string_view text() const {
    switch (kind) {
      case Case::sameBundle:
        return "sameBundle";
      case Case::differentBundle:
        return "differentBundle";
      case Case::unreadable:
        return "unreadable";
      case Case::absent:
        break;
    }
    return "absent";
  }

  friend bool operator==(const CandidateIdentity&, const CandidateIdentity&) = default;
};

}  // namespace korvane

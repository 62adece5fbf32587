#include "external_plugins/external_plugins.h"

namespace korvane::external_plugins {

std::vector<Registration>& externalPluginRegistrations() {
  static std::vector<Registration>* registrations = new std::vector<Registration>();
  return *registrations;
}

}  // namespace korvane::external_plugins

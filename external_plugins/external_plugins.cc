#include "external_plugins/external_plugins.h"

namespace korvane::external_plugins {
namespace {

RegistrationObserver& observer() {
  static RegistrationObserver* stored = new RegistrationObserver();
  return *stored;
}

}  // namespace

std::vector<Registration>& externalPluginRegistrations() {
  static std::vector<Registration>* registrations = new std::vector<Registration>();
  return *registrations;
}

void setRegistrationObserver(RegistrationObserver newObserver) {
  observer() = std::move(newObserver);
}

void noteRegistration(Registration registration, FlutterPluginRegistrar& registrar) {
  externalPluginRegistrations().push_back(registration);
  if (observer()) observer()(registration, registrar);
}

}  // namespace korvane::external_plugins

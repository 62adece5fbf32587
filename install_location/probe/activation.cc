#include "install_location/probe/activation.h"

#include <string>
#include <vector>

#include "platform/process.h"

namespace korvane::InstallLocationProbe {

bool activateOtherInstance(const PlatformServices& services) {
  const std::optional<std::string> myBundleId = services.bundles.mainBundle().bundleIdentifier();
  if (!myBundleId) return false;
  const int32_t self = currentProcessIdentifier();
  // Instances running from any copy qualify; the bundle location plays no part.
  std::vector<RunningApplication> others;
  for (RunningApplication& app : services.workspace.runningApplications()) {
    if (!app.bundleIdentifier || *app.bundleIdentifier != *myBundleId) continue;
    if (app.processIdentifier == self) continue;
    others.push_back(std::move(app));
  }
  if (others.empty()) return false;
  for (const RunningApplication& instance : others) activateInstance(services, instance);
  return true;
}

void activateInstance(const PlatformServices& services, const RunningApplication& instance) {
  services.workspace.unhide(instance);
  services.workspace.activate(instance, ActivationOptions::activateIgnoringOtherApps);
  requestReopen(services, instance);
}

void requestReopen(const PlatformServices& services, const RunningApplication& instance) {
  if (!instance.bundleURL) return;
  OpenConfiguration configuration;
  configuration.allowsRunningApplicationSubstitution = false;
  configuration.createsNewApplicationInstance = false;
  configuration.activates = true;
  const int32_t expected = instance.processIdentifier;
  DiagnosticLog& logger = services.logger;
  services.workspace.openApplicationAtURL(
      *instance.bundleURL, configuration,
      [&logger, expected](std::optional<RunningApplication> answered,
                          std::optional<WorkspaceError> error) {
        if (error) {
          logger.log("[install-location] reopen failed pid=" + std::to_string(expected) + ": " +
                     error->localizedDescription);
        } else if (answered && answered->processIdentifier != expected) {
          logger.log("[install-location] reopen landed pid=" +
                     std::to_string(answered->processIdentifier) + ", expected " +
                     std::to_string(expected));
        }
      });
}

}  // namespace korvane::InstallLocationProbe

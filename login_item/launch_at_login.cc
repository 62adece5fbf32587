#include "login_item/launch_at_login.h"

namespace korvane {
namespace {

constexpr char kMigratedKey[] = "LaunchAtLogin__hasMigrated";
constexpr char kHelperSuffix[] = "-LaunchAtLoginHelper";

// "Failed to %s launch at login: %s"
void logFailure(SystemLogger& logger, bool value, const std::string& description) {
  logger.error(std::string("Failed to ") + (value ? "enable" : "disable") +
               " launch at login: " + description);
}

}  // namespace

bool LaunchAtLogin::modern() { return services_.systemVersion.isAtLeast(13, 0, 0); }

const std::optional<std::string>& LaunchAtLogin::id() {
  if (!id_) {
    auto main = services_.bundles.mainBundle().bundleIdentifier();
    id_.emplace(main ? std::optional(*main + kHelperSuffix) : std::nullopt);
  }
  return *id_;
}

BoolSubject& LaunchAtLogin::subject() {
  if (!subject_) subject_.emplace(isEnabled());
  return *subject_;
}

BoolPublisher& LaunchAtLogin::publisher() {
  if (!publisher_) publisher_.emplace(subject());
  return *publisher_;
}

bool LaunchAtLogin::isEnabled() {
  if (modern()) return services_.loginItems.mainAppStatus() == AppServiceStatus::enabled;
  return isEnabledLegacy();
}

void LaunchAtLogin::setIsEnabled(bool value) {
  observable_.objectWillChange().send();
  kvo_.willChangeValueForKey("isEnabled");
  if (modern()) {
    setIsEnabledModern(value);
  } else {
    setLegacy(value);
  }
  kvo_.didChangeValueForKey("isEnabled");
  // What holds now, which is not `value` when the system refused it.
  subject().send(isEnabled());
}

bool LaunchAtLogin::setIsEnabledModern(bool value) {
  LoginItems& items = services_.loginItems;
  SystemLogger& logger = services_.loginItemLogger;
  if (!value) {
    auto error = items.unregisterMainApp();
    if (error) logFailure(logger, value, error->localizedDescription);
    return !error;
  }
  const bool wasEnabled = items.mainAppStatus() == AppServiceStatus::enabled;
  // Enabling ends with a fresh registration. One that cannot replace the
  // existing registration in place needs it removed first (that error is of
  // no interest: the registration below tells).
  if (wasEnabled && !items.registrationReplacesInPlace()) items.unregisterMainApp();
  auto error = items.registerMainApp();
  if (!error) return true;
  logFailure(logger, value, error->localizedDescription);
  // A request to stay on must not leave the item off: put the earlier
  // registration back when the failed one took it away.
  if (wasEnabled && items.mainAppStatus() != AppServiceStatus::enabled) {
    if (auto restore = items.registerMainApp())
      logFailure(logger, value, restore->localizedDescription);
  }
  return false;
}

void LaunchAtLogin::setLegacy(bool value) {
  if (!id()) {
    logFailure(services_.loginItemLogger, value, "the application has no bundle identifier");
    return;
  }
  services_.loginItems.setLoginItemEnabled(*id(), value);
}

bool LaunchAtLogin::isEnabledLegacy() {
  if (!id()) return false;
  const std::optional<std::vector<LoginJob>> jobs = services_.loginItems.userJobDictionaries();
  if (!jobs) return false;
  // The first job with the helper's label decides.
  for (const LoginJob& job : *jobs) {
    if (job.label == *id()) return job.onDemand.value_or(false);
  }
  return false;
}

void LaunchAtLogin::unregisterLegacy() {
  if (!id()) return;
  services_.loginItems.setLoginItemEnabled(*id(), false);
  services_.loginItems.unregisterLoginItem(*id());
}

void LaunchAtLogin::migrateIfNeeded() {
  if (!modern()) return;
  UserDefaults& defaults = services_.userDefaults;
  if (defaults.boolForKey(kMigratedKey)) return;
  defaults.setBool(true, kMigratedKey);
  // The older registration goes only once the newer one stands: when the
  // registration fails, the older one keeps starting the application.
  if (isEnabledLegacy() && !setIsEnabledModern(true)) return;
  unregisterLegacy();
}

}  // namespace korvane

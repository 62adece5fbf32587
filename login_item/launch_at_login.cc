#include "login_item/launch_at_login.h"

#include <atomic>

namespace korvane {
namespace {

constexpr char kMigratedKey[] = "LaunchAtLogin__hasMigrated";
constexpr char kHelperSuffix[] = "-LaunchAtLoginHelper";

std::atomic<const LoginItemServices*> configured{nullptr};

const LoginItemServices& realLoginItemServices() {
  static SystemLogger* logger = makeSystemLogger("app.korvane.LaunchAtLogin", "main").release();
  static const LoginItemServices* services = new LoginItemServices{
      realLoginItems(), realUserDefaults(), realSystemVersion(), realBundleReader(), *logger};
  return *services;
}

// "Failed to %s launch at login: %s"
void logFailure(SystemLogger& logger, bool value, const std::string& description) {
  logger.error(std::string("Failed to ") + (value ? "enable" : "disable") +
               " launch at login: " + description);
}

}  // namespace

void LaunchAtLogin::configure(const LoginItemServices& services) { configured = &services; }

const LoginItemServices& LaunchAtLogin::services() {
  const LoginItemServices* set = configured.load();
  return set != nullptr ? *set : realLoginItemServices();
}

bool LaunchAtLogin::modern() { return services().version.isAtLeast(13, 0, 0); }

const std::optional<std::string>& LaunchAtLogin::id() {
  static const std::optional<std::string> helper = []() -> std::optional<std::string> {
    auto main = services().bundles.mainBundle().bundleIdentifier();
    if (!main) return std::nullopt;
    return *main + kHelperSuffix;
  }();
  return helper;
}

LaunchAtLoginObservable& LaunchAtLogin::observable() {
  static LaunchAtLoginObservable* shared = new LaunchAtLoginObservable();
  return *shared;
}

LaunchAtLoginKVO& LaunchAtLogin::kvo() {
  static LaunchAtLoginKVO* shared = new LaunchAtLoginKVO();
  return *shared;
}

BoolSubject& LaunchAtLogin::subject() {
  static BoolSubject* shared = new BoolSubject(isEnabled());
  return *shared;
}

BoolPublisher& LaunchAtLogin::publisher() {
  static BoolPublisher* shared = new BoolPublisher(subject());
  return *shared;
}

bool LaunchAtLogin::isEnabled() {
  if (modern()) return services().loginItems.mainAppStatus() == AppServiceStatus::enabled;
  return isEnabledLegacy();
}

void LaunchAtLogin::setIsEnabled(bool value) {
  observable().objectWillChange().send();
  kvo().willChangeValueForKey("isEnabled");
  if (modern()) {
    setIsEnabledModern(value);
  } else {
    setLegacy(value);
  }
  kvo().didChangeValueForKey("isEnabled");
  // What holds now, which is not `value` when the system refused it.
  subject().send(isEnabled());
}

bool LaunchAtLogin::setIsEnabledModern(bool value) {
  LoginItems& items = services().loginItems;
  SystemLogger& logger = services().logger;
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
    logFailure(services().logger, value, "the application has no bundle identifier");
    return;
  }
  services().loginItems.setLoginItemEnabled(*id(), value);
}

bool LaunchAtLogin::isEnabledLegacy() {
  if (!id()) return false;
  std::optional<EncodableValue> jobs = services().loginItems.userJobDictionaries();
  if (!jobs) return false;
  const EncodableList* list = jobs->asList();
  if (list == nullptr) return false;
  for (const EncodableValue& job : *list) {
    const EncodableMap* dictionary = job.asMap();
    if (dictionary == nullptr) return false;
    for (const auto& [key, ignored] : *dictionary) {
      if (key.asString() == nullptr) return false;
    }
  }
  for (const EncodableValue& job : *list) {
    const EncodableValue* label = job.asMap()->find("Label");
    if (label == nullptr || label->asString() == nullptr || *label->asString() != *id()) continue;
    const EncodableValue* onDemand = job.asMap()->find("OnDemand");
    return onDemand != nullptr && onDemand->asBool() != nullptr && *onDemand->asBool();
  }
  return false;
}

void LaunchAtLogin::unregisterLegacy() {
  if (!id()) return;
  services().loginItems.setLoginItemEnabled(*id(), false);
  services().loginItems.unregisterLoginItem(*id());
}

void LaunchAtLogin::migrateIfNeeded() {
  if (!modern()) return;
  UserDefaults& defaults = services().defaults;
  if (defaults.boolForKey(kMigratedKey)) return;
  defaults.setBool(true, kMigratedKey);
  // The older registration goes only once the newer one stands: when the
  // registration fails, the older one keeps starting the application.
  if (isEnabledLegacy() && !setIsEnabledModern(true)) return;
  unregisterLegacy();
}

}  // namespace korvane

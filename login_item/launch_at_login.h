// Whether the application starts when the user logs in, over the two login
// item mechanisms: the main application's own service (systems reporting
// 13.0 or later) and the older calls addressed to a helper identifier
// (before that), with a one-time migration between them.
//
// Thread: main thread. The module takes no locks; its shared values (the
// services, the helper identifier, the logger, the observers) are made once,
// safely under concurrent first use.
#pragma once

#include <optional>
#include <string>

#include "login_item/launch_at_login_observers.h"
#include "platform/bundles.h"
#include "platform/login_items.h"
#include "platform/system_logger.h"
#include "platform/system_version.h"
#include "platform/user_defaults.h"

namespace korvane {

// What the module reaches of the platform.
struct LoginItemServices {
  LoginItems& loginItems;
  UserDefaults& defaults;
  SystemVersion& version;
  BundleReader& bundles;
  SystemLogger& logger;
};

class LaunchAtLogin {
 public:
  LaunchAtLogin() = delete;

  // Reads the state anew from the system.
  static bool isEnabled();
  // Tells the observers it will change, makes the system call, tells them it
  // did, then sends the state read afresh on the publisher (not `value` when
  // the system refused). Failures are logged, never returned. Enabling an
  // enabled item registers it afresh; when that fails, the item stays on
  // (registered over in place where the mechanism allows, otherwise the
  // earlier registration is put back).
  static void setIsEnabled(bool value);
  // Once per user (the flag is stored first): moves an enabled older
  // registration to the main application's service, and removes the older
  // one when it was off or the newer registration succeeded.
  static void migrateIfNeeded();

  // The services the module uses; the real ones unless the host or a test
  // configured others before first use. Must outlive every later call.
  static void configure(const LoginItemServices& services);

  // The helper identifier: the main bundle's identifier followed by
  // "-LaunchAtLoginHelper", made once; nullopt when the main bundle has none
  // (then the older mechanism reads false and its calls only log).
  static const std::optional<std::string>& id();

  // The shared observers, made once on first use; the publisher starts with
  // the state read at that moment.
  static LaunchAtLoginObservable& observable();
  static LaunchAtLoginKVO& kvo();
  static BoolPublisher& publisher();

 private:
  static BoolSubject& subject();
  // Registers or unregisters the main application's service; false (after
  // logging) when the system refused.
  static bool setIsEnabledModern(bool value);
  static bool isEnabledLegacy();
  static void unregisterLegacy();
  static void setLegacy(bool value);
  static const LoginItemServices& services();
  static bool modern();
};

}  // namespace korvane

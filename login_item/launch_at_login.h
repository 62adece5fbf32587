// Whether the application starts when the user logs in, over the two login
// item mechanisms: the main application's own service (systems reporting
// 13.0 or later) and the older calls addressed to a helper identifier
// (before that), with a one-time migration between them.
//
// Thread: main thread. An object takes no locks; it reaches the platform only
// through the services it was made with.
#pragma once

#include <optional>
#include <string>

#include "login_item/launch_at_login_observers.h"
#include "platform/services.h"

namespace korvane {

class LaunchAtLogin {
 public:
  // Uses the login items, user defaults, system version, login-item logger
  // and bundle reader of `services`, which must outlive the object.
  explicit LaunchAtLogin(const PlatformServices& services) : services_(services) {}
  LaunchAtLogin(const LaunchAtLogin&) = delete;
  LaunchAtLogin& operator=(const LaunchAtLogin&) = delete;

  // Reads the state anew from the system.
  bool isEnabled();
  // Tells the observers it will change, makes the system call, tells them it
  // did, then sends the state read afresh on the publisher (not `value` when
  // the system refused). Failures are logged, never returned. Enabling an
  // enabled item registers it afresh; when that fails, the item stays on
  // (registered over in place where the mechanism allows, otherwise the
  // earlier registration is put back).
  void setIsEnabled(bool value);
  // Once per user (the flag is stored first): moves an enabled older
  // registration to the main application's service, and removes the older
  // one when it was off or the newer registration succeeded.
  void migrateIfNeeded();

  // The helper identifier: the main bundle's identifier followed by
  // "-LaunchAtLoginHelper", made on first use; nullopt when the main bundle
  // has none (then the older mechanism reads false and its calls only log).
  const std::optional<std::string>& id();

  // The observers of this object's state. The publisher is made on first use
  // and starts with the state read at that moment.
  LaunchAtLoginObservable& observable() { return observable_; }
  LaunchAtLoginKVO& kvo() { return kvo_; }
  BoolPublisher& publisher();

 private:
  BoolSubject& subject();
  bool modern();
  // Registers or unregisters the main application's service; false (after
  // logging) when the system refused.
  bool setIsEnabledModern(bool value);
  bool isEnabledLegacy();
  void unregisterLegacy();
  void setLegacy(bool value);

  const PlatformServices& services_;
  std::optional<std::optional<std::string>> id_;
  LaunchAtLoginObservable observable_{*this};
  LaunchAtLoginKVO kvo_{*this};
  std::optional<BoolSubject> subject_;
  std::optional<BoolPublisher> publisher_;
};

}  // namespace korvane

// Login items: whether the application starts when the user logs in.
//
// Two mechanisms, as on the reference platform: the main application's own
// service (the newer one), and the older calls that address a separate
// helper by its identifier. On Linux both are freedesktop autostart entries
// in "$XDG_CONFIG_HOME/autostart" ("~/.config/autostart" when unset):
//   - the main application's service is "<bundle identifier>.desktop";
//     enabled when it exists and is not disabled ("Hidden=true" or
//     "X-GNOME-Autostart-enabled=false"), otherwise not registered;
//   - the older calls write or remove "<helper identifier>.desktop", and the
//     job list has one job per entry of that folder: "Label" the file name
//     without ".desktop", "OnDemand" whether the entry is enabled.
//
// The folder is worked out on each call (the environment is read afresh), so
// a change of XDG_CONFIG_HOME applies to the next call. An identifier that is
// empty or holds "/" or NUL is refused: no entry is ever made outside the
// folder.
//
// Thread: main thread (the module that uses them runs there).
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/bundles.h"
#include "platform/embedding/encodable_value.h"

namespace korvane {

// The main application service's status, with the reference platform's values.
enum class AppServiceStatus { notRegistered = 0, enabled = 1, requiresApproval = 2, notFound = 3 };

struct LoginItemError {
  std::string localizedDescription;  // names what failed and why
};

class LoginItems {
 public:
  virtual ~LoginItems() = default;

  virtual AppServiceStatus mainAppStatus() = 0;
  // Registers the main application: writes a complete entry (through a
  // temporary file renamed into place, so a crash never leaves half of one).
  virtual std::optional<LoginItemError> registerMainApp() = 0;
  // Whether registerMainApp() replaces an existing registration in place:
  // the new one takes the old one's place whole, and a registration that
  // fails leaves the old one as it was. When false, re-registering needs an
  // unregistration first. The autostart entries replace in place.
  virtual bool registrationReplacesInPlace() const = 0;
  virtual std::optional<LoginItemError> unregisterMainApp() = 0;

  // The older service of the helper `identifier`: unregisters it.
  virtual std::optional<LoginItemError> unregisterLoginItem(const std::string& identifier) = 0;
  // The older on/off call for the helper `identifier`; true when it took effect.
  virtual bool setLoginItemEnabled(const std::string& identifier, bool enabled) = 0;
  // The user domain's job list: a list of string-keyed maps ("Label",
  // "OnDemand"), sorted by label, or nullopt when there is none (the
  // autostart folder is missing or cannot be read).
  virtual std::optional<EncodableValue> userJobDictionaries() = 0;
};

// The real login items, for the running bundle (realBundleReader()). Made
// once, kept for the life of the process.
LoginItems& realLoginItems();

// Autostart login items for the main bundle that `bundles` reports (asked on
// each call; "CFBundleIdentifier" names the entry, "CFBundleName" is its
// display name). `bundles` must outlive the result. What realLoginItems() is
// made of; tests give their own bundle.
std::unique_ptr<LoginItems> makeAutostartLoginItems(BundleReader& bundles);

}  // namespace korvane

// Login items: whether the application starts when the user logs in.
//
// Two mechanisms, as on the reference platform: the main application's own
// service (the newer one), and the older calls that address a separate
// helper by its identifier. The system is asked afresh on each call; nothing
// is cached. An identifier that is empty or holds "/" or NUL is refused.
//
// Thread: main thread (the module that uses them runs there).
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace korvane {

// The main application service's status, with the reference platform's values.
enum class AppServiceStatus { notRegistered = 0, enabled = 1, requiresApproval = 2, notFound = 3 };

struct LoginItemError {
  std::string localizedDescription;  // names what failed and why
};

// One job of the older mechanism's list: its "Label" and "OnDemand" values,
// each nullopt when the job has none or one of another type.
struct LoginJob {
  std::optional<std::string> label;
  std::optional<bool> onDemand;
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
  // unregistration first.
  virtual bool registrationReplacesInPlace() const = 0;
  virtual std::optional<LoginItemError> unregisterMainApp() = 0;

  // The older service of the helper `identifier`: unregisters it.
  virtual std::optional<LoginItemError> unregisterLoginItem(const std::string& identifier) = 0;
  // The older on/off call for the helper `identifier`; true when it took effect.
  virtual bool setLoginItemEnabled(const std::string& identifier, bool enabled) = 0;
  // The user domain's job list, sorted by label, or nullopt when there is
  // none (the list cannot be read, or is not a list of string-keyed
  // dictionaries).
  virtual std::optional<std::vector<LoginJob>> userJobDictionaries() = 0;
};

// The real login items, for the running bundle (realBundleReader()). Made
// once, kept for the life of the process.
LoginItems& realLoginItems();

}  // namespace korvane

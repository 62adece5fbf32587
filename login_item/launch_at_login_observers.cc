#include "login_item/launch_at_login_observers.h"

#include "login_item/launch_at_login.h"

namespace korvane {

bool LaunchAtLoginObservable::isEnabled() const { return LaunchAtLogin::isEnabled(); }
void LaunchAtLoginObservable::setIsEnabled(bool value) { LaunchAtLogin::setIsEnabled(value); }
bool LaunchAtLoginKVO::isEnabled() const { return LaunchAtLogin::isEnabled(); }
void LaunchAtLoginKVO::setIsEnabled(bool value) { LaunchAtLogin::setIsEnabled(value); }

LaunchAtLoginToggle::LaunchAtLoginToggle() : label_("Launch at login") {}
bool LaunchAtLoginToggle::isOn() const { return LaunchAtLogin::observable().isEnabled(); }
void LaunchAtLoginToggle::setOn(bool value) { LaunchAtLogin::observable().setIsEnabled(value); }

}  // namespace korvane

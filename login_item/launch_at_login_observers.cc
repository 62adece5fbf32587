#include "login_item/launch_at_login_observers.h"

#include "login_item/launch_at_login.h"

namespace korvane {

Cancellable& Cancellable::operator=(Cancellable&& other) noexcept {
  if (this != &other) {
    cancel();
    cancel_ = std::exchange(other.cancel_, nullptr);
  }
  return *this;
}

void Cancellable::cancel() {
  // Taken out before it runs: a cancel() from inside the action does nothing.
  if (auto action = std::exchange(cancel_, nullptr)) action();
}

bool LaunchAtLoginObservable::isEnabled() const { return state_->isEnabled(); }
void LaunchAtLoginObservable::setIsEnabled(bool value) { state_->setIsEnabled(value); }
bool LaunchAtLoginKVO::isEnabled() const { return state_->isEnabled(); }
void LaunchAtLoginKVO::setIsEnabled(bool value) { state_->setIsEnabled(value); }

bool LaunchAtLoginToggle::isOn() const { return observable_->isEnabled(); }
void LaunchAtLoginToggle::setOn(bool value) { observable_->setIsEnabled(value); }

}  // namespace korvane

// The three ways to follow the login-item state, and the toggle bound to it:
// an observable object with an object-will-change signal, a key-value
// observing object with will-change and did-change notifications for
// "isEnabled", and a current-value publisher of the state.
//
// Thread: main thread, like the state they follow. Notifications are
// delivered on the thread that sets the state, synchronously, in the order
// the subscribers subscribed.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace korvane {

// A signal without a value (ObservableObjectPublisher).
class ObjectWillChangePublisher {
 public:
  void subscribe(std::function<void()> subscriber) {
    subscribers_.push_back(std::move(subscriber));
  }
  void send() {
    for (auto& subscriber : subscribers_) subscriber();
  }

 private:
  std::vector<std::function<void()>> subscribers_;
};

// A publisher that holds a current value: a new subscriber receives it at
// once, then every value sent (CurrentValueSubject).
class BoolSubject {
 public:
  explicit BoolSubject(bool initial) : value_(initial) {}
  void subscribe(std::function<void(bool)> subscriber) {
    subscriber(value_);
    subscribers_.push_back(std::move(subscriber));
  }
  void send(bool value) {
    value_ = value;
    for (auto& subscriber : subscribers_) subscriber(value);
  }
  bool value() const { return value_; }

 private:
  bool value_;
  std::vector<std::function<void(bool)>> subscribers_;
};

// The subject seen from outside: subscribe only (AnyPublisher).
class BoolPublisher {
 public:
  explicit BoolPublisher(BoolSubject& subject) : subject_(&subject) {}
  void subscribe(std::function<void(bool)> subscriber) {
    subject_->subscribe(std::move(subscriber));
  }

 private:
  BoolSubject* subject_;
};

// Reads and writes LaunchAtLogin's state; its signal fires before every change.
class LaunchAtLoginObservable {
 public:
  bool isEnabled() const;
  void setIsEnabled(bool value);
  ObjectWillChangePublisher& objectWillChange() { return objectWillChange_; }

 private:
  ObjectWillChangePublisher objectWillChange_;
};

// Key-value observing of "isEnabled": observers get (key, false) before and
// (key, true) after each change.
class LaunchAtLoginKVO {
 public:
  using Observer = std::function<void(const std::string& key, bool didChange)>;

  bool isEnabled() const;
  void setIsEnabled(bool value);
  void addObserver(Observer observer) { observers_.push_back(std::move(observer)); }
  void willChangeValueForKey(const std::string& key) { notify(key, false); }
  void didChangeValueForKey(const std::string& key) { notify(key, true); }

 private:
  void notify(const std::string& key, bool didChange) {
    for (auto& observer : observers_) observer(key, didChange);
  }
  std::vector<Observer> observers_;
};

// The toggle's model: an on-state bound to the shared observable's
// "isEnabled", and a label ("Launch at login" unless given).
class LaunchAtLoginToggle {
 public:
  LaunchAtLoginToggle();
  explicit LaunchAtLoginToggle(std::string label) : label_(std::move(label)) {}

  const std::string& label() const { return label_; }
  bool isOn() const;
  void setOn(bool value);

 private:
  std::string label_;
};

}  // namespace korvane

// The three ways to follow the login-item state, and the toggle bound to it:
// an observable object with an object-will-change signal, a key-value
// observing object with will-change and did-change notifications for
// "isEnabled", and a current-value publisher of the state.
//
// Thread: main thread, like the state they follow. Nothing here is locked.
// Notifications are delivered on the thread that sets the state,
// synchronously, in the order the subscribers subscribed.
//
// Every subscription returns a Cancellable; the subscriber is called until
// the Cancellable is cancelled or destroyed, never after. Subscribers may
// subscribe and cancel (themselves or others) from inside a notification:
//   - a subscriber cancelled during a send is not called by the rest of it
//     (one that is running finishes its call);
//   - a subscriber added during a send is not called by that send (a
//     BoolSubject subscriber still receives the current value, which is
//     already the one being sent, when it subscribes).
// A Cancellable may outlive its publisher; cancelling it then does nothing.
#pragma once

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace korvane {

// Ends a subscription when cancel() is called or when it is destroyed
// (Combine's AnyCancellable). Move-only; an empty one cancels nothing.
class [[nodiscard]] Cancellable {
 public:
  Cancellable() = default;
  explicit Cancellable(std::function<void()> cancel) : cancel_(std::move(cancel)) {}
  Cancellable(Cancellable&& other) noexcept : cancel_(std::exchange(other.cancel_, nullptr)) {}
  Cancellable& operator=(Cancellable&& other) noexcept;
  Cancellable(const Cancellable&) = delete;
  Cancellable& operator=(const Cancellable&) = delete;
  ~Cancellable() { cancel(); }

  // Ends the subscription; later calls do nothing.
  void cancel();

 private:
  std::function<void()> cancel_;
};

// The subscribers of one publisher, safe against subscribing and cancelling
// during send(): a send calls those subscribed when it began that are still
// subscribed when their turn comes.
template <typename... Args>
class SubscriberList {
 public:
  using Subscriber = std::function<void(Args...)>;

  // Adds `subscriber` at the end. `delivered`, when given, is called with it
  // once it is in the list (before the Cancellable is handed out).
  Cancellable add(Subscriber subscriber,
                  const std::function<void(const Subscriber&)>& delivered = nullptr) {
    auto record = std::make_shared<Record>(Record{std::move(subscriber), true});
    records_->push_back(record);
    if (delivered) delivered(record->call);
    return Cancellable([weak = std::weak_ptr<Records>(records_), record] {
      record->active = false;
      if (auto records = weak.lock()) std::erase(*records, record);
    });
  }

  void send(Args... args) {
    // The records stay alive until the loop ends, also when cancelled.
    const Records snapshot = *records_;
    for (const auto& record : snapshot) {
      if (record->active) record->call(args...);
    }
  }

 private:
  struct Record {
    Subscriber call;
    bool active;
  };
  using Records = std::vector<std::shared_ptr<Record>>;
  std::shared_ptr<Records> records_ = std::make_shared<Records>();
};

// A signal without a value (ObservableObjectPublisher).
class ObjectWillChangePublisher {
 public:
  Cancellable subscribe(std::function<void()> subscriber) {
    return subscribers_.add(std::move(subscriber));
  }
  void send() { subscribers_.send(); }

 private:
  SubscriberList<> subscribers_;
};

// A publisher that holds a current value: a new subscriber receives it at
// once, then every value sent (CurrentValueSubject).
class BoolSubject {
 public:
  explicit BoolSubject(bool initial) : value_(initial) {}
  Cancellable subscribe(std::function<void(bool)> subscriber) {
    return subscribers_.add(std::move(subscriber),
                            [this](const std::function<void(bool)>& added) { added(value_); });
  }
  void send(bool value) {
    value_ = value;
    subscribers_.send(value);
  }
  bool value() const { return value_; }

 private:
  bool value_;
  SubscriberList<bool> subscribers_;
};

// The subject seen from outside: subscribe only (AnyPublisher).
class BoolPublisher {
 public:
  explicit BoolPublisher(BoolSubject& subject) : subject_(&subject) {}
  Cancellable subscribe(std::function<void(bool)> subscriber) {
    return subject_->subscribe(std::move(subscriber));
  }

 private:
  BoolSubject* subject_;
};

class LaunchAtLogin;

// Reads and writes its LaunchAtLogin's state; its signal fires before every
// change.
class LaunchAtLoginObservable {
 public:
  explicit LaunchAtLoginObservable(LaunchAtLogin& state) : state_(&state) {}
  bool isEnabled() const;
  void setIsEnabled(bool value);
  ObjectWillChangePublisher& objectWillChange() { return objectWillChange_; }

 private:
  LaunchAtLogin* state_;
  ObjectWillChangePublisher objectWillChange_;
};

// Key-value observing of its LaunchAtLogin's "isEnabled": observers get
// (key, false) before and (key, true) after each change.
class LaunchAtLoginKVO {
 public:
  using Observer = std::function<void(const std::string& key, bool didChange)>;

  explicit LaunchAtLoginKVO(LaunchAtLogin& state) : state_(&state) {}
  bool isEnabled() const;
  void setIsEnabled(bool value);
  // Observes until the result is cancelled or destroyed (removeObserver).
  Cancellable addObserver(Observer observer) { return observers_.add(std::move(observer)); }
  void willChangeValueForKey(const std::string& key) { observers_.send(key, false); }
  void didChangeValueForKey(const std::string& key) { observers_.send(key, true); }

 private:
  LaunchAtLogin* state_;
  SubscriberList<const std::string&, bool> observers_;
};

// The toggle's model: an on-state bound to `observable`'s "isEnabled" (which
// must outlive it), and a label ("Launch at login" unless given).
class LaunchAtLoginToggle {
 public:
  explicit LaunchAtLoginToggle(LaunchAtLoginObservable& observable,
                               std::string label = "Launch at login")
      : observable_(&observable), label_(std::move(label)) {}

  const std::string& label() const { return label_; }
  bool isOn() const;
  void setOn(bool value);

 private:
  LaunchAtLoginObservable* observable_;
  std::string label_;
};

}  // namespace korvane

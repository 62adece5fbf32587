// The one-shot reply callback of a method call.
//
// Thread: main thread only. A FlutterResult must be called on the main thread,
// and the reply it makes is sent from there.
//
// Exactly once: the first call sends the reply; a later call is a programming
// error (asserted in debug builds, ignored otherwise). If every copy is
// destroyed without a call, the not-implemented reply (no data) is sent, so the
// caller on the other side still gets its one reply.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>

#include "platform/embedding/encodable_value.h"

namespace korvane {

// A channel error object (error envelope).
struct FlutterError {
  std::string code;
  std::optional<std::string> message;
  EncodableValue details;
  friend bool operator==(const FlutterError&, const FlutterError&) = default;
};

// The marker for a method the handler does not know.
struct FlutterMethodNotImplementedMarker {
  friend bool operator==(FlutterMethodNotImplementedMarker, FlutterMethodNotImplementedMarker) {
    return true;
  }
};
inline constexpr FlutterMethodNotImplementedMarker FlutterMethodNotImplemented{};

// What a result callback may be given.
using FlutterResultValue =
    std::variant<EncodableValue, FlutterError, FlutterMethodNotImplementedMarker>;

class FlutterResult {
 public:
  using Sink = std::function<void(FlutterResultValue)>;

  // `sink` receives the one reply; it runs on the thread that calls the result.
  explicit FlutterResult(Sink sink);

  // Copies share one reply: whichever copy is called first answers.
  void operator()(FlutterResultValue value) const;

  // Whether a reply has been made through any copy.
  bool replied() const;

 private:
  struct State;
  std::shared_ptr<State> state_;
};

}  // namespace korvane

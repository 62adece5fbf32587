// A named method channel speaking the standard method codec, both ways: calls
// from the interface reach the handler, and invokeMethod() calls the
// interface.
//
// Thread: main thread only. The handler and reply callbacks are called on the
// main thread.
#pragma once

#include <functional>
#include <string>

#include "platform/embedding/binary_messenger.h"
#include "platform/embedding/method_call.h"
#include "platform/embedding/method_result.h"

namespace korvane {

using FlutterMethodCallHandler = std::function<void(const FlutterMethodCall&, FlutterResult)>;

// The interface's answer to invokeMethod(): the success value, a FlutterError,
// or FlutterMethodNotImplemented when the reply is empty (no interface, no
// handler there, an unknown method) or cannot be decoded.
using FlutterReplyCallback = std::function<void(FlutterResultValue)>;

class FlutterMethodChannel {
 public:
  // A channel named `name` on `messenger` with the standard method codec. The
  // messenger must outlive every handler installed through the channel.
  static FlutterMethodChannel methodChannelWithName(std::string name, BinaryMessenger& messenger);

  // Installs `handler` on the messenger. It stays installed after this channel
  // object is gone. Each incoming message is decoded as a method call; one that
  // cannot be decoded is answered with no reply data and never reaches the
  // handler. The handler's result is encoded as a success or error envelope,
  // or as no data for FlutterMethodNotImplemented.
  void setMethodCallHandler(FlutterMethodCallHandler handler);

  // Calls `method` with `arguments` on the interface's side of this channel.
  // `callback`, when given, runs exactly once, on the main thread and never
  // inside invokeMethod().
  void invokeMethod(const std::string& method, EncodableValue arguments = EncodableValue(),
                    FlutterReplyCallback callback = nullptr);

  const std::string& name() const { return name_; }

 private:
  FlutterMethodChannel(std::string name, BinaryMessenger& messenger)
      : name_(std::move(name)), messenger_(&messenger) {}

  std::string name_;
  BinaryMessenger* messenger_;
};

}  // namespace korvane

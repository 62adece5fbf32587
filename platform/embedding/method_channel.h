// A named method channel speaking the standard method codec.
//
// Thread: main thread only. The handler is called on the main thread.
#pragma once

#include <functional>
#include <string>

#include "platform/embedding/binary_messenger.h"
#include "platform/embedding/method_call.h"
#include "platform/embedding/method_result.h"

namespace korvane {

using FlutterMethodCallHandler = std::function<void(const FlutterMethodCall&, FlutterResult)>;

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

  const std::string& name() const { return name_; }

 private:
  FlutterMethodChannel(std::string name, BinaryMessenger& messenger)
      : name_(std::move(name)), messenger_(&messenger) {}

  std::string name_;
  BinaryMessenger* messenger_;
};

}  // namespace korvane

// Plug-in registration on an engine: a registry hands out one registrar per
// plug-in key; a plug-in registers itself with its registrar.
//
// Thread: main thread only.
#pragma once

#include <memory>
#include <string>

#include "platform/embedding/binary_messenger.h"

namespace korvane {

// What a plug-in is given to register itself: its key and the engine's messenger.
class FlutterPluginRegistrar {
 public:
  FlutterPluginRegistrar(std::string key, BinaryMessenger& messenger)
      : key_(std::move(key)), messenger_(&messenger) {}

  const std::string& key() const { return key_; }
  BinaryMessenger& messenger() const { return *messenger_; }

 private:
  std::string key_;
  BinaryMessenger* messenger_;
};

class FlutterPluginRegistry {
 public:
  virtual ~FlutterPluginRegistry() = default;
  // A registrar for the plug-in `key`.
  virtual std::shared_ptr<FlutterPluginRegistrar> registrarForPlugin(const std::string& key) = 0;
};

}  // namespace korvane

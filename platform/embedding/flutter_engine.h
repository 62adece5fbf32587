// The Flutter engine as the shell and the plug-ins reach it: the messenger
// its channels run on. The backend makes it (the Flutter view controller owns
// one) and decides where the interface runs.
//
// Thread: main thread only.
#pragma once

#include "platform/embedding/binary_messenger.h"

namespace korvane {

class FlutterEngine {
 public:
  virtual ~FlutterEngine() = default;

  // The engine's one messenger, the same on every call. Handlers may be
  // installed before or after the engine starts.
  virtual BinaryMessenger& binaryMessenger() = 0;
};

}  // namespace korvane

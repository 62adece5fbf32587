// A decoded method call. Thread: any (a plain value).
#pragma once

#include <string>

#include "platform/embedding/encodable_value.h"

namespace korvane {

struct FlutterMethodCall {
  std::string method;
  // The decoded arguments; null when the call carries none.
  EncodableValue arguments;
};

}  // namespace korvane

// The maps the install-location operations answer with: string keys, values
// of the channel's value type, entries in a fixed order. Thread: any.
#pragma once

#include "platform/embedding/encodable_value.h"

namespace korvane {

using ResultMap = EncodableMap;

}  // namespace korvane

// How the install-location methods read their arguments.
//
// A call's arguments count only when they are a non-empty map whose keys are
// all strings; anything else (null, a list, a string, a number, an empty map,
// a map with one non-string key) makes the call one without arguments. Within
// such a map an argument is present only when its key exists and its value is
// a string; a null, number, boolean, list or map there makes it absent. Present
// arguments are passed on exactly as received: not trimmed, not expanded, not
// made absolute.
//
// Thread: any (pure functions).
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/embedding/encodable_value.h"

namespace korvane {

// The argument map of `arguments`, or nullptr when the call has no arguments.
const EncodableMap* argumentMap(const EncodableValue& arguments);

// The string argument under `key`, or nullopt when it is absent.
std::optional<std::string> stringArgument(const EncodableValue& arguments, std::string_view key);

}  // namespace korvane

// Reads arbitrary bytes as a property list: the checks, then libplist on
// whatever passes them. Any crash, sanitizer report, hang or runaway memory
// is a finding. Bytes that pass the checks must stay within their limits in
// what the parser builds, so the walk here is also bounded.
#include <cstdint>
#include <span>

#include "platform/linux/files/property_list_check.h"
#include "platform/property_list.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> input(data, size);
  // Both checks on every input, whatever its first bytes say.
  (void)korvane::checkBinaryPropertyList(input);
  (void)korvane::checkXmlPropertyList(input);
  (void)korvane::parsePropertyListStrings(input);
  return 0;
}

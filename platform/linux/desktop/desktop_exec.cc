#include "platform/linux/desktop/desktop_exec.h"

namespace korvane {

std::string quotedExecArgument(std::string_view argument) {
  constexpr std::string_view reserved = " \t\n\"'\\><~|&;$*?#()`";
  const bool quote = argument.empty() || argument.find_first_of(reserved) != std::string_view::npos;
  std::string text;
  text.reserve(argument.size() + 2);
  if (quote) text.push_back('"');
  for (char c : argument) {
    if (quote && (c == '"' || c == '`' || c == '$' || c == '\\')) text.push_back('\\');
    if (c == '%') text.push_back('%');
    text.push_back(c);
  }
  if (quote) text.push_back('"');
  return text;
}

}  // namespace korvane
